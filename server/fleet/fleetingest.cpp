#include "fleet/fleetingest.h"

#include "fleet/fleetadvisories.h"
#include "fleet/fleetpage.h"

#include <QDateTime>
#include <QMap>

#include <chrono>

namespace
{
// Most reports stored in one transaction.
constexpr int BatchLimit = 5000;
} // namespace

FleetIngest::FleetIngest(const Settings &settings, Acknowledge acknowledge, Log log)
    : m_settings(settings), m_acknowledge(std::move(acknowledge)), m_log(std::move(log))
{
}

FleetIngest::~FleetIngest()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_writer.joinable())
        m_writer.join();
}

qint64 FleetIngest::nowMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool FleetIngest::start(QString *error)
{
    if (!m_db.open(m_settings.database, false, error))
        return false;
    m_writer = std::thread([this] { write(); });
    return true;
}

bool FleetIngest::allow(const QString &desktop)
{
    const qint64 now = nowMs();
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_bucketOf.find(desktop);
    if (found != m_bucketOf.end()) {
        m_buckets.splice(m_buckets.end(), m_buckets, *found);
    } else {
        if (int(m_buckets.size()) >= qMax(1, m_settings.maxBuckets)) {
            m_bucketOf.remove(m_buckets.front().desktop);
            m_buckets.pop_front();
        }
        m_buckets.push_back(Bucket{desktop, double(m_settings.burst), now});
        found = m_bucketOf.insert(desktop, std::prev(m_buckets.end()));
    }
    Bucket &bucket = **found;
    bucket.tokens = qMin(double(m_settings.burst),
                         bucket.tokens + (now - bucket.lastMs) * m_settings.perSecond / 1000.0);
    bucket.lastMs = now;
    if (bucket.tokens < 1.0) {
        ++bucket.dropped;
        if (now - bucket.saidMs >= 60000) {
            m_log(QStringLiteral("reports from %1 over the rate: %2 dropped")
                      .arg(desktop)
                      .arg(bucket.dropped));
            bucket.saidMs = now;
            bucket.dropped = 0;
        }
        return false;
    }
    bucket.tokens -= 1.0;
    return true;
}

bool FleetIngest::submit(FleetDatabase::Report report)
{
    const qint64 now = nowMs();
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_queue.size() >= m_settings.queueLimit ||
        m_queuedBytes + report.bytes > m_settings.queueBytes) {
        if (now - m_fullSaidMs >= 60000) {
            m_log(QStringLiteral("report queue full (%1): reports dropped")
                      .arg(m_settings.queueLimit));
            m_fullSaidMs = now;
        }
        return false;
    }
    m_queuedBytes += report.bytes;
    m_queue.append(std::move(report));
    ++m_submitted;
    m_changed.notify_all();
    return true;
}

void FleetIngest::flush()
{
    std::unique_lock<std::mutex> lock(m_lock);
    const quint64 target = m_submitted;
    m_changed.wait(lock, [&] { return m_stored >= target || !m_writer.joinable(); });
}

void FleetIngest::refreshPage()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_pageOwed = true;
    m_changed.notify_all();
}

void FleetIngest::setRequiredWork(FleetPage::RequiredWork requiredWork)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_requiredWork = std::move(requiredWork);
    m_pageOwed = true;
    m_changed.notify_all();
}

void FleetIngest::setAdvisories(QVector<Advisory> advisories)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_advisories = std::move(advisories);
    m_pageOwed = true;
    m_changed.notify_all();
}

void FleetIngest::writePage()
{
    FleetPage::RequiredWork requiredWork;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        requiredWork = m_requiredWork;
    }
    QString error;
    if (!FleetPage::write(m_db.handle(), QDateTime::currentSecsSinceEpoch(), m_settings.reportDir,
                          &error, m_settings.groupOf, requiredWork))
        m_log(QStringLiteral("status page: ") + error);
    m_pageDue = false;
    m_pageWrittenMs = nowMs();
}

void FleetIngest::write()
{
    for (;;) {
        QVector<FleetDatabase::Report> batch;
        std::optional<QVector<Advisory>> advisories;
        bool stop = false;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            const auto ready = [&] { return m_stop || !m_queue.isEmpty() || m_pageOwed; };
            // A page owed waits for its interval, not for the next report.
            if (m_pageDue && !m_settings.reportDir.isEmpty()) {
                const qint64 wait = m_pageWrittenMs + m_settings.reportIntervalMs - nowMs();
                m_changed.wait_for(lock, std::chrono::milliseconds(qMax<qint64>(0, wait)), ready);
            } else {
                m_changed.wait(lock, ready);
            }
            stop = m_stop;
            m_pageDue = m_pageDue || m_pageOwed;
            m_pageOwed = false;
            advisories.swap(m_advisories);
            const int taken = qMin(int(m_queue.size()), BatchLimit);
            batch = m_queue.mid(0, taken);
            m_queue.remove(0, taken);
            for (const FleetDatabase::Report &report : batch)
                m_queuedBytes -= report.bytes;
        }
        QString why;
        if (advisories && !FleetAdvisories::replace(m_db.handle(), *advisories, &why))
            m_log(QStringLiteral("fleet database: advisories not stored: ") + why);
        if (!batch.isEmpty()) {
            QString error;
            const bool stored = m_db.store(batch, m_settings.resultDays, &error);
            if (!stored)
                m_log(QStringLiteral("fleet database: %1 report(s) not stored: %2")
                          .arg(batch.size())
                          .arg(error));
            else {
                m_pageDue = true;
                // One acknowledgement per desktop for what it sent in this batch.
                QMap<QString, QStringList> ids;
                for (const FleetDatabase::Report &report : qAsConst(batch))
                    ids[report.desktop] << report.frame.id();
                for (auto it = ids.cbegin(); it != ids.cend(); ++it)
                    m_acknowledge(it.key(), it.value());
            }
            std::lock_guard<std::mutex> guard(m_lock);
            m_stored += quint64(batch.size());
            m_changed.notify_all();
        }
        if (m_pageDue && !m_settings.reportDir.isEmpty() &&
            nowMs() - m_pageWrittenMs >= m_settings.reportIntervalMs)
            writePage();
        if (stop) {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_queue.isEmpty())
                return;
        }
    }
}
