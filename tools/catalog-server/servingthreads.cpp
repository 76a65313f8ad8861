#include "servingthreads.h"

#include "catalogserver.h"
#include "repositoryfollower.h"

#include <QtGlobal>

#include <chrono>
#include <future>

namespace
{

// A wait longer than this is taken in steps: the clock's nanoseconds must not overflow.
constexpr qint64 LongestRestMs = qint64(1) << 40;

} // namespace

ServingThreads::ServingThreads(CatalogServer *server) : m_server(server) {}

ServingThreads::~ServingThreads()
{
    stop();
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

void ServingThreads::waitForReceiver()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this]() { return m_receiverDone || !m_receiver.joinable(); });
}

void ServingThreads::stop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_stopping = true;
    m_changed.notify_all();
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
