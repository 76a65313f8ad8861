#include "receiver.h"

#include "vqs.h"
#include "vqstesting.h"

#include <QtGlobal>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

using namespace VqsTesting;

namespace
{
const char kStop[] = "tst-vqs: stop receiving";
}

void Receiver::start()
{
    m_thread = std::thread([this] { run(); });
}

void Receiver::stop(bool broker, unsigned short port)
{
    if (broker) {
        if (vqs_message_send("127.0.0.1", kStop) != 0)
            qFatal("cannot stop the receiver");
    } else {
        const int fd = rawConnect("127.0.0.1", port);
        if (fd < 0 || !rawWrite(fd, framed(kStop)))
            qFatal("cannot stop the receiver: %s", strerror(errno));
        close(fd);
    }
    m_thread.join();
}

std::vector<std::string> Receiver::take(size_t count)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                       [&] { return m_inbox.size() >= count; });
    std::vector<std::string> taken;
    while (taken.size() < count && !m_inbox.empty()) {
        taken.push_back(m_inbox.front());
        m_inbox.pop_front();
    }
    return taken;
}

void Receiver::run()
{
    std::vector<char> buffer(VQS_MAX_MESSAGE + 1);
    for (;;) {
        const int len = vqs_message_recv(buffer.data());
        const std::string text =
            len < 0 ? std::string("(receive failed)") : std::string(buffer.data(), size_t(len));
        if (text == kStop)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inbox.push_back(text);
        m_arrived.notify_all();
    }
}
