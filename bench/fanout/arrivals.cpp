#include "arrivals.h"

Arrivals::Arrivals(int receivers) : m_times(size_t(receivers)) {}

void Arrivals::note(int receiver, Clock::time_point time)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_times[size_t(receiver)].push_back(time);
    m_changed.notify_all();
}

bool Arrivals::waitForAll(int n, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto &times : m_times)
            if (times.size() < size_t(n))
                return false;
        return true;
    });
}

Arrivals::Clock::time_point Arrivals::lastOf(int n) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    Clock::time_point last{};
    for (const auto &times : m_times)
        if (times.size() >= size_t(n) && times[size_t(n) - 1] > last)
            last = times[size_t(n) - 1];
    return last;
}

long long Arrivals::received() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    long long count = 0;
    for (const auto &times : m_times)
        count += (long long)times.size();
    return count;
}
