#include "sync/reportsender.h"

#include "records/clientconfig.h"
#include "sync/reportoutbox.h"
#include "sync/synclog.h"
#include "vqs.h"

#include <QMutexLocker>
#include <QSet>

namespace
{
QMutex runningLock;
ReportSender *running = nullptr; // guarded by runningLock
} // namespace

ReportSender::ReportSender(const QString &outboxPath, int resendMs)
    : m_outboxPath(outboxPath), m_resendMs(resendMs)
{
}

ReportSender::~ReportSender()
{
    stop();
    wait();
}

void ReportSender::stop()
{
    QMutexLocker locker(&m_lock);
    m_stop = true;
    m_changed.wakeAll();
}

void ReportSender::wake(bool inventory, bool resendAll)
{
    QMutexLocker locker(&m_lock);
    m_added = true;
    m_inventory = m_inventory || inventory;
    m_resendAll = m_resendAll || resendAll;
    m_changed.wakeAll();
}

void ReportSender::reportsAdded()
{
    QMutexLocker locker(&runningLock);
    if (running)
        running->wake(false, false);
}

void ReportSender::joined()
{
    QMutexLocker locker(&runningLock);
    if (running)
        running->wake(true, true);
}

void ReportSender::catalogApplied()
{
    QMutexLocker locker(&runningLock);
    if (running)
        running->wake(true, false);
}

void ReportSender::run()
{
    {
        QMutexLocker locker(&runningLock);
        running = this;
    }
    m_clock.start();
    ReportOutbox outbox(m_outboxPath);
    for (;;) {
        bool inventory = false, join = false;
        {
            QMutexLocker locker(&m_lock);
            if (!m_stop && !m_added)
                m_changed.wait(&m_lock, static_cast<unsigned long>(m_resendMs));
            if (m_stop)
                break;
            inventory = m_inventory;
            join = m_resendAll;
            m_inventory = m_resendAll = m_added = false;
        }
        if (inventory)
            outbox.recordInventory();
        const QByteArray server = ClientConfig::serverip().toUtf8();
        const qint64 now = m_clock.elapsed();
        QHash<QString, qint64> sentAt;
        int sent = 0;
        for (const ReportOutbox::Entry &entry : outbox.pending(RoundSize)) {
            const qint64 last = m_sentAt.value(entry.id, -1);
            // Sent a moment ago: its acknowledgement may still be on its way.
            if (!join && last >= 0 && now - last < m_resendMs) {
                sentAt.insert(entry.id, last);
                continue;
            }
            vqs_message_send(server.constData(), entry.frame.toUtf8().constData());
            sentAt.insert(entry.id, now);
            ++sent;
        }
        m_sentAt = sentAt;
        if (sent) {
            qCDebug(syncLog) << sent << "report(s) sent to" << server;
            emit this->sent(sent);
        }
    }
    QMutexLocker locker(&runningLock);
    if (running == this)
        running = nullptr;
}
