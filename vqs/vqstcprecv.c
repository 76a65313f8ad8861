/* The receiving side of the direct TCP transport: one listening socket and the accepted
 * connections, read with epoll. No socket may silence the receiver: a connection idle too long
 * or slow to finish a message is closed, one address holds a bounded share, and at the bound a
 * newcomer takes the place of the connection idle the longest. */

#include "vqstcprecv.h"
#include "vqs.h"
#include "vqsenv.h"
#include "vqspeers.h"
#include "vqstcpsend.h"
#include "vqstime.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#define BACKLOG 512
#define MAX_EVENTS 64
/* Accepted per turn, so that a flood of connections cannot starve the open ones. */
#define ACCEPT_BATCH 64
#define DEFAULT_MAX_CONNECTIONS 16384
#define DEFAULT_MAX_PER_ADDRESS 64
/* Longer than the sender's lane idle (60 s): an honest sender closes first. */
#define DEFAULT_IDLE_S 75
#define DEFAULT_MESSAGE_S 10
#define BACKOFF_MS 200
#define PEER_PENDING (-1)
#define PEER_CLOSED (-2)

/* Used by the receiving thread only. */
static int g_listen = -1;
static int g_epoll = -1;
static struct vqs_peers g_peers;
static struct epoll_event g_events[MAX_EVENTS];
static int g_nevents;
static int g_at; /* the next of g_events to look at */
static char *g_allow;
static long long g_backoff_until;  /* the listener rests until then after running out of files */
static struct sockaddr_in g_bound; /* what g_listen is bound to */
static int g_listen_tag;           /* the listener's epoll data */

/* The bounds in force, read at each init. */
static void read_bounds(void)
{
    /* Half the descriptors at most: the process needs the rest (its senders, its files). */
    long room = DEFAULT_MAX_CONNECTIONS;
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
        (long)(files.rlim_cur / 2) < room)
        room = (long)(files.rlim_cur / 2);
    g_peers.max_total =
        (size_t)vqs_env_number("VQS_MAX_CONNECTIONS", room < 1 ? 1 : room, 1, 1 << 24);
    g_peers.max_per_address =
        (size_t)vqs_env_number("VQS_MAX_PER_ADDRESS", DEFAULT_MAX_PER_ADDRESS, 1, 1 << 24);
    g_peers.idle_ms = 1000LL * vqs_env_number("VQS_CONNECTION_IDLE", DEFAULT_IDLE_S, 1, 86400);
    g_peers.message_ms =
        1000LL * vqs_env_number("VQS_MESSAGE_TIMEOUT", DEFAULT_MESSAGE_S, 1, 86400);
}

/* Forgets a closing peer's pending events: its memory is about to go. */
static void forget_events(struct vqs_peer *p)
{
    for (int i = g_at; i < g_nevents; i++)
        if (g_events[i].data.ptr == p)
            g_events[i].data.ptr = NULL;
}

static void close_peer(struct vqs_peer *p)
{
    forget_events(p);
    /* Taken out of epoll before the close: a child forked meanwhile holds the descriptor a
     * while, and epoll would go on reporting it, with the peer's freed memory as its data. */
    epoll_ctl(g_epoll, EPOLL_CTL_DEL, p->fd, NULL);
    close(p->fd);
    vqs_peers_remove(&g_peers, p);
}

/* Closes p for why (none said when NULL). */
static void drop_peer(struct vqs_peer *p, const char *why)
{
    if (why) {
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &p->addr, addr, sizeof addr);
        fprintf(stderr, "vqs: connection from %s closed: %s\n", addr, why);
    }
    close_peer(p);
}

void vqs_tcp_recv_close(void)
{
    struct vqs_peer *p;
    while ((p = vqs_peers_longest_idle(&g_peers, NULL)))
        close_peer(p);
    g_nevents = g_at = 0;
    if (g_listen >= 0)
        close(g_listen);
    g_listen = -1;
    if (g_epoll >= 0)
        close(g_epoll);
    g_epoll = -1;
    g_backoff_until = 0;
    free(g_allow);
    g_allow = NULL;
}

int vqs_tcp_recv_init(void)
{
    const char *bind_text = vqs_env("VQS_BIND", "0.0.0.0");
    unsigned short port = vqs_port();
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, bind_text, &sa.sin_addr) != 1) {
        vqs_tcp_recv_close();
        fprintf(stderr, "vqs: VQS_BIND \"%s\" is not an IPv4 address\n", bind_text);
        return -1;
    }
    read_bounds();
    /* A new receiving thread on the same address keeps the open connections: a message
     * sent to it before it got here is already waiting in one of them. */
    if (g_listen >= 0 && g_bound.sin_port == sa.sin_port &&
        g_bound.sin_addr.s_addr == sa.sin_addr.s_addr) {
        free(g_allow);
        g_allow = strdup(vqs_env("VQS_ALLOW", ""));
        return 0;
    }
    vqs_tcp_recv_close();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(fd, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(fd, BACKLOG) != 0) {
        fprintf(stderr, "vqs: cannot listen on %s:%u: %s\n", bind_text, port, strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    g_epoll = epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event ev = {.events = EPOLLIN, .data.ptr = &g_listen_tag};
    if (g_epoll < 0 || epoll_ctl(g_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
        fprintf(stderr, "vqs: cannot watch %s:%u: %s\n", bind_text, port, strerror(errno));
        close(fd);
        vqs_tcp_recv_close();
        return -1;
    }
    g_allow = strdup(vqs_env("VQS_ALLOW", ""));
    g_listen = fd;
    g_bound = sa;
    return 0;
}

/* Room for one more connection from addr: at a bound, the connection idle the longest (of
 * that address, or of all) goes, so that a new desktop is never turned away. */
static void make_room(struct in_addr addr)
{
    struct vqs_peer *p;
    if (vqs_peers_count_of(&g_peers, addr) >= g_peers.max_per_address &&
        (p = vqs_peers_longest_idle(&g_peers, &addr)))
        drop_peer(p, "the connections from that address are at their bound");
    if (g_peers.count >= g_peers.max_total && (p = vqs_peers_longest_idle(&g_peers, NULL)))
        drop_peer(p, "the longest idle, to make room for another");
}

static void rest_listener(long long now)
{
    struct epoll_event ev = {.events = 0, .data.ptr = &g_listen_tag};
    epoll_ctl(g_epoll, EPOLL_CTL_MOD, g_listen, &ev);
    g_backoff_until = now + BACKOFF_MS;
}

static void accept_peers(long long now)
{
    for (int n = 0; n < ACCEPT_BATCH; n++) {
        struct sockaddr_in sa;
        socklen_t len = sizeof sa;
        int fd = accept4(g_listen, (struct sockaddr *)&sa, &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM)
                return;
            /* Out of descriptors: the longest idle connection makes room, else the listener,
             * which stays readable, rests a while. */
            struct vqs_peer *idle = vqs_peers_longest_idle(&g_peers, NULL);
            if (!idle) {
                rest_listener(now);
                return;
            }
            drop_peer(idle, "out of descriptors, to make room for another");
            continue;
        }
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &sa.sin_addr, addr, sizeof addr);
        /* Frames end up in root shell commands: strangers are closed before any byte is read. */
        if (sa.sin_family != AF_INET || !vqs_peer_accepted(sa.sin_addr, g_allow)) {
            fprintf(stderr, "vqs: connection from %s refused\n", addr);
            close(fd);
            continue;
        }
        make_room(sa.sin_addr);
        struct vqs_peer *p = vqs_peers_add(&g_peers, fd, sa.sin_addr, now);
        struct epoll_event ev = {.events = EPOLLIN, .data.ptr = p};
        if (!p || epoll_ctl(g_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
            fprintf(stderr, "vqs: connection from %s refused: %s\n", addr, strerror(errno));
            if (p)
                vqs_peers_remove(&g_peers, p);
            close(fd);
        }
    }
}

/* Reads what the peer has; the message length once one is whole, else PEER_PENDING or
 * PEER_CLOSED. Reads no further than the current message; a message refused whole is
 * skipped. */
static int read_peer(struct vqs_peer *p, char *out, long long now)
{
    for (;;) {
        ssize_t n;
        if (p->got < 4)
            n = read(p->fd, p->head + p->got, 4 - p->got);
        else
            n = read(p->fd, p->body + (p->got - 4), p->len - (p->got - 4));
        if (n == 0)
            return PEER_CLOSED; /* a message cut short is dropped with the connection */
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? PEER_PENDING : PEER_CLOSED;
        }
        if (p->got == 0)
            vqs_peers_started(&g_peers, p, now);
        vqs_peers_heard(&g_peers, p, now);
        p->got += (size_t)n;
        if (p->got == 4) {
            uint32_t wire;
            memcpy(&wire, p->head, 4);
            p->len = ntohl(wire);
            if (p->len > VQS_MAX_MESSAGE) {
                fprintf(stderr, "vqs: peer announced a message of %lu bytes, connection closed\n",
                        (unsigned long)p->len);
                return PEER_CLOSED;
            }
            if (p->len > 0 && !(p->body = malloc(p->len)))
                return PEER_CLOSED;
        }
        if (p->got >= 4 && p->got - 4 == p->len) {
            int len = (int)p->len;
            /* The frame would end at the NUL: what follows it would be lost without a word. */
            const int whole = len == 0 || !memchr(p->body, '\0', (size_t)len);
            if (!whole)
                fprintf(stderr, "vqs: message of %d bytes refused: it holds a NUL byte\n", len);
            else if (len > 0)
                memcpy(out, p->body, (size_t)len);
            out[whole ? len : 0] = '\0';
            free(p->body);
            p->body = NULL;
            p->got = 0;
            p->len = 0;
            vqs_peers_finished(&g_peers, p);
            if (whole)
                return len;
        }
    }
}

/* Closes what is past its deadline; the milliseconds until the next one, -1 for none. */
static int expire(long long now)
{
    struct vqs_peer *p;
    while ((p = vqs_peers_oldest_partial(&g_peers)) && p->started_ms + g_peers.message_ms <= now)
        drop_peer(p, "a message unfinished past its deadline");
    while ((p = vqs_peers_longest_idle(&g_peers, NULL)) && p->heard_ms + g_peers.idle_ms <= now)
        drop_peer(p, NULL);
    long long next = -1;
    if ((p = vqs_peers_oldest_partial(&g_peers)))
        next = p->started_ms + g_peers.message_ms;
    if ((p = vqs_peers_longest_idle(&g_peers, NULL)) &&
        (next < 0 || p->heard_ms + g_peers.idle_ms < next))
        next = p->heard_ms + g_peers.idle_ms;
    if (g_backoff_until && (next < 0 || g_backoff_until < next))
        next = g_backoff_until;
    if (next < 0)
        return -1;
    return next - now > 3600000 ? 3600000 : (int)(next - now);
}

int vqs_tcp_recv(char *buffer, struct in_addr *from)
{
    if (g_listen < 0 && vqs_tcp_recv_init() != 0)
        return vqs_fail_after_pause();

    for (;;) {
        while (g_at < g_nevents) {
            struct epoll_event *ev = &g_events[g_at++];
            long long now = vqs_now_ms();
            if (ev->data.ptr == &g_listen_tag) {
                accept_peers(now);
                continue;
            }
            struct vqs_peer *p = ev->data.ptr;
            if (!p)
                continue; /* closed since */
            int r = read_peer(p, buffer, now);
            if (r == PEER_CLOSED)
                close_peer(p);
            else if (r >= 0) {
                if (from)
                    *from = p->addr;
                return r;
            }
        }
        long long now = vqs_now_ms();
        if (g_backoff_until && now >= g_backoff_until) {
            struct epoll_event ev = {.events = EPOLLIN, .data.ptr = &g_listen_tag};
            epoll_ctl(g_epoll, EPOLL_CTL_MOD, g_listen, &ev);
            g_backoff_until = 0;
        }
        int timeout = expire(now);
        g_at = 0;
        g_nevents = epoll_wait(g_epoll, g_events, MAX_EVENTS, timeout);
        if (g_nevents < 0) {
            int err = errno;
            g_nevents = 0;
            if (err == EINTR)
                continue;
            fprintf(stderr, "vqs: receive failed: %s\n", strerror(err));
            return vqs_fail_after_pause();
        }
    }
}
