#include "tcpreceivers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

TcpReceivers::TcpReceivers(const std::vector<QString> &addresses, unsigned short port,
                           Arrivals *arrivals)
    : m_arrivals(arrivals)
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_stop = eventfd(0, EFD_CLOEXEC);
    if (m_epoll < 0 || m_stop < 0)
        return;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.ptr = nullptr;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_stop, &stop);
    for (size_t i = 0; i < addresses.size(); ++i) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        if (inet_pton(AF_INET, addresses[i].toLatin1().constData(), &sa.sin_addr) != 1)
            return;
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
            bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(fd, 64) != 0) {
            if (fd >= 0)
                close(fd);
            return;
        }
        Link *link = new Link;
        link->fd = fd;
        link->receiver = -1 - int(i);
        m_links.push_back(link);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = link;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    }
    m_valid = true;
    m_thread = std::thread([this] { run(); });
}

TcpReceivers::~TcpReceivers()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        if (write(m_stop, &one, sizeof one) == sizeof one)
            m_thread.join();
        else
            m_thread.detach();
    }
    for (Link *link : m_links) {
        close(link->fd);
        delete link;
    }
    if (m_epoll >= 0)
        close(m_epoll);
    if (m_stop >= 0)
        close(m_stop);
}

void TcpReceivers::accept(const Link &listener)
{
    const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    Link *link = new Link;
    link->fd = fd;
    link->receiver = -1 - listener.receiver;
    m_links.push_back(link);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = link;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
}

bool TcpReceivers::read(Link &link)
{
    unsigned char buffer[65536];
    const ssize_t n = recv(link.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    const auto now = Arrivals::Clock::now();
    for (ssize_t i = 0; i < n;) {
        if (link.got < 4) {
            link.head[link.got++] = buffer[i++];
            if (link.got == 4)
                link.length = (size_t(link.head[0]) << 24) | (size_t(link.head[1]) << 16) |
                              (size_t(link.head[2]) << 8) | size_t(link.head[3]);
        } else {
            const size_t take = std::min(link.length + 4 - link.got, size_t(n - i));
            link.got += take;
            i += ssize_t(take);
        }
        if (link.got >= 4 && link.got == link.length + 4) {
            m_arrivals->note(link.receiver, now);
            link.got = 0;
        }
    }
    return true;
}

void TcpReceivers::run()
{
    epoll_event events[64];
    for (;;) {
        const int n = epoll_wait(m_epoll, events, 64, -1);
        for (int k = 0; k < n; ++k) {
            Link *link = static_cast<Link *>(events[k].data.ptr);
            if (!link)
                return;
            if (link->receiver < 0)
                accept(*link);
            else if (!read(*link))
                epoll_ctl(m_epoll, EPOLL_CTL_DEL, link->fd, nullptr);
        }
    }
}
