#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CatalogServer;
class RepositoryFollower;

// The catalog server's threads besides the console: the receiver, the repository's follower
// and the periodic work (signing the catalog file anew, heartbeats). Each ends at stop(),
// which joins them all; the destructor stops.
class ServingThreads
{
public:
    explicit ServingThreads(CatalogServer *server);
    ~ServingThreads();

    // Starts receiving; false when the transport cannot receive (no thread left then).
    bool startReceiver();
    // Follows the repository until stop().
    void startFollower(RepositoryFollower *follower);
    // Runs work every `seconds` until stop().
    void every(qint64 seconds, std::function<void()> work);
    // Until the receiver ends, which it does only at stop() (or as the process is killed).
    void waitForReceiver();
    void stop();

private:
    // Waits ms milliseconds; false, at once, when stopping.
    bool rest(qint64 ms);

    CatalogServer *const m_server;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stopping = false;     // guarded by m_lock
    bool m_receiverDone = false; // guarded by m_lock
    std::thread m_receiver;
    std::vector<std::thread> m_others;
};
