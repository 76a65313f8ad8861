#include "tcpreceivers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

TcpReceivers::TcpReceivers(const std::vector<QString> &addresses, unsigned short port,
                           Arrivals *arrivals)
    : TcpReceivers(addresses, port, [arrivals](int receiver, Arrivals::Clock::time_point time) {
          arrivals->note(receiver, time);
      })
{
}

TcpReceivers::TcpReceivers(const std::vector<QString> &addresses, unsigned short port, Note note)
    : m_note(std::move(note))
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
            std::fprintf(stderr, "fanout: cannot listen on %s:%u: %s\n", qPrintable(addresses[i]),
                         port, std::strerror(errno));
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
            m_note(link.receiver, now);
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

namespace
{

// One arrival as a child passes it on; receiver -1: the child is ready, -2: it could not listen.
struct Record {
    int32_t receiver;
    int64_t ns;
};

bool writeRecord(int fd, int32_t receiver, Arrivals::Clock::time_point time)
{
    const Record record{
        receiver,
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count()};
    return write(fd, &record, sizeof record) == ssize_t(sizeof record);
}

} // namespace

ForkedTcpReceivers::ForkedTcpReceivers(const std::vector<QString> &addresses, unsigned short port,
                                       Arrivals *arrivals, int processes)
{
    const size_t share = (addresses.size() + size_t(processes) - 1) / size_t(processes);
    bool ready = true;
    for (size_t first = 0; first < addresses.size(); first += share) {
        int notes[2], hold[2];
        if (pipe2(notes, O_CLOEXEC) != 0)
            return;
        if (pipe2(hold, O_CLOEXEC) != 0) {
            close(notes[0]);
            close(notes[1]);
            return;
        }
        const std::vector<QString> mine(addresses.begin() + long(first),
                                        addresses.begin() +
                                            long(std::min(addresses.size(), first + share)));
        const pid_t pid = fork();
        if (pid == 0) {
            // Plain sockets and a thread only; it ends with _exit, running nothing of the
            // parent's at exit.
            close(notes[0]);
            close(hold[1]);
            // The earlier children's pipes: held here, they would never see their end.
            for (const Child &other : m_children) {
                close(other.notes);
                close(other.hold);
            }
            const int out = notes[1];
            const int32_t offset = int32_t(first);
            TcpReceivers receivers(mine, port, [out, offset](int r, Arrivals::Clock::time_point t) {
                writeRecord(out, offset + r, t);
            });
            writeRecord(out, receivers.isValid() ? -1 : -2, Arrivals::Clock::now());
            char byte;
            while (read(hold[0], &byte, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(notes[1]);
        close(hold[0]);
        Child child;
        child.pid = pid;
        child.notes = notes[0];
        child.hold = hold[1];
        // Read whatever came before: the reader below takes arrivals only.
        Record record{};
        const bool listening =
            pid > 0 && read(child.notes, &record, sizeof record) == ssize_t(sizeof record) &&
            record.receiver == -1;
        ready = ready && listening;
        const int count = int(addresses.size());
        child.reader = std::thread([fd = child.notes, arrivals, count] {
            Record r;
            while (read(fd, &r, sizeof r) == ssize_t(sizeof r))
                if (r.receiver >= 0 && r.receiver < count)
                    arrivals->note(r.receiver,
                                   Arrivals::Clock::time_point(std::chrono::nanoseconds(r.ns)));
        });
        m_children.push_back(std::move(child));
    }
    m_valid = ready && !m_children.empty();
}

ForkedTcpReceivers::~ForkedTcpReceivers()
{
    for (Child &child : m_children) {
        close(child.hold);
        if (child.pid > 0)
            waitpid(child.pid, nullptr, 0);
        if (child.reader.joinable())
            child.reader.join();
        close(child.notes);
    }
}
