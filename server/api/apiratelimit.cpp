#include "api/apiratelimit.h"

#include <QtGlobal>

bool ApiRateLimit::take(const QString &name, qint64 nowMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_buckets.find(name);
    if (found == m_buckets.end())
        found = m_buckets.insert(name, Bucket{m_burst, nowMs});
    Bucket &bucket = *found;
    // A clock that went back refills nothing.
    const qint64 elapsed = qMax<qint64>(0, nowMs - bucket.atMs);
    bucket.calls = qMin(m_burst, bucket.calls + double(elapsed) * m_rate / 1000.0);
    bucket.atMs = qMax(bucket.atMs, nowMs);
    if (bucket.calls < 1)
        return false;
    bucket.calls -= 1;
    return true;
}
