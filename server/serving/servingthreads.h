#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CatalogServer;
class RepositoryFollower;
class ServerConsole;

// The catalog server's threads: the receiver, the console reading standard input, the
// repository's follower and the periodic work (signing the catalog file anew, heartbeats).
// "quit", SIGTERM or SIGINT ask them to stop; stop() ends and joins them all, and the
// destructor stops. One at a time in a process.
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
    // Runs the lines of standard input with console until "quit" (or until stop()).
    void startConsole(ServerConsole *console);
    // Until "quit", SIGTERM or SIGINT; the end of standard input leaves the server serving.
    void waitForStopRequest();
    void stop();

private:
    static void onSignal(int);
    void requestStop();

    // Waits ms milliseconds; false, at once, when stopping.
    bool rest(qint64 ms);

    CatalogServer *const m_server;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stopping = false;     // guarded by m_lock
    bool m_receiverDone = false; // guarded by m_lock
    std::thread m_receiver;
    std::vector<std::thread> m_others;
    // Readable once a stop is asked for; never read, so it stays readable for every waiter.
    int m_stopPipe[2] = {-1, -1};
};
