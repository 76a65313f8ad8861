/* The sending side of the direct TCP transport: callers queue; one thread per destination
 * delivers over its connection. */

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
    int fd; /* only the lane's thread touches it */
    struct item *head;
    struct item *tail;
    int busy;
    pthread_cond_t work;
};

/* g_lock guards the lanes' queues and states and the contacted addresses. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_idle;
static struct lane *g_lanes;
static pid_t g_owner;
static struct in_addr *g_contacted;
static size_t g_ncontacted;
static size_t g_capcontacted;

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

static int open_link(struct in_addr dest, unsigned short port, int *err)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
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
        if (lane->fd < 0 && (lane->fd = open_link(lane->dest, lane->port, &err)) < 0) {
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

static void *lane_main(void *arg)
{
    struct lane *lane = arg;
    for (;;) {
        pthread_mutex_lock(&g_lock);
        while (!lane->head) {
            lane->busy = 0;
            pthread_cond_broadcast(&g_idle);
            pthread_cond_wait(&lane->work, &g_lock);
        }
        struct item *it = lane->head;
        lane->head = it->next;
        if (!lane->head)
            lane->tail = NULL;
        lane->busy = 1;
        pthread_mutex_unlock(&g_lock);

        deliver(lane, it);
        free(it);
    }
    return NULL;
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
    pthread_condattr_t cattr;
    pthread_condattr_init(&cattr);
    pthread_condattr_setclock(&cattr, CLOCK_MONOTONIC);
    pthread_cond_init(&g_idle, &cattr);
    pthread_condattr_destroy(&cattr);
    g_owner = getpid();
    atexit(flush_at_exit);
    prepared = 1;
}

/* The lane of a destination, started on its first message. Called with g_lock held. */
static struct lane *lane_for(struct in_addr dest, unsigned short port)
{
    for (struct lane *lane = g_lanes; lane; lane = lane->next)
        if (lane->dest.s_addr == dest.s_addr && lane->port == port)
            return lane;
    prepare_once();
    struct lane *lane = calloc(1, sizeof *lane);
    if (!lane)
        return NULL;
    lane->dest = dest;
    lane->port = port;
    lane->fd = -1;
    lane->busy = 1; /* until its thread first waits */
    pthread_cond_init(&lane->work, NULL);

    int rc = vqs_start_thread(lane_main, lane);
    if (rc != 0) {
        fprintf(stderr, "vqs: cannot start a sender thread: %s\n", strerror(rc));
        pthread_cond_destroy(&lane->work);
        free(lane);
        return NULL;
    }
    lane->next = g_lanes;
    g_lanes = lane;
    return lane;
}

/* Called with g_lock held. */
static void remember(struct in_addr dest)
{
    for (size_t i = 0; i < g_ncontacted; i++) {
        if (g_contacted[i].s_addr == dest.s_addr)
            return;
    }
    if (g_ncontacted == g_capcontacted) {
        size_t cap = g_capcontacted ? 2 * g_capcontacted : 8;
        struct in_addr *grown = realloc(g_contacted, cap * sizeof *grown);
        if (!grown)
            return;
        g_contacted = grown;
        g_capcontacted = cap;
    }
    g_contacted[g_ncontacted++] = dest;
}

int vqs_peer_accepted(struct in_addr peer, const char *allow)
{
    pthread_mutex_lock(&g_lock);
    int allowed = vqs_peer_allowed(peer, g_contacted, g_ncontacted, allow);
    pthread_mutex_unlock(&g_lock);
    return allowed;
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

    pthread_mutex_lock(&g_lock);
    struct lane *lane = lane_for(addr, vqs_port());
    if (!lane) {
        pthread_mutex_unlock(&g_lock);
        free(it);
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
