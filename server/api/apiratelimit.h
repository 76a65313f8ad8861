#pragma once

#include <QHash>
#include <QString>

#include <mutex>

// Calls a second per token: a bucket of burst calls, refilled at rate a second. Keyed by the
// token's name, so there are no more buckets than tokens issued.
class ApiRateLimit
{
public:
    ApiRateLimit(double rate, double burst) : m_rate(rate), m_burst(burst) {}
    // Takes one call for name at nowMs; false when its bucket is empty.
    bool take(const QString &name, qint64 nowMs);

private:
    struct Bucket {
        double calls = 0;
        qint64 atMs = 0;
    };
    const double m_rate;
    const double m_burst;
    std::mutex m_lock;
    QHash<QString, Bucket> m_buckets;
};
