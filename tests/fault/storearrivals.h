#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

// The pushes of a PushPacer a store has taken, read from its sandbox as they come: the
// packages in the order the store made their rows, the notices it gave (one per push frame
// handled, so a duplicate shows there) and the longest time between two arrivals. Read on a
// thread of its own: a look may wait for the store's commit, the GUI thread must not.
class StoreArrivals
{
public:
    explicit StoreArrivals(const QString &sandboxRoot);
    ~StoreArrivals();
    StoreArrivals(const StoreArrivals &) = delete;
    StoreArrivals &operator=(const StoreArrivals &) = delete;

    QStringList packages() const;
    int count() const;
    int notices() const;
    // Since the start or the last call of restartGaps.
    qint64 longestGapMs() const;
    void restartGaps();

private:
    void look();

    const QString m_root;
    mutable std::mutex m_lock;
    QStringList m_packages;
    qint64 m_lastArrival = -1; // ms on the monotonic clock
    qint64 m_longestGap = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};
