/* The sending side: callers queue, one thread delivers over one connection per destination. */

#include "vqssend.h"
#include "vqs.h"
#include "vqsallow.h"
#include "vqsenv.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
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
    struct in_addr dest;
    unsigned short port;
    size_t size;
    unsigned char bytes[]; /* 4-byte big-endian length, then the text */
};

struct link {
    struct in_addr dest;
    unsigned short port;
    int fd;
};

/* g_lock guards the queue, the thread's state and the contacted addresses. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_work = PTHREAD_COND_INITIALIZER;
static pthread_cond_t g_idle;
static struct item *g_head;
static struct item *g_tail;
static int g_busy;
static int g_started;
static pid_t g_owner;
static struct in_addr *g_contacted;
static size_t g_ncontacted;
static size_t g_capcontacted;

/* Only the sender thread touches the connections. */
static struct link *g_links;
static size_t g_nlinks;

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static int wait_writable(int fd, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    for (;;) {
        long long left = deadline - now_ms();
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

static struct link *link_for(struct in_addr dest, unsigned short port)
{
    for (size_t i = 0; i < g_nlinks; i++) {
        if (g_links[i].dest.s_addr == dest.s_addr && g_links[i].port == port)
            return &g_links[i];
    }
    struct link *grown = realloc(g_links, (g_nlinks + 1) * sizeof *grown);
    if (!grown)
        return NULL;
    g_links = grown;
    g_links[g_nlinks] = (struct link){.dest = dest, .port = port, .fd = -1};
    return &g_links[g_nlinks++];
}

static void drop(const struct item *it, int err)
{
    char addr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &it->dest, addr, sizeof addr);
    fprintf(stderr, "vqs: message to %s:%u dropped: %s\n", addr, it->port, strerror(err));
}

static void deliver(const struct item *it)
{
    struct link *l = link_for(it->dest, it->port);
    if (!l) {
        drop(it, ENOMEM);
        return;
    }
    if (l->fd >= 0 && link_broken(l->fd)) {
        close(l->fd);
        l->fd = -1;
    }
    /* A connection that broke since the last message gets one fresh attempt. */
    for (int attempt = 0; attempt < 2; attempt++) {
        int err = 0;
        if (l->fd < 0 && (l->fd = open_link(it->dest, it->port, &err)) < 0) {
            drop(it, err);
            return;
        }
        if (send_all(l->fd, it->bytes, it->size) == 0)
            return;
        err = errno;
        close(l->fd);
        l->fd = -1;
        if (attempt == 1 || (err != EPIPE && err != ECONNRESET)) {
            drop(it, err);
            return;
        }
    }
}

static void *sender_main(void *unused)
{
    (void)unused;
    for (;;) {
        pthread_mutex_lock(&g_lock);
        while (!g_head) {
            g_busy = 0;
            pthread_cond_broadcast(&g_idle);
            pthread_cond_wait(&g_work, &g_lock);
        }
        struct item *it = g_head;
        g_head = it->next;
        if (!g_head)
            g_tail = NULL;
        g_busy = 1;
        pthread_mutex_unlock(&g_lock);

        deliver(it);
        free(it);
    }
    return NULL;
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
    while (g_head || g_busy) {
        if (pthread_cond_timedwait(&g_idle, &g_lock, &deadline) == ETIMEDOUT)
            break;
    }
    pthread_mutex_unlock(&g_lock);
}

/* Called with g_lock held. */
static int start_sender(void)
{
    static int prepared;
    if (!prepared) {
        pthread_condattr_t cattr;
        pthread_condattr_init(&cattr);
        pthread_condattr_setclock(&cattr, CLOCK_MONOTONIC);
        pthread_cond_init(&g_idle, &cattr);
        pthread_condattr_destroy(&cattr);
        g_owner = getpid();
        atexit(flush_at_exit);
        prepared = 1;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    /* The caller's signal handlers must not run on the library's thread. */
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, sender_main, NULL);
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        fprintf(stderr, "vqs: cannot start the sender thread: %s\n", strerror(rc));
        return -1;
    }
    g_started = 1;
    return 0;
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

int vqs_message_send(const char *dest, const char *text)
{
    struct in_addr addr;
    if (!text) {
        fprintf(stderr, "vqs: message refused: no text\n");
        return -1;
    }
    if (!dest || inet_pton(AF_INET, dest, &addr) != 1) {
        fprintf(stderr, "vqs: message refused: destination \"%s\" is not an IPv4 address\n",
                dest ? dest : "");
        return -1;
    }
    size_t len = strnlen(text, VQS_MAX_MESSAGE + 1);
    if (len > VQS_MAX_MESSAGE) {
        fprintf(stderr, "vqs: message to %s refused: longer than %d bytes\n", dest,
                VQS_MAX_MESSAGE);
        return -1;
    }
    struct item *it = malloc(sizeof *it + 4 + len);
    if (!it)
        return -1;
    it->next = NULL;
    it->dest = addr;
    it->port = vqs_port();
    it->size = 4 + len;
    uint32_t wire = htonl((uint32_t)len);
    memcpy(it->bytes, &wire, 4);
    memcpy(it->bytes + 4, text, len);

    pthread_mutex_lock(&g_lock);
    if (!g_started && start_sender() != 0) {
        pthread_mutex_unlock(&g_lock);
        free(it);
        return -1;
    }
    /* Recorded before delivery so that an answer racing the message is let in. */
    remember(addr);
    if (g_tail)
        g_tail->next = it;
    else
        g_head = it;
    g_tail = it;
    pthread_cond_signal(&g_work);
    pthread_mutex_unlock(&g_lock);
    return 0;
}
