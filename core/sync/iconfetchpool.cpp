#include "sync/iconfetchpool.h"

#include "sync/httpfetch.h"
#include "sync/icondigest.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>

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
    queue({command, target, QString(), QString()});
}

void IconFetchPool::fetchChecked(const QString &command, const QString &download,
                                 const QString &target, const QString &digest)
{
    queue({command, target, download, digest});
}

void IconFetchPool::keep(const QString &target, const QString &digest)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_wanted.insert(target, digest);
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [&](const Job &waiting) { return waiting.target == target; }),
                  m_queue.end());
    m_idle.notify_all();
}

void IconFetchPool::finish(const Job &job, bool fetched)
{
    if (job.download.isEmpty()) {
        // wget -O leaves an empty file behind when it fails; without removing it the icon
        // would never be fetched again.
        if (!fetched)
            QFile::remove(job.target);
        return;
    }
    if (fetched && IconDigest::ofFile(job.download) == job.digest) {
        // Under the lock: a newer picture asked for meanwhile is not undone by this one.
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_wanted.value(job.target) != job.digest) {
            QFile::remove(job.download);
            return;
        }
        // Over the old picture at once (QFile::rename would not replace it).
        if (::rename(QFile::encodeName(job.download).constData(),
                     QFile::encodeName(job.target).constData()) == 0)
            return;
    }
    if (fetched)
        qWarning().noquote() << QStringLiteral(
                                    "icon %1 removed: not the picture the catalog signed")
                                    .arg(job.target);
    QFile::remove(job.download);
}

void IconFetchPool::queue(const Job &job)
{
    // An unchecked icon goes at once; a checked one only when its replacement is renamed over it.
    if (job.download.isEmpty())
        QFile::remove(job.target);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!job.download.isEmpty())
            m_wanted.insert(job.target, job.digest);
        auto queued = std::find_if(m_queue.begin(), m_queue.end(), [&](const Job &waiting) {
            return waiting.target == job.target;
        });
        if (queued != m_queue.end())
            *queued = job;
        else
            m_queue.push_back(job);
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
        finish(job,
               HttpFetch::run(job.command, job.download.isEmpty() ? job.target : job.download));
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
