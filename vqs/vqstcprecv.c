/* The receiving side of the direct TCP transport: one listening socket and the accepted
 * connections, read with poll. */

#include "vqstcprecv.h"
#include "vqs.h"
#include "vqsenv.h"
#include "vqstcpsend.h"
#include "vqstime.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define MAX_PEERS 256
#define BACKLOG 64
#define PEER_PENDING (-1)
#define PEER_CLOSED (-2)

/* One accepted connection and the message it is part-way through. */
struct peer {
    int fd;
    struct in_addr addr; /* where the connection comes from */
    unsigned char head[4];
    size_t got; /* bytes of header and body read so far */
    uint32_t len;
    char *body;
};

/* Used by the receiving thread only. */
static int g_listen = -1;
static struct peer g_peers[MAX_PEERS];
static size_t g_npeers;
static size_t g_next; /* where the next scan starts, so one busy sender cannot starve others */
static char *g_allow;
static int g_backoff;
static struct sockaddr_in g_bound; /* what g_listen is bound to */

static void close_peer(struct peer *p)
{
    close(p->fd);
    free(p->body);
    memset(p, 0, sizeof *p);
    p->fd = -1;
}

static void compact_peers(void)
{
    size_t kept = 0;
    for (size_t i = 0; i < g_npeers; i++) {
        if (g_peers[i].fd >= 0)
            g_peers[kept++] = g_peers[i];
    }
    g_npeers = kept;
}

void vqs_tcp_recv_close(void)
{
    for (size_t i = 0; i < g_npeers; i++)
        close_peer(&g_peers[i]);
    g_npeers = 0;
    g_next = 0;
    if (g_listen >= 0)
        close(g_listen);
    g_listen = -1;
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
    g_allow = strdup(vqs_env("VQS_ALLOW", ""));
    g_listen = fd;
    g_bound = sa;
    return 0;
}

static void accept_peers(void)
{
    for (;;) {
        struct sockaddr_in sa;
        socklen_t len = sizeof sa;
        int fd = accept4(g_listen, (struct sockaddr *)&sa, &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            /* Out of descriptors the listener stays readable: look away from it briefly. */
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                g_backoff = 1;
            return;
        }
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &sa.sin_addr, addr, sizeof addr);
        /* Frames end up in root shell commands: strangers are closed before any byte is read. */
        if (sa.sin_family != AF_INET || !vqs_peer_accepted(sa.sin_addr, g_allow)) {
            fprintf(stderr, "vqs: connection from %s refused\n", addr);
            close(fd);
            continue;
        }
        if (g_npeers == MAX_PEERS) {
            fprintf(stderr, "vqs: connection from %s refused: too many connections\n", addr);
            close(fd);
            continue;
        }
        memset(&g_peers[g_npeers], 0, sizeof g_peers[g_npeers]);
        g_peers[g_npeers].addr = sa.sin_addr;
        g_peers[g_npeers++].fd = fd;
    }
}

/* Reads what the peer has; the message length once one is whole, else PEER_PENDING or
 * PEER_CLOSED. Reads no further than the current message; a message refused whole is
 * skipped. */
static int read_peer(struct peer *p, char *out)
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
            if (whole)
                return len;
        }
    }
}

int vqs_tcp_recv(char *buffer, struct in_addr *from)
{
    if (g_listen < 0 && vqs_tcp_recv_init() != 0)
        return vqs_fail_after_pause();

    struct pollfd fds[MAX_PEERS + 1];
    for (;;) {
        fds[0].fd = g_backoff ? -1 : g_listen;
        fds[0].events = POLLIN;
        fds[0].revents = 0;
        for (size_t i = 0; i < g_npeers; i++) {
            fds[i + 1].fd = g_peers[i].fd;
            fds[i + 1].events = POLLIN;
            fds[i + 1].revents = 0;
        }
        int rc = poll(fds, g_npeers + 1, g_backoff ? 200 : -1);
        g_backoff = 0;
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            fprintf(stderr, "vqs: receive failed: %s\n", strerror(errno));
            return vqs_fail_after_pause();
        }

        int result = -1;
        size_t n = g_npeers;
        for (size_t k = 0; k < n && result < 0; k++) {
            size_t i = (g_next + k) % n;
            if (!fds[i + 1].revents)
                continue;
            int r = read_peer(&g_peers[i], buffer);
            if (r == PEER_CLOSED)
                close_peer(&g_peers[i]);
            else if (r >= 0) {
                result = r;
                g_next = i + 1;
                if (from)
                    *from = g_peers[i].addr;
            }
        }
        compact_peers();
        if (fds[0].revents & POLLIN)
            accept_peers();
        if (result >= 0)
            return result;
    }
}
