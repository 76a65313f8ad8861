#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs the icon fetches on a few threads of its own, so that storing a frame never waits for
// them. Each thread takes up to BatchSize waiting icons and fetches them with one wget (its
// start-up costs more than a small icon) into a private folder beside the icons, from which
// each is renamed into place, a checked one only once its digest matches. One target is
// fetched by one command at a time, and a target asked for again while it still waits its
// turn is queued once.
class IconFetchPool
{
public:
    // Fetches that run at once: enough to overlap wget's start-up and the server's answer,
    // few enough to leave the frames their share of a small machine.
    static constexpr int Workers = 4;
    static constexpr int BatchSize = 64;

    IconFetchPool() = default;
    // Drops what has not started and waits for the running fetches, which are bounded.
    ~IconFetchPool();
    IconFetchPool(const IconFetchPool &) = delete;
    IconFetchPool &operator=(const IconFetchPool &) = delete;

    // Queues url for target (whose file name is url's last part). The old target is removed
    // at once: an icon whose fetch is dropped or cut short has no file then, and the next
    // frame naming it fetches it again instead of keeping a stale picture for good.
    void fetch(const QString &url, const QString &target);
    // The same for a checked icon: the download becomes target only when its SHA-256 is
    // digest and no later call asked for another picture; otherwise it is removed before
    // anything can read it, with a line. The old target stays until then.
    void fetchChecked(const QString &url, const QString &target, const QString &digest);
    // Target already holds the picture of digest: a fetch still queued for it is dropped and
    // one still running is not renamed over it.
    void keep(const QString &target, const QString &digest);
    // Until nothing is queued or running; false when timeoutMs passed first.
    bool waitForIdle(int timeoutMs);
    // Called on a fetching thread after each fetch, whether it succeeded or not. Once it is
    // replaced (by nothing, say) the old one is never called again.
    void setFetchEnded(std::function<void()> fetchEnded);

private:
    struct Job {
        QString url;
        QString target;
        QString digest; // empty: not checked
    };

    void queue(const Job &job);
    // Fetches the jobs with one wget; false for each whose file did not come.
    void fetchBatch(const std::vector<Job> &batch);
    void finish(const Job &job, const QString &download);

    void work();
    bool takeJobs(std::vector<Job> *batch); // with m_lock held

    std::mutex m_lock;
    std::condition_variable m_wake; // a job was queued, a target freed, or the pool stops
    std::condition_variable m_idle; // a fetch ended
    std::deque<Job> m_queue;
    QSet<QString> m_running;          // targets being fetched
    QHash<QString, QString> m_wanted; // checked target -> the digest asked for last
    std::vector<std::thread> m_threads;
    bool m_stopping = false;
    std::function<void()> m_fetchEnded;
};
