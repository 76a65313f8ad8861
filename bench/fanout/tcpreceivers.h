#pragma once

#include "arrivals.h"

#include <QString>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <sys/types.h>

// Lightweight receivers of the direct TCP transport: one listening socket for each address
// 127.1.A.B on one port, all served by one thread with epoll, which notes every whole message
// in arrivals (receiver i is the i-th address given).
class TcpReceivers
{
public:
    using Note = std::function<void(int receiver, Arrivals::Clock::time_point time)>;
    TcpReceivers(const std::vector<QString> &addresses, unsigned short port, Arrivals *arrivals);
    TcpReceivers(const std::vector<QString> &addresses, unsigned short port, Note note);
    ~TcpReceivers();
    TcpReceivers(const TcpReceivers &) = delete;
    TcpReceivers &operator=(const TcpReceivers &) = delete;

    bool isValid() const { return m_valid; }

private:
    struct Link {
        int fd = -1;
        int receiver = -1; // -1: a listening socket
        unsigned char head[4];
        size_t got = 0; // bytes of the current message, its length included
        size_t length = 0;
    };

    void run();
    void accept(const Link &listener);
    bool read(Link &link); // false once the peer has closed

    Note m_note;
    int m_epoll = -1;
    int m_stop = -1;
    bool m_valid = false;
    std::vector<Link *> m_links;
    std::thread m_thread;
};

// The same receivers in child processes, each serving a share of the addresses: one process's
// open files would not hold them all at 10,000 (a listener and two connections each, the
// server's and the floor's). Each child passes what arrives to this process through a pipe,
// stamped on the monotonic clock every process shares.
class ForkedTcpReceivers
{
public:
    ForkedTcpReceivers(const std::vector<QString> &addresses, unsigned short port,
                       Arrivals *arrivals, int processes);
    ~ForkedTcpReceivers();
    ForkedTcpReceivers(const ForkedTcpReceivers &) = delete;
    ForkedTcpReceivers &operator=(const ForkedTcpReceivers &) = delete;

    bool isValid() const { return m_valid; }

private:
    struct Child {
        pid_t pid = -1;
        int notes = -1; // what arrives, read here
        int hold = -1;  // closed here to end the child
        std::thread reader;
    };

    std::vector<Child> m_children;
    bool m_valid = false;
};
