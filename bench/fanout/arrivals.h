#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

// When each of a number of receivers got its n-th message: what the fan-out benchmark's
// receivers note, on the monotonic clock every process shares.
class Arrivals
{
public:
    using Clock = std::chrono::steady_clock;

    explicit Arrivals(int receivers);

    // Receiver r got one more message at time.
    void note(int receiver, Clock::time_point time);
    // Waits until every receiver has n messages; false when timeoutMs passes first.
    bool waitForAll(int n, int timeoutMs);
    // The latest time at which a receiver got its n-th message (all have it).
    Clock::time_point lastOf(int n) const;
    // Every message noted, all receivers together.
    long long received() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::vector<Clock::time_point>> m_times; // per receiver, per message
};
