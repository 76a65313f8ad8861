#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The receiving thread of the test process; it keeps what arrives in order.
class Receiver
{
public:
    void start();
    // Over direct TCP it is told without the library on port, so that a sending fault cannot
    // leave the thread waiting; through the broker its own messages go around the broker.
    void stop(bool broker, unsigned short port);
    // The next count messages; fewer when they do not come within the tests' wait.
    std::vector<std::string> take(size_t count);

private:
    void run();

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::string> m_inbox;
};
