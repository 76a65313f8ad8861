/* The sending side of the broker transport: callers queue; one thread keeps one connection,
 * publishes persistent messages and forgets each only when the broker has confirmed it. */

#include "vqsbrokersend.h"
#include "vqsbroker.h"
#include "vqslink.h"
#include "vqsmark.h"
#include "vqsnodes.h"
#include "vqsthread.h"
#include "vqstime.h"

#include <amqp.h>

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#define EXIT_FLUSH_S 10
/* Messages published and not yet confirmed at most. */
#define WINDOW 256
/* At exit, the messages that could not go out are named up to this many. */
#define NAMED_AT_EXIT 10
/* A message the broker has neither confirmed nor refused after this long goes out again: a
 * stream whose leader moved drops what was written to the old one without a word (RabbitMQ
 * 3.10). A healthy cluster confirms within milliseconds. */
#define CONFIRM_WAIT_MS 5000

struct item {
    struct item *next;
    unsigned long long seq;
    unsigned long long after; /* the last push it follows (see vqs_broker_send_grouped); 0: none */
    uint64_t tag;             /* delivery tag on the current channel; 0 while not published there */
    long long published_ms;   /* when it went out on the current channel */
    int push;                 /* to a stream: the broadcast address or a group's */
    char dest[VQS_GROUP_KEY_SIZE];
    size_t len;
    char text[];
};

/* g_lock guards the queue, the counters and g_settings. */
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_progress; /* a message confirmed or dropped, or an attempt failed */
static struct item *g_head;
static struct item *g_tail;
static long g_count;
static unsigned long long g_next_seq;
static unsigned long long g_last_push;
/* The last push to each group's stream, for the messages to its desktops; beyond GROUP_KEYS
 * groups a message to one desktop names the latest push of all. */
#define GROUP_KEYS 256
static struct {
    char key[VQS_GROUP_KEY_SIZE];
    unsigned long long seq;
} g_group_pushes[GROUP_KEYS];
static int g_group_count;
static unsigned long long g_latest_push;
static unsigned long g_failures; /* connection attempts that failed */
static int g_hurry;              /* the program ends: try now instead of after the pause */
static const struct vqs_settings *g_settings;
static int g_started;
static pid_t g_owner;
static int g_wake = -1;

/* Used by the sending thread only. */
static struct vqs_link t_link;
static struct vqs_nodes t_nodes;
static const struct vqs_settings *t_used; /* what t_link was made with */
static uint64_t t_next_tag;
/* After a refusal, messages up to this one go out one at a time, so that the one refused
 * is known and only it is dropped. */
static unsigned long long t_careful_until;
static long long t_next_attempt;
static struct vqs_retry t_retry = VQS_RETRY_INIT;

static void wake_sender(void)
{
    uint64_t one = 1;
    if (g_wake >= 0 && write(g_wake, &one, sizeof one) < 0) {
        /* Already signalled. */
    }
}

static void drain_wake(void)
{
    uint64_t count;
    if (read(g_wake, &count, sizeof count) < 0) {
        /* Nothing was signalled. */
    }
}

/* Called with g_lock held. */
static void forget(struct item *it, struct item *prev)
{
    if (prev)
        prev->next = it->next;
    else
        g_head = it->next;
    if (g_tail == it)
        g_tail = prev;
    g_count--;
    free(it);
}

/* Drops the published messages the broker settled with tag (all up to it with multiple);
 * says why for each when why is given. */
static void settle(uint64_t tag, int multiple, const char *why)
{
    pthread_mutex_lock(&g_lock);
    struct item *prev = NULL;
    for (struct item *it = g_head; it;) {
        struct item *next = it->next;
        if (it->tag && (it->tag == tag || (multiple && it->tag < tag))) {
            if (why)
                fprintf(stderr, "vqs: message to %s dropped: %s\n", it->dest, why);
            forget(it, prev);
        } else {
            prev = it;
        }
        it = next;
    }
    pthread_cond_broadcast(&g_progress);
    pthread_mutex_unlock(&g_lock);
}

static int same_broker(const struct vqs_settings *a, const struct vqs_settings *b)
{
    return strcmp(a->url, b->url) == 0 && strcmp(a->user, b->user) == 0 &&
           strcmp(a->password, b->password) == 0 && strcmp(a->address, b->address) == 0 &&
           strcmp(a->exchange, b->exchange) == 0 &&
           strcmp(a->server_exchange, b->server_exchange) == 0 && a->server == b->server &&
           strcmp(a->cacert, b->cacert) == 0 && strcmp(a->cert, b->cert) == 0 &&
           strcmp(a->key, b->key) == 0;
}

static void drop_link(int pause)
{
    /* A connection that worked and failed: its node may be gone, the next is tried first. */
    if (t_link.conn && t_link.broken)
        vqs_nodes_lost(&t_nodes);
    vqs_link_close(&t_link);
    pthread_mutex_lock(&g_lock);
    for (struct item *it = g_head; it; it = it->next)
        it->tag = 0;
    pthread_mutex_unlock(&g_lock);
    t_next_attempt = pause ? vqs_now_ms() + t_retry.ms : 0;
}

static void attempt_failed(const struct vqs_settings *s, const char *why)
{
    vqs_link_report(s, "", why);
    vqs_link_close(&t_link);
    t_next_attempt = vqs_retry_next(&t_retry);
    pthread_mutex_lock(&g_lock);
    g_failures++;
    pthread_cond_broadcast(&g_progress);
    pthread_mutex_unlock(&g_lock);
}

static int connect_link(const struct vqs_settings *s)
{
    char why[1024];
    amqp_rpc_reply_t reply;
    if (t_nodes.from != s)
        vqs_nodes_reset(&t_nodes, s);
    if (vqs_nodes_open(&t_nodes, &t_link, &reply, why, sizeof why) != 0 ||
        amqp_confirm_select(t_link.conn, t_link.channel) == NULL) {
        if (t_link.conn && !t_link.broken)
            vqs_link_describe(amqp_get_rpc_reply(t_link.conn), why, sizeof why);
        attempt_failed(s, why);
        return -1;
    }
    vqs_link_report_clear();
    t_used = s;
    t_next_tag = 0;
    return 0;
}

/* Publishes what waits, within the window. One push is open at a time: should the stream's
 * leader move under it, it goes out again before any push after it is written, so the stream
 * keeps the pushes in order. A message to one desktop goes out only once the push it follows
 * is confirmed: were it to overtake a push the broker dropped and that is still to go out
 * again, the desktop would take it first and then drop the push as older. 0, or -1 when the
 * connection failed. */
static int publish_waiting(void)
{
    struct item *batch[WINDOW];
    size_t n = 0;
    pthread_mutex_lock(&g_lock);
    size_t outstanding = 0;
    int push_open = 0;
    struct item *first = NULL;
    unsigned long long open_push = 0; /* the first push not yet confirmed; 0: none */
    for (struct item *it = g_head; it; it = it->next) {
        if (it->push && !open_push)
            open_push = it->seq;
        if (it->tag) {
            outstanding++;
            push_open |= it->push;
        } else if (!first) {
            first = it;
        }
    }
    size_t window = first && first->seq <= t_careful_until ? 1 : WINDOW;
    const long long now = vqs_now_ms();
    for (struct item *it = first; it && outstanding + n < window; it = it->next) {
        if (it->tag)
            continue;
        if (it->push && push_open)
            break;
        if (!it->push && it->after && open_push && open_push <= it->after)
            break;
        push_open |= it->push;
        it->tag = ++t_next_tag;
        it->published_ms = now;
        batch[n++] = it;
    }
    pthread_mutex_unlock(&g_lock);

    /* Only this thread frees items, so the batch stays valid without the lock. */
    const struct vqs_settings *s = t_used;
    /* A desktop reaches the catalog server alone; only the server's account writes to the
     * exchange every desktop's queue is bound to. */
    const amqp_bytes_t exchange = amqp_cstring_bytes(s->server ? s->exchange : s->server_exchange);
    for (size_t i = 0; i < n; i++) {
        char id[VQS_MARK_SIZE];
        vqs_mark_make(batch[i]->seq, id, sizeof id);
        amqp_basic_properties_t props;
        memset(&props, 0, sizeof props);
        /* The broker checks the user-id against the login: the receiver knows who sent it. */
        props._flags =
            AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_MESSAGE_ID_FLAG | AMQP_BASIC_USER_ID_FLAG;
        props.delivery_mode = AMQP_DELIVERY_PERSISTENT;
        props.message_id = amqp_cstring_bytes(id);
        props.user_id = amqp_cstring_bytes(t_link.user);
        /* A desktop reads the pushes from the stream: what follows one waits for it there. */
        amqp_table_entry_t after;
        after.key = amqp_cstring_bytes("x-vqs-after");
        after.value.kind = AMQP_FIELD_KIND_I64;
        after.value.value.i64 = (int64_t)batch[i]->after;
        if (batch[i]->after) {
            props._flags |= AMQP_BASIC_HEADERS_FLAG;
            props.headers.num_entries = 1;
            props.headers.entries = &after;
        }
        amqp_bytes_t body = {.len = batch[i]->len, .bytes = batch[i]->text};
        int rc = amqp_basic_publish(t_link.conn, t_link.channel, exchange,
                                    amqp_cstring_bytes(batch[i]->dest), 1, 0, &props, body);
        if (rc != AMQP_STATUS_OK) {
            vqs_link_report(s, "lost the connection: ", amqp_error_string2(rc));
            t_link.broken = 1;
            return -1;
        }
    }
    return 0;
}

/* The broker closed the channel over a message it would not take, whatever the code (403 for
 * rights, 406 for its size, 404 for a missing exchange): that message is dropped once it is
 * known, or it would be refused again after every reconnection and hold back all others. */
static void channel_closed(const amqp_channel_close_t *m)
{
    char text[512];
    snprintf(text, sizeof text, "%.*s", (int)m->reply_text.len, (const char *)m->reply_text.bytes);
    pthread_mutex_lock(&g_lock);
    size_t outstanding = 0;
    struct item *only = NULL;
    for (struct item *it = g_head; it; it = it->next) {
        if (it->tag) {
            outstanding++;
            only = it;
        }
    }
    /* The refused message is never confirmed: when it is the only one open, it is known.
     * Otherwise those open go out again one at a time until it shows. */
    if (outstanding > 1 && only->seq > t_careful_until)
        t_careful_until = only->seq;
    pthread_mutex_unlock(&g_lock);
    if (outstanding == 0) {
        /* Not about a message: connect again after the usual pause. */
        vqs_link_report(t_used, "the broker stopped the publishing: ", text);
    } else if (outstanding == 1) {
        char why[600];
        snprintf(why, sizeof why, "refused by the broker (%s)", text);
        settle(only->tag, 0, why);
    }
    drop_link(outstanding == 0);
}

/* 0, or -1 when the connection has to be made again. */
static int handle_frame(const amqp_frame_t *frame)
{
    if (frame->frame_type != AMQP_FRAME_METHOD)
        return 0;
    switch (frame->payload.method.id) {
    case AMQP_BASIC_ACK_METHOD: {
        const amqp_basic_ack_t *ack = frame->payload.method.decoded;
        settle(ack->delivery_tag, ack->multiple, NULL);
        /* The broker keeps messages again: the next trouble starts with a short pause. */
        vqs_retry_reset(&t_retry);
        return 0;
    }
    case AMQP_BASIC_NACK_METHOD:
        /* Not refused, not kept: a quorum queue that has lost its majority, or whose new
         * leader is not settled yet, nacks. Dropping the message would lose it; it and all
         * still open after it go out again, in order, on a new connection after a pause that
         * grows while the broker nacks. */
        vqs_link_report(t_used, "", "the broker could not keep a message; it goes out again");
        drop_link(0);
        t_next_attempt = vqs_retry_next(&t_retry);
        return -1;
    case AMQP_BASIC_RETURN_METHOD: {
        const amqp_basic_return_t *ret = frame->payload.method.decoded;
        /* The confirm that follows settles it; the content comes along and is read off. */
        fprintf(stderr, "vqs: message to %.*s dropped: no queue is bound to that address\n",
                (int)ret->routing_key.len, (const char *)ret->routing_key.bytes);
        amqp_message_t message;
        if (amqp_read_message(t_link.conn, frame->channel, &message, 0).reply_type !=
            AMQP_RESPONSE_NORMAL) {
            t_link.broken = 1;
            drop_link(1);
            return -1;
        }
        amqp_destroy_message(&message);
        return 0;
    }
    case AMQP_CHANNEL_CLOSE_METHOD:
        channel_closed(frame->payload.method.decoded);
        return -1;
    case AMQP_CONNECTION_CLOSE_METHOD: {
        const amqp_connection_close_t *m = frame->payload.method.decoded;
        char text[600];
        snprintf(text, sizeof text, "%.*s", (int)m->reply_text.len,
                 (const char *)m->reply_text.bytes);
        vqs_link_report(t_used, "the broker closed the connection: ", text);
        t_link.broken = 1;
        drop_link(1);
        return -1;
    }
    default:
        return 0;
    }
}

/* Milliseconds until the oldest message out is overdue for its confirm (0: it is); -1: none
 * is out. Messages go out in the queue's order, so the first one out is the oldest. */
static long long until_overdue(void)
{
    long long oldest = -1;
    pthread_mutex_lock(&g_lock);
    for (const struct item *it = g_head; it && oldest < 0; it = it->next) {
        if (it->tag)
            oldest = it->published_ms;
    }
    pthread_mutex_unlock(&g_lock);
    if (oldest < 0)
        return -1;
    const long long left = oldest + CONFIRM_WAIT_MS - vqs_now_ms();
    return left > 0 ? left : 0;
}

/* Waits for the broker, new messages or the next heartbeat and handles what came. 0, or -1
 * when the connection has to be made again. */
static int service(void)
{
    if (!amqp_frames_enqueued(t_link.conn) && !amqp_data_in_buffer(t_link.conn)) {
        struct pollfd fds[2] = {{.fd = amqp_get_sockfd(t_link.conn), .events = POLLIN},
                                {.fd = g_wake, .events = POLLIN}};
        long long wait = VQS_HEARTBEAT_S * 1000 / 2;
        const long long overdue = until_overdue();
        if (overdue >= 0 && overdue < wait)
            wait = overdue;
        if (poll(fds, 2, (int)wait) < 0 && errno != EINTR)
            return 0;
        if (fds[1].revents)
            drain_wake();
    }
    for (;;) {
        amqp_frame_t frame;
        struct timeval none = {0, 0};
        /* Also sends a heartbeat when one is due. */
        int rc = amqp_simple_wait_frame_noblock(t_link.conn, &frame, &none);
        if (rc == AMQP_STATUS_TIMEOUT)
            break;
        if (rc != AMQP_STATUS_OK) {
            vqs_link_report(t_used, "lost the connection: ", amqp_error_string2(rc));
            t_link.broken = 1;
            drop_link(1);
            return -1;
        }
        if (handle_frame(&frame) != 0)
            return -1;
    }
    amqp_maybe_release_buffers(t_link.conn);
    return 0;
}

/* Waits for new messages (or a wake-up) for at most ms milliseconds; -1: without end. */
static void idle(long long ms)
{
    struct pollfd p = {.fd = g_wake, .events = POLLIN};
    if (poll(&p, 1, ms < 0 ? -1 : (int)ms) > 0)
        drain_wake();
}

static void *sender_main(void *arg)
{
    (void)arg;
    vqs_retry_reset(&t_retry);
    for (;;) {
        pthread_mutex_lock(&g_lock);
        const struct vqs_settings *s = g_settings;
        int waiting = g_head != NULL;
        int hurry = g_hurry;
        pthread_mutex_unlock(&g_lock);

        if (t_link.conn && !same_broker(t_used, s))
            drop_link(0);
        if (!t_link.conn) {
            long long left = t_next_attempt - vqs_now_ms();
            if (!waiting) {
                idle(-1);
                continue;
            }
            if (left > 0 && !hurry) {
                idle(left);
                continue;
            }
            /* The program ends: one attempt now, then the usual pauses. */
            pthread_mutex_lock(&g_lock);
            g_hurry = 0;
            pthread_mutex_unlock(&g_lock);
            if (connect_link(s) != 0)
                continue;
        }
        if (publish_waiting() != 0) {
            drop_link(1);
            continue;
        }
        if (service() == 0 && until_overdue() == 0) {
            /* As for a nack: it and all still open after it go out again, in order, on a new
             * connection, after a pause that grows while the broker stays silent. */
            vqs_link_report(t_used, "",
                            "the broker confirmed no message for 5 s; they go out again");
            drop_link(0);
            t_next_attempt = vqs_retry_next(&t_retry);
        }
    }
    return NULL;
}

/* A program that sends and returns from main at once still gets its messages out, as long
 * as the broker takes them: it is tried at once, and the wait ends when it cannot be had. */
static void flush_at_exit(void)
{
    if (getpid() != g_owner)
        return; /* a forked child has no sender thread */
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += EXIT_FLUSH_S;
    pthread_mutex_lock(&g_lock);
    unsigned long failures = g_failures;
    g_hurry = 1;
    wake_sender();
    while (g_head && g_failures == failures) {
        if (pthread_cond_timedwait(&g_progress, &g_lock, &deadline) == ETIMEDOUT)
            break;
    }
    long named = 0;
    for (const struct item *it = g_head; it; it = it->next) {
        if (named++ < NAMED_AT_EXIT)
            fprintf(stderr,
                    "vqs: message to %s dropped: the program ended before the broker took it\n",
                    it->dest);
    }
    if (named > NAMED_AT_EXIT)
        fprintf(stderr,
                "vqs: %ld more messages dropped: the program ended before the broker took them\n",
                named - NAMED_AT_EXIT);
    pthread_mutex_unlock(&g_lock);
}

/* Called with g_lock held. 0, or -1 when the thread cannot be had. */
static int start_once(void)
{
    if (g_started)
        return 0;
    pthread_condattr_t cattr;
    pthread_condattr_init(&cattr);
    pthread_condattr_setclock(&cattr, CLOCK_MONOTONIC);
    pthread_cond_init(&g_progress, &cattr);
    pthread_condattr_destroy(&cattr);
    g_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (g_wake < 0) {
        fprintf(stderr, "vqs: cannot start the broker sender: %s\n", strerror(errno));
        return -1;
    }
    int rc = vqs_start_thread(sender_main, NULL);
    if (rc != 0) {
        fprintf(stderr, "vqs: cannot start the broker sender: %s\n", strerror(rc));
        close(g_wake);
        g_wake = -1;
        return -1;
    }
    g_owner = getpid();
    atexit(flush_at_exit);
    g_started = 1;
    return 0;
}

int vqs_broker_send(const struct vqs_settings *s, const char *dest, const char *text, size_t len)
{
    return vqs_broker_send_grouped(s, dest, text, len, NULL);
}

/* Called with g_lock held: the entry of key, made when there is room; NULL otherwise. */
static unsigned long long *group_push(const char *key)
{
    for (int i = 0; i < g_group_count; i++)
        if (strcmp(g_group_pushes[i].key, key) == 0)
            return &g_group_pushes[i].seq;
    if (g_group_count == GROUP_KEYS)
        return NULL;
    snprintf(g_group_pushes[g_group_count].key, sizeof g_group_pushes[0].key, "%s", key);
    g_group_pushes[g_group_count].seq = 0;
    return &g_group_pushes[g_group_count++].seq;
}

int vqs_broker_send_grouped(const struct vqs_settings *s, const char *dest, const char *text,
                            size_t len, const char *group)
{
    struct item *it = malloc(sizeof *it + len);
    if (!it)
        return -1;
    memset(it, 0, sizeof *it);
    snprintf(it->dest, sizeof it->dest, "%s", dest);
    it->len = len;
    memcpy(it->text, text, len);

    pthread_mutex_lock(&g_lock);
    if (g_count >= s->backlog || start_once() != 0) {
        long count = g_count;
        pthread_mutex_unlock(&g_lock);
        free(it);
        if (count >= s->backlog)
            fprintf(stderr, "vqs: message to %s dropped: %ld messages wait for the broker\n", dest,
                    count);
        return -1;
    }
    it->seq = ++g_next_seq;
    if (strcmp(dest, s->broadcast) == 0) {
        /* Every group's stream is bound to the broadcast address too. */
        it->push = 1;
        g_last_push = it->seq;
        g_latest_push = it->seq;
    } else if (group && strcmp(dest, group) == 0) {
        it->push = 1;
        unsigned long long *last = group_push(group);
        if (last)
            *last = it->seq;
        g_latest_push = it->seq;
    } else if (group) {
        unsigned long long *last = group_push(group);
        it->after = !last ? g_latest_push : *last > g_last_push ? *last : g_last_push;
    } else {
        it->after = g_last_push;
    }
    if (g_tail)
        g_tail->next = it;
    else
        g_head = it;
    g_tail = it;
    g_count++;
    g_settings = s;
    pthread_mutex_unlock(&g_lock);
    wake_sender();
    return 0;
}
