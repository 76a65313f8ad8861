#include "sync/iconfetchpool.h"

#include "sync/httpfetch.h"

#include <QFile>

#include <algorithm>
#include <chrono>

IconFetchPool::~IconFetchPool()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

void IconFetchPool::fetch(const QString &command, const QString &target)
{
    QFile::remove(target);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto queued = std::find_if(m_queue.begin(), m_queue.end(),
                                   [&](const Job &job) { return job.target == target; });
        if (queued != m_queue.end())
            queued->command = command;
        else
            m_queue.push_back({command, target});
        // Threads start with the first fetches, so a receiver that fetches nothing has none.
        const std::size_t outstanding = m_queue.size() + std::size_t(m_running.size());
        if (m_threads.size() < std::size_t(Workers) && outstanding > m_threads.size())
            m_threads.emplace_back(&IconFetchPool::work, this);
    }
    m_wake.notify_one();
}

bool IconFetchPool::takeJob(Job *job)
{
    auto next = std::find_if(m_queue.begin(), m_queue.end(),
                             [&](const Job &queued) { return !m_running.contains(queued.target); });
    if (next == m_queue.end())
        return false;
    *job = *next;
    m_queue.erase(next);
    m_running.insert(job->target);
    return true;
}

void IconFetchPool::work()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        Job job;
        m_wake.wait(lock, [&] { return m_stopping || takeJob(&job); });
        if (m_stopping && job.target.isEmpty())
            return;
        lock.unlock();
        // wget -O leaves an empty file behind when it fails; without removing it the icon
        // would never be fetched again.
        if (!HttpFetch::run(job.command))
            QFile::remove(job.target);
        lock.lock();
        // Under the lock: whoever replaces it knows no call of the old one is still running.
        if (m_fetchEnded)
            m_fetchEnded();
        m_running.remove(job.target);
        // A target that waited for this one may go now.
        m_wake.notify_all();
        m_idle.notify_all();
    }
}

bool IconFetchPool::waitForIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return m_queue.empty() && m_running.isEmpty(); });
}

void IconFetchPool::setFetchEnded(std::function<void()> fetchEnded)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_fetchEnded = std::move(fetchEnded);
}
