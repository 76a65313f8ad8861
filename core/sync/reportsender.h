#pragma once

#include "records/paths.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

// Sends the outbox's reports to client-conf:serverip on a thread of its own, oldest first:
// new reports at once, the ones still unacknowledged again every resendMs and at each join.
// The catalog server keeps each report once, so a report sent twice costs only bytes.
class ReportSender : public QThread
{
    Q_OBJECT

public:
    static constexpr int DefaultResendMs = 60000;
    // Reports sent in one round; the rest wait for the next.
    static constexpr int RoundSize = 200;

    explicit ReportSender(const QString &outboxPath = Paths::reportOutbox(),
                          int resendMs = DefaultResendMs);
    // Stops and waits for the thread.
    ~ReportSender() override;

    void stop();

    // New reports are in the outbox: the running sender sends them now. From any thread.
    static void reportsAdded();
    // The store has joined: the running sender records the inventory and sends every report
    // again. From any thread; nothing here blocks.
    static void joined();
    // A whole catalog has been applied: the running sender records the inventory anew.
    static void catalogApplied();

signals:
    // A round has handed count reports to the transport (a round sending none says nothing).
    void sent(int count);

protected:
    void run() override;

private:
    void wake(bool inventory, bool resendAll);

    const QString m_outboxPath;
    const int m_resendMs;
    QMutex m_lock;
    QWaitCondition m_changed;
    bool m_stop = false;             // guarded by m_lock
    bool m_added = true;             // guarded by m_lock; what waits from before goes at once
    bool m_inventory = false;        // guarded by m_lock
    bool m_resendAll = false;        // guarded by m_lock
    QHash<QString, qint64> m_sentAt; // report id, ms on m_clock; the thread's own
    QElapsedTimer m_clock;
};
