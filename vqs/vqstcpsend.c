/* The sending side of the direct TCP transport: callers queue; one thread per destination
 * delivers over its connection. Lanes are bounded and reaped when idle: a peer naming many
 * addresses costs a bounded number of threads. */

#include "vqstcpsend.h"
#include "vqsallow.h"
#include "vqscontacts.h"
#include "vqsenv.h"
#include "vqsthread.h"
#include "vqstime.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define CONNECT_TIMEOUT_MS 3000
/* A receiver that takes nothing for this long is taken for dead; a busy one reads sooner. */
#define STALL_TIMEOUT_S 60
#define EXIT_FLUSH_S 10
/* Lanes at most (VQS_MAX_LANES) and the seconds an idle one lives (VQS_LANE_IDLE). */
#define DEFAULT_MAX_LANES 4096
#define DEFAULT_LANE_IDLE_S 60
/* Buckets of the lanes by destination, so that a fleet's sends find theirs at once. */
#define LANE_BUCKETS 16384

#ifndef IP_BIND_ADDRESS_NO_PORT
#define IP_BIND_ADDRESS_NO_PORT 24
#endif

struct item {
    struct item *next;
    int retried; /* written once into a connection the receiver then reset */
    size_t size;
    unsigned char bytes[]; /* 4-byte big-endian length, then the text */
};

/* One queue, thread and connection per destination: a destination that does not answer
 * holds back only its own messages. */
struct lane {
    struct lane *next, *prev;  /* in g_lanes */
    struct lane *next_by_dest; /* in its bucket of g_by_dest */
    struct in_addr dest;
    unsigned short port;
    struct in_addr source; /* INADDR_ANY: the kernel chooses */
    int fd;                /* the lane's thread's while busy; whoever holds g_lock while idle */
    struct item *head;
    struct item *tail;
    /* Written into fd since it was last found whole: a reset would have lost them. */
    struct item *unsure;
    int busy;
    long long idle_since_ms;
    long long idle_ms;
    pthread_cond_t work;
};

/* g_lock guards the lanes' queues and states and the contacted addresses. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_idle;
static struct lane *g_lanes;
static size_t g_nlanes;
static pid_t g_owner;
static pthread_condattr_t g_monotonic;
static struct lane *g_by_dest[LANE_BUCKETS];
static struct lane *g_spare; /* lanes whose threads ended, for reuse */

static int wait_writable(int fd, int timeout_ms)
{
    long long deadline = vqs_now_ms() + timeout_ms;
    for (;;) {
        long long left = deadline - vqs_now_ms();
        struct pollfd p = {.fd = fd, .events = POLLOUT};
        int rc = poll(&p, 1, left > 0 ? (int)left : 0);
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

static int open_link(struct in_addr dest, unsigned short port, struct in_addr source, int *err)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    if (source.s_addr != htonl(INADDR_ANY)) {
        /* The receiver answers the address a connection comes from: the one we listen on.
         * Without it (not this host's address) the kernel's choice still delivers. */
        int one = 1;
        setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
        sa.sin_addr = source;
        (void)bind(fd, (struct sockaddr *)&sa, sizeof sa);
    }
    sa.sin_port = htons(port);
    sa.sin_addr = dest;
    if (connect(fd, (struct sockaddr *)&sa, sizeof sa) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            *err = errno;
            close(fd);
            return -1;
        }
        int rc = wait_writable(fd, CONNECT_TIMEOUT_MS);
        int soerr = 0;
        socklen_t len = sizeof soerr;
        if (rc <= 0)
            soerr = rc == 0 ? ETIMEDOUT : errno;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0)
            soerr = errno;
        if (soerr != 0) {
            *err = soerr;
            close(fd);
            return -1;
        }
    }
    /* From here sends block, bounded by the stall timeout, so messages keep their order. */
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    struct timeval stall = {.tv_sec = STALL_TIMEOUT_S, .tv_usec = 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &stall, sizeof stall);
    return fd;
}

enum link_state { LINK_OPEN, LINK_CLOSED, LINK_RESET };

/* The receiver never writes, so anything readable is its close or an error. A reset (rather
 * than a plain close) means it closed with bytes of ours unread, or they came after its close. */
static enum link_state link_state(int fd)
{
    struct pollfd p = {.fd = fd, .events = POLLIN | POLLRDHUP};
    if (poll(&p, 1, 0) == 0)
        return LINK_OPEN;
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if ((p.revents & POLLERR) ||
        (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) == 0 && soerr != 0))
        return LINK_RESET;
    char byte;
    if (recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno != EAGAIN && errno != EINTR)
        return LINK_RESET;
    return LINK_CLOSED;
}

static int send_all(int fd, const unsigned char *bytes, size_t size)
{
    while (size > 0) {
        ssize_t n = send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        bytes += n;
        size -= (size_t)n;
    }
    return 0;
}

static void drop(const struct lane *lane, const char *why)
{
    char addr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &lane->dest, addr, sizeof addr);
    fprintf(stderr, "vqs: message to %s:%u dropped: %s\n", addr, lane->port, why);
}

static void free_items(struct item *it)
{
    while (it) {
        struct item *next = it->next;
        free(it);
        it = next;
    }
}

static void keep_unsure(struct lane *lane, struct item *it)
{
    struct item **at = &lane->unsure;
    while (*at)
        at = &(*at)->next;
    it->next = NULL;
    *at = it;
}

static void write_item(struct lane *lane, struct item *it);

/* What a reset may have lost goes out once more, in order, on a new connection; what was
 * lost twice is said dropped. */
static void retry_lost(struct lane *lane, struct item *lost)
{
    while (lost) {
        struct item *it = lost;
        lost = it->next;
        if (it->retried) {
            drop(lane, "the receiver closed the connection with it unread");
            free(it);
            continue;
        }
        it->retried = 1;
        write_item(lane, it);
    }
}

/* Writes it, owned from here on: kept as unsure once written, else freed with a line. */
static void write_item(struct lane *lane, struct item *it)
{
    /* A connection that broke since the last message gets one fresh attempt. */
    for (int attempt = 0; attempt < 2; attempt++) {
        int err = 0;
        if (lane->fd < 0 &&
            (lane->fd = open_link(lane->dest, lane->port, lane->source, &err)) < 0) {
            drop(lane, strerror(err));
            free(it);
            return;
        }
        if (send_all(lane->fd, it->bytes, it->size) == 0) {
            keep_unsure(lane, it);
            return;
        }
        err = errno;
        close(lane->fd);
        lane->fd = -1;
        if (attempt == 1 || (err != EPIPE && err != ECONNRESET)) {
            drop(lane, strerror(err));
            free(it);
            return;
        }
        /* The reset may have taken what was written there before it, too. */
        struct item *lost = lane->unsure;
        lane->unsure = NULL;
        retry_lost(lane, lost);
    }
}

/* Looks at the connection before it is used again or let go: what a reset lost goes out once
 * more, and the connection is kept only while it is whole. */
static void settle(struct lane *lane)
{
    if (!lane->unsure)
        return;
    enum link_state state = lane->fd < 0 ? LINK_CLOSED : link_state(lane->fd);
    struct item *lost = lane->unsure;
    lane->unsure = NULL;
    if (state != LINK_OPEN && lane->fd >= 0) {
        close(lane->fd);
        lane->fd = -1;
    }
    if (state == LINK_RESET)
        retry_lost(lane, lost);
    else
        free_items(lost);
}

static void deliver(struct lane *lane, struct item *it)
{
    if (lane->unsure) {
        settle(lane);
    } else if (lane->fd >= 0 && link_state(lane->fd) != LINK_OPEN) {
        close(lane->fd);
        lane->fd = -1;
    }
    write_item(lane, it);
}

/* Called with g_lock held, as are the three below. */
static struct lane **dest_bucket(struct in_addr dest, unsigned short port)
{
    uint32_t h = ((uint32_t)dest.s_addr ^ ((uint32_t)port << 7)) * 2654435761u;
    return &g_by_dest[(h >> 16) % LANE_BUCKETS];
}

static void hash_lane(struct lane *lane)
{
    struct lane **at = dest_bucket(lane->dest, lane->port);
    lane->next_by_dest = *at;
    *at = lane;
}

static void unhash_lane(struct lane *lane)
{
    for (struct lane **at = dest_bucket(lane->dest, lane->port); *at; at = &(*at)->next_by_dest) {
        if (*at == lane) {
            *at = lane->next_by_dest;
            return;
        }
    }
}

static void unlink_lane(struct lane *lane)
{
    unhash_lane(lane);
    if (lane->prev)
        lane->prev->next = lane->next;
    else
        g_lanes = lane->next;
    if (lane->next)
        lane->next->prev = lane->prev;
    g_nlanes--;
}

static void *lane_main(void *arg)
{
    struct lane *lane = arg;
    pthread_mutex_lock(&g_lock);
    for (;;) {
        while (!lane->head) {
            if (lane->busy) {
                lane->busy = 0;
                lane->idle_since_ms = vqs_now_ms();
                pthread_cond_broadcast(&g_idle);
            }
            long long end = lane->idle_since_ms + lane->idle_ms;
            struct timespec deadline = {.tv_sec = (time_t)(end / 1000),
                                        .tv_nsec = (long)(end % 1000) * 1000000L};
            if (pthread_cond_timedwait(&lane->work, &g_lock, &deadline) == ETIMEDOUT &&
                !lane->head && vqs_now_ms() >= lane->idle_since_ms + lane->idle_ms) {
                if (lane->unsure) {
                    /* Not let go before what was written last is known not to be lost. */
                    lane->busy = 1;
                    pthread_mutex_unlock(&g_lock);
                    settle(lane);
                    pthread_mutex_lock(&g_lock);
                    if (lane->head || lane->unsure)
                        continue; /* wait again: for the new message, or for the retry */
                }
                /* Idle long enough: the thread and connection go; the lane is kept for the
                 * next (a sender may still be signalling it). */
                const int fd = lane->fd;
                unlink_lane(lane);
                lane->next = g_spare;
                g_spare = lane;
                pthread_cond_broadcast(&g_idle); /* it may have been busy settling */
                pthread_mutex_unlock(&g_lock);
                if (fd >= 0)
                    close(fd);
                return NULL;
            }
        }
        struct item *it = lane->head;
        lane->head = it->next;
        if (!lane->head)
            lane->tail = NULL;
        lane->busy = 1;
        pthread_mutex_unlock(&g_lock);

        deliver(lane, it);
        pthread_mutex_lock(&g_lock);
    }
}

/* Called with g_lock held. */
static int lanes_idle(void)
{
    for (const struct lane *lane = g_lanes; lane; lane = lane->next)
        if (lane->head || lane->busy)
            return 0;
    return 1;
}

/* A program that sends and returns from main at once still gets its messages out. */
static void flush_at_exit(void)
{
    if (getpid() != g_owner)
        return; /* a forked child has no sender thread */
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += EXIT_FLUSH_S;
    pthread_mutex_lock(&g_lock);
    while (!lanes_idle()) {
        if (pthread_cond_timedwait(&g_idle, &g_lock, &deadline) == ETIMEDOUT)
            break;
    }
    pthread_mutex_unlock(&g_lock);
}

/* Called with g_lock held. */
static void prepare_once(void)
{
    static int prepared;
    if (prepared)
        return;
    pthread_condattr_init(&g_monotonic);
    pthread_condattr_setclock(&g_monotonic, CLOCK_MONOTONIC);
    pthread_cond_init(&g_idle, &g_monotonic);
    g_owner = getpid();
    atexit(flush_at_exit);
    prepared = 1;
}

/* The idle lane that has waited longest, or NULL. Called with g_lock held. */
static struct lane *oldest_idle(void)
{
    struct lane *oldest = NULL;
    for (struct lane *lane = g_lanes; lane; lane = lane->next)
        if (!lane->head && !lane->busy && (!oldest || lane->idle_since_ms < oldest->idle_since_ms))
            oldest = lane;
    return oldest;
}

/* The lane of a destination, started on its first message; at the bound an idle lane is
 * taken over, and with none idle there is none (*full set). Called with g_lock held. */
static struct lane *lane_for(struct in_addr dest, unsigned short port, struct in_addr source,
                             size_t max_lanes, long long idle_ms, int *full)
{
    for (struct lane *lane = *dest_bucket(dest, port); lane; lane = lane->next_by_dest)
        if (lane->dest.s_addr == dest.s_addr && lane->port == port &&
            lane->source.s_addr == source.s_addr)
            return lane;
    prepare_once();
    struct lane *lane = g_nlanes >= max_lanes ? oldest_idle() : NULL;
    *full = g_nlanes >= max_lanes && !lane;
    if (*full)
        return NULL;
    if (lane) {
        /* Idle, so its thread waits and nothing of the old destination is queued. */
        if (lane->fd >= 0)
            close(lane->fd);
        lane->fd = -1;
        free_items(lane->unsure);
        lane->unsure = NULL;
        unhash_lane(lane);
        lane->dest = dest;
        lane->port = port;
        lane->source = source;
        lane->idle_ms = idle_ms;
        hash_lane(lane);
        return lane;
    }
    if (g_spare) {
        /* Its condition variable stays as it is: a late signal may be on it. */
        lane = g_spare;
        g_spare = lane->next;
        lane->head = lane->tail = lane->unsure = NULL;
        lane->idle_since_ms = 0;
    } else if ((lane = calloc(1, sizeof *lane))) {
        pthread_cond_init(&lane->work, &g_monotonic);
    } else {
        return NULL;
    }
    lane->dest = dest;
    lane->port = port;
    lane->source = source;
    lane->fd = -1;
    lane->busy = 1; /* until its thread first waits */
    lane->idle_ms = idle_ms;

    int rc = vqs_start_thread(lane_main, lane);
    if (rc != 0) {
        fprintf(stderr, "vqs: cannot start a sender thread: %s\n", strerror(rc));
        lane->next = g_spare;
        g_spare = lane;
        return NULL;
    }
    lane->next = g_lanes;
    lane->prev = NULL;
    if (g_lanes)
        g_lanes->prev = lane;
    g_lanes = lane;
    hash_lane(lane);
    g_nlanes++;
    return lane;
}

int vqs_peer_accepted(struct in_addr peer, const char *allow)
{
    struct in_addr found = {.s_addr = htonl(INADDR_ANY)};
    pthread_mutex_lock(&g_lock);
    if (vqs_contacts_has(peer))
        found = peer;
    pthread_mutex_unlock(&g_lock);
    return vqs_peer_allowed(peer, &found, found.s_addr == htonl(INADDR_ANY) ? 0 : 1, allow);
}

/* VQS_BIND when it names one address of the same kind as dest: a message to loopback never
 * leaves from an outside address, nor the reverse. */
static struct in_addr source_for(struct in_addr dest)
{
    struct in_addr source = {.s_addr = htonl(INADDR_ANY)};
    struct in_addr bound;
    const int loopback = (ntohl(dest.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET, vqs_env("VQS_BIND", "0.0.0.0"), &bound) == 1 &&
        ((ntohl(bound.s_addr) >> 24) == 127) == loopback)
        source = bound;
    return source;
}

int vqs_tcp_send(struct in_addr addr, const char *text, size_t len)
{
    struct item *it = malloc(sizeof *it + 4 + len);
    if (!it)
        return -1;
    it->next = NULL;
    it->retried = 0;
    it->size = 4 + len;
    uint32_t wire = htonl((uint32_t)len);
    memcpy(it->bytes, &wire, 4);
    memcpy(it->bytes + 4, text, len);

    const unsigned short port = vqs_port();
    const struct in_addr source = source_for(addr);
    const size_t max_lanes = (size_t)vqs_env_number("VQS_MAX_LANES", DEFAULT_MAX_LANES, 1, 1 << 20);
    const long long idle_ms =
        1000LL * vqs_env_number("VQS_LANE_IDLE", DEFAULT_LANE_IDLE_S, 1, 86400);
    int full = 0;
    pthread_mutex_lock(&g_lock);
    struct lane *lane = lane_for(addr, port, source, max_lanes, idle_ms, &full);
    if (!lane) {
        const size_t busy = g_nlanes;
        pthread_mutex_unlock(&g_lock);
        free(it);
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &addr, text, sizeof text);
        if (full)
            fprintf(stderr, "vqs: message to %s:%u dropped: all %zu senders are busy\n", text, port,
                    busy);
        return -1;
    }
    /* Recorded before delivery so that an answer racing the message is let in. */
    vqs_contacts_note(addr);
    if (lane->tail)
        lane->tail->next = it;
    else
        lane->head = it;
    lane->tail = it;
    pthread_mutex_unlock(&g_lock);
    /* Outside the lock, so the woken thread does not wait for it at once; a lane is never
     * freed, so a late signal can at worst wake another lane's thread for nothing. */
    pthread_cond_signal(&lane->work);
    return 0;
}
