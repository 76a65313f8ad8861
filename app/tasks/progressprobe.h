#pragma once

#include "tasks/progressmeter.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QThread;

// Runs the progress measurements of every downloading row on one thread of its own, so that
// their shell commands never hold up the GUI thread, and one at a time, as they share their
// scratch files. A result reaches its row through the GUI thread's event loop, and only while
// the row still exists.
class ProgressProbe : public QObject
{
    Q_OBJECT

public:
    // The application's probe, made on first use; it goes with the application.
    static ProgressProbe &instance();
    ~ProgressProbe() override;

    void measure(QObject *row, const ProgressQuery &query,
                 std::function<void(const ProgressReading &)> done);

signals:
    void measureRequested(quint64 token, const ProgressQuery &query);

private:
    ProgressProbe();
    void deliver(quint64 token, const ProgressReading &reading);

    struct Pending {
        QPointer<QObject> row;
        std::function<void(const ProgressReading &)> done;
    };

    QThread *m_thread;
    QObject *m_worker;
    QHash<quint64, Pending> m_pending;
    quint64 m_lastToken = 0;
};
