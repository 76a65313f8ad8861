#include "sync/iconfetchpool.h"

#include "sync/httpfetch.h"
#include "sync/icondigest.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

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

void IconFetchPool::fetch(const QString &url, const QString &target)
{
    queue({url, target, QString()});
}

void IconFetchPool::fetchChecked(const QString &url, const QString &target, const QString &digest)
{
    queue({url, target, digest});
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

void IconFetchPool::fetchBatch(const std::vector<Job> &batch)
{
    // A folder of this fetch's own beside the icons (renames stay on one file system); no
    // icon name holds "~".
    QByteArray folder =
        QFile::encodeName(QFileInfo(batch.front().target).path()) + "/~fetch-XXXXXX";
    if (!::mkdtemp(folder.data())) {
        for (const Job &job : batch)
            finish(job, QString());
        return;
    }
    const QString directory = QFile::decodeName(folder);
    const QString files = directory + QStringLiteral("/files");
    QFile list(directory + QStringLiteral("/urls"));
    bool listed = QDir().mkdir(files) && list.open(QIODevice::WriteOnly);
    for (const Job &job : batch)
        listed = listed && list.write(job.url.toUtf8() + '\n') > 0;
    list.close();
    bool cut = false;
    if (listed)
        HttpFetch::run(HttpFetch::listCommand(files, list.fileName(), HttpFetch::MaxIconBytes),
                       QString(), &cut);
    // wget fails as a whole when one of them does: each file tells for itself. A batch cut
    // at the size bound holds a partial file: none of it is kept.
    for (const Job &job : batch) {
        const QString download = files + QLatin1Char('/') + QFileInfo(job.target).fileName();
        finish(job, listed && !cut && QFileInfo(download).isFile() ? download : QString());
    }
    QDir(directory).removeRecursively();
}

void IconFetchPool::finish(const Job &job, const QString &download)
{
    const QByteArray from = QFile::encodeName(download);
    const QByteArray to = QFile::encodeName(job.target);
    if (job.digest.isEmpty()) {
        // A failed fetch leaves no file: the next frame naming the icon fetches it again.
        if (download.isEmpty() || ::rename(from.constData(), to.constData()) != 0)
            QFile::remove(job.target);
        return;
    }
    if (download.isEmpty())
        return;
    if (IconDigest::ofFile(download) == job.digest) {
        // Under the lock: a newer picture asked for meanwhile is not undone by this one.
        std::lock_guard<std::mutex> guard(m_lock);
        // Over the old picture at once (QFile::rename would not replace it).
        if (m_wanted.value(job.target) != job.digest ||
            ::rename(from.constData(), to.constData()) == 0)
            return;
    }
    qWarning().noquote()
        << QStringLiteral("icon %1 removed: not the picture the catalog signed").arg(job.target);
}

void IconFetchPool::queue(const Job &job)
{
    // An unchecked icon goes at once; a checked one only when its replacement is renamed over it.
    if (job.digest.isEmpty())
        QFile::remove(job.target);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!job.digest.isEmpty())
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

bool IconFetchPool::takeJobs(std::vector<Job> *batch)
{
    for (auto next = m_queue.begin();
         next != m_queue.end() && batch->size() < std::size_t(BatchSize);) {
        if (m_running.contains(next->target)) {
            ++next;
            continue;
        }
        batch->push_back(*next);
        m_running.insert(next->target);
        next = m_queue.erase(next);
    }
    return !batch->empty();
}

void IconFetchPool::work()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        std::vector<Job> batch;
        m_wake.wait(lock, [&] { return m_stopping || takeJobs(&batch); });
        if (m_stopping && batch.empty())
            return;
        lock.unlock();
        fetchBatch(batch);
        lock.lock();
        for (const Job &job : batch) {
            // Under the lock: whoever replaces it knows no call of the old one is still running.
            if (m_fetchEnded)
                m_fetchEnded();
            m_running.remove(job.target);
        }
        // A target that waited for these may go now.
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
