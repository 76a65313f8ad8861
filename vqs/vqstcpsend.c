/* The sending side of the direct TCP transport: callers queue; one thread per destination
 * delivers over its connection. Lanes are bounded and reaped when idle: a peer naming many
 * addresses costs a bounded number of threads. */

#include "vqstcpsend.h"
#include "vqsallow.h"
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
/* Addresses remembered as contacted; beyond, the one sent to longest ago is forgotten. */
#define MAX_CONTACTED 4096

#ifndef IP_BIND_ADDRESS_NO_PORT
#define IP_BIND_ADDRESS_NO_PORT 24
#endif

struct item {
    struct item *next;
    size_t size;
    unsigned char bytes[]; /* 4-byte big-endian length, then the text */
};

/* One queue, thread and connection per destination: a destination that does not answer
 * holds back only its own messages. */
struct lane {
    struct lane *next;
    struct in_addr dest;
    unsigned short port;
    struct in_addr source; /* INADDR_ANY: the kernel chooses */
    int fd;                /* the lane's thread's while busy; whoever holds g_lock while idle */
    struct item *head;
    struct item *tail;
    int busy;
    long long idle_since_ms;
    long long idle_ms;
    pthread_cond_t work;
};

struct contact {
    struct in_addr addr;
    unsigned long long seq; /* when last sent to */
};

/* g_lock guards the lanes' queues and states and the contacted addresses. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_idle;
static struct lane *g_lanes;
static size_t g_nlanes;
static pid_t g_owner;
static pthread_condattr_t g_monotonic;
static struct contact g_contacted[MAX_CONTACTED];
static size_t g_ncontacted;
static unsigned long long g_seq;

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

/* The receiver never writes, so anything readable is its close or an error. */
static int link_broken(int fd)
{
    struct pollfd p = {.fd = fd, .events = POLLIN | POLLRDHUP};
    return poll(&p, 1, 0) != 0;
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

static void drop(const struct lane *lane, int err)
{
    char addr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &lane->dest, addr, sizeof addr);
    fprintf(stderr, "vqs: message to %s:%u dropped: %s\n", addr, lane->port, strerror(err));
}

static void deliver(struct lane *lane, const struct item *it)
{
    if (lane->fd >= 0 && link_broken(lane->fd)) {
        close(lane->fd);
        lane->fd = -1;
    }
    /* A connection that broke since the last message gets one fresh attempt. */
    for (int attempt = 0; attempt < 2; attempt++) {
        int err = 0;
        if (lane->fd < 0 &&
            (lane->fd = open_link(lane->dest, lane->port, lane->source, &err)) < 0) {
            drop(lane, err);
            return;
        }
        if (send_all(lane->fd, it->bytes, it->size) == 0)
            return;
        err = errno;
        close(lane->fd);
        lane->fd = -1;
        if (attempt == 1 || (err != EPIPE && err != ECONNRESET)) {
            drop(lane, err);
            return;
        }
    }
}

/* Called with g_lock held. */
static void unlink_lane(struct lane *lane)
{
    for (struct lane **at = &g_lanes; *at; at = &(*at)->next) {
        if (*at == lane) {
            *at = lane->next;
            g_nlanes--;
            return;
        }
    }
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
                /* Idle long enough: the thread, queue and connection go. */
                unlink_lane(lane);
                pthread_mutex_unlock(&g_lock);
                if (lane->fd >= 0)
                    close(lane->fd);
                pthread_cond_destroy(&lane->work);
                free(lane);
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
        free(it);
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
    for (struct lane *lane = g_lanes; lane; lane = lane->next)
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
        lane->dest = dest;
        lane->port = port;
        lane->source = source;
        lane->idle_ms = idle_ms;
        return lane;
    }
    lane = calloc(1, sizeof *lane);
    if (!lane)
        return NULL;
    lane->dest = dest;
    lane->port = port;
    lane->source = source;
    lane->fd = -1;
    lane->busy = 1; /* until its thread first waits */
    lane->idle_ms = idle_ms;
    pthread_cond_init(&lane->work, &g_monotonic);

    int rc = vqs_start_thread(lane_main, lane);
    if (rc != 0) {
        fprintf(stderr, "vqs: cannot start a sender thread: %s\n", strerror(rc));
        pthread_cond_destroy(&lane->work);
        free(lane);
        return NULL;
    }
    lane->next = g_lanes;
    g_lanes = lane;
    g_nlanes++;
    return lane;
}

/* Bounded: past MAX_CONTACTED the address sent to longest ago is forgotten. Called with
 * g_lock held. */
static void remember(struct in_addr dest)
{
    size_t slot = g_ncontacted;
    for (size_t i = 0; i < g_ncontacted; i++) {
        if (g_contacted[i].addr.s_addr == dest.s_addr) {
            slot = i;
            break;
        }
        if (g_ncontacted == MAX_CONTACTED &&
            (slot == g_ncontacted || g_contacted[i].seq < g_contacted[slot].seq))
            slot = i;
    }
    if (slot == g_ncontacted)
        g_ncontacted++;
    g_contacted[slot].addr = dest;
    g_contacted[slot].seq = ++g_seq;
}

int vqs_peer_accepted(struct in_addr peer, const char *allow)
{
    struct in_addr found = {.s_addr = htonl(INADDR_ANY)};
    pthread_mutex_lock(&g_lock);
    for (size_t i = 0; i < g_ncontacted; i++)
        if (g_contacted[i].addr.s_addr == peer.s_addr)
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
    remember(addr);
    if (lane->tail)
        lane->tail->next = it;
    else
        lane->head = it;
    lane->tail = it;
    pthread_cond_signal(&lane->work);
    pthread_mutex_unlock(&g_lock);
    return 0;
}
