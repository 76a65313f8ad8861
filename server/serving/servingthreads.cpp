#include "serving/servingthreads.h"

#include "serving/catalogserver.h"
#include "serving/repositoryfollower.h"
#include "serving/serverconsole.h"

#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{

// Longer waits are cut to this: the clock's nanoseconds must not overflow.
constexpr qint64 LongestRestMs = qint64(1) << 40;

// The stop pipe's writing end, for the signal handler.
std::atomic<int> signalledPipe{-1};

} // namespace

ServingThreads::ServingThreads(CatalogServer *server) : m_server(server)
{
    // Close-on-exec: a tool the follower runs must not hold it. Not blocking: a handler
    // writing into a full pipe would never return (one byte there is enough).
    if (pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_stopPipe[0] = m_stopPipe[1] = -1;
    signalledPipe = m_stopPipe[1];
    // A handler (unlike a blocked mask) is not inherited by the tools started meanwhile.
    struct sigaction action = {};
    action.sa_handler = &ServingThreads::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

ServingThreads::~ServingThreads()
{
    stop();
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signalledPipe = -1;
    for (const int fd : m_stopPipe)
        if (fd >= 0)
            close(fd);
}

void ServingThreads::onSignal(int)
{
    const int fd = signalledPipe;
    if (fd >= 0) {
        const int saved = errno;
        [[maybe_unused]] const ssize_t written = write(fd, "s", 1);
        errno = saved;
    }
}

void ServingThreads::requestStop()
{
    [[maybe_unused]] const ssize_t written = write(m_stopPipe[1], "q", 1);
}

void ServingThreads::startConsole(ServerConsole *console)
{
    m_others.emplace_back([this, console]() {
        if (console->runInput(STDIN_FILENO, m_stopPipe[0]))
            requestStop();
    });
}

void ServingThreads::waitForStopRequest()
{
    pollfd stop = {m_stopPipe[0], POLLIN, 0};
    while (poll(&stop, 1, -1) < 0 && errno == EINTR) {
    }
}

bool ServingThreads::startReceiver()
{
    std::promise<bool> listening;
    std::future<bool> listened = listening.get_future();
    m_receiver = std::thread([this, &listening]() {
        const bool ready = m_server->listen();
        // The promise belongs to the starting thread, which leaves once it is set.
        listening.set_value(ready);
        if (ready)
            m_server->serve();
        std::lock_guard<std::mutex> guard(m_lock);
        m_receiverDone = true;
        m_changed.notify_all();
    });
    if (listened.get())
        return true;
    m_receiver.join();
    return false;
}

void ServingThreads::startFollower(RepositoryFollower *follower)
{
    m_others.emplace_back(
        [this, follower]() { follower->follow([this](int ms) { return rest(ms); }); });
}

void ServingThreads::every(qint64 seconds, std::function<void()> work)
{
    const qint64 ms = seconds > LongestRestMs / 1000 ? LongestRestMs : seconds * 1000;
    m_others.emplace_back([this, ms, work = std::move(work)]() {
        while (rest(ms))
            work();
    });
}

bool ServingThreads::rest(qint64 ms)
{
    std::unique_lock<std::mutex> lock(m_lock);
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(qBound<qint64>(0, ms, LongestRestMs));
    return !m_changed.wait_until(lock, until, [this]() { return m_stopping; });
}

void ServingThreads::stop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_stopping = true;
    m_changed.notify_all();
    // The console's reading ends too.
    if (!m_others.empty() || m_receiver.joinable())
        requestStop();
    if (m_receiver.joinable()) {
        // The wake-up message may be dropped (every sender busy): sent again until it lands.
        while (!m_receiverDone) {
            lock.unlock();
            m_server->stop();
            lock.lock();
            m_changed.wait_for(lock, std::chrono::seconds(1), [this]() { return m_receiverDone; });
        }
        lock.unlock();
        m_receiver.join();
    } else {
        lock.unlock();
    }
    for (std::thread &thread : m_others)
        thread.join();
    m_others.clear();
}
