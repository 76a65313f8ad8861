#pragma once

#include "arrivals.h"

#include <QString>

#include <atomic>
#include <thread>
#include <vector>

// Lightweight receivers of the direct TCP transport: one listening socket for each address
// 127.1.A.B on one port, all served by one thread with epoll, which notes every whole message
// in arrivals (receiver i is the i-th address given).
class TcpReceivers
{
public:
    TcpReceivers(const std::vector<QString> &addresses, unsigned short port, Arrivals *arrivals);
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

    Arrivals *m_arrivals;
    int m_epoll = -1;
    int m_stop = -1;
    bool m_valid = false;
    std::vector<Link *> m_links;
    std::thread m_thread;
};
