#include "storearrivals.h"

#include "tests/core/sync/catalogfixture.h"

#include <chrono>

namespace
{

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

StoreArrivals::StoreArrivals(const QString &sandboxRoot) : m_root(sandboxRoot)
{
    m_reader = std::thread([this] {
        while (!m_stop) {
            look();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
}

StoreArrivals::~StoreArrivals()
{
    m_stop = true;
    m_reader.join();
}

QStringList StoreArrivals::packages() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_packages;
}

int StoreArrivals::count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_packages.size();
}

int StoreArrivals::notices() const
{
    return CatalogFixture::readLines(m_root + QStringLiteral("/.sandbox/notifications.log")).size();
}

qint64 StoreArrivals::longestGapMs() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_longestGap;
}

void StoreArrivals::restartGaps()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_longestGap = 0;
}

void StoreArrivals::look()
{
    const QVector<CatalogFixture::Row> rows = CatalogFixture::query(
        m_root + QStringLiteral("/opt/corvane/db/server_software.db"),
        QStringLiteral("select s_name from softwares where s_name like 'tick-%' order by rowid"));
    std::lock_guard<std::mutex> guard(m_lock);
    // Rows are never taken out here: a shorter answer is a read that met the store's write.
    if (rows.size() <= m_packages.size())
        return;
    const qint64 now = nowMs();
    if (m_lastArrival >= 0)
        m_longestGap = qMax(m_longestGap, now - m_lastArrival);
    m_lastArrival = now;
    m_packages.clear();
    for (const CatalogFixture::Row &row : rows)
        m_packages << row.value(QStringLiteral("s_name"));
}
