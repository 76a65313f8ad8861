/* The receiving side of the broker transport: the receiving thread's own connection, which
 * consumes this host's queue, and this process's own messages. */

#include "vqsbrokerrecv.h"
#include "vqs.h"
#include "vqsinbox.h"
#include "vqslink.h"
#include "vqsmark.h"
#include "vqsnodes.h"
#include "vqsoffset.h"
#include "vqsorder.h"
#include "vqstime.h"

#include <amqp.h>

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Deliveries the broker may send ahead of the acknowledgements. */
#define PREFETCH 32

/* Used by the receiving thread only. */
static const struct vqs_settings *g_settings;
static struct vqs_link g_link;
static struct vqs_nodes g_nodes;
static uint64_t g_unacked;              /* delivery tag of the message handed out last; 0: none */
static char g_sender[VQS_TEXT_SETTING]; /* the validated user-id of that message; "": none */
static long long g_next_attempt;
static struct vqs_retry g_retry = VQS_RETRY_INIT;
/* The stream of pushes, when the settings name one. */
static char g_stream_tag[256];          /* its consumer; "": not consuming it */
static long long g_offset = -1;         /* the last push the caller came back from; -1: none yet */
static long long g_pending = -1;        /* the offset of the push handed out last; -1: none */
static long long g_since = -1;          /* before the first push: attach from then, in seconds */
static char g_stream[VQS_TEXT_SETTING]; /* the stream g_offset and g_since are places in */
static long long g_started;             /* when recv_init was called, in seconds */
static int g_initial;                   /* in recv_init's own attempt */
/* With the stream: the desktop's queue could not be consumed (not made yet, or its node is
 * down); the stream is read meanwhile and the queue asked for again from time to time. */
static int g_queue_missing;
static long long g_queue_retry_at;
static struct vqs_retry g_queue_retry = VQS_RETRY_INIT;
/* A message of the queue waiting for a push of the stream sent before it (vqsorder.h). */
static struct {
    int len; /* -1: none */
    char *text;
    uint64_t tag;
    char sender[VQS_TEXT_SETTING];
    char id[256];
    size_t idlen;
    unsigned long long after;
    long long until;
} g_held = {.len = -1};
static char *g_spare; /* a message changing places with the held one */

static void report(const char *what, const char *why)
{
    vqs_link_report(g_settings, what, why);
}

/* lost: a connection that worked failed; its node may be gone, the next is tried first. */
static void drop_link(int lost)
{
    if (lost)
        vqs_nodes_lost(&g_nodes);
    vqs_link_close(&g_link);
    g_unacked = 0;
    g_pending = -1;
    g_stream_tag[0] = '\0';
    g_held.len = -1; /* not acknowledged: the broker delivers it again */
    g_next_attempt = vqs_retry_next(&g_retry);
}

static int is_missing_queue(amqp_rpc_reply_t reply)
{
    return reply.reply_type == AMQP_RESPONSE_SERVER_EXCEPTION &&
           reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD &&
           ((const amqp_channel_close_t *)reply.reply.decoded)->reply_code == AMQP_NOT_FOUND;
}

/* Where to attach: after the last push handled; before any, from when it first attached (the
 * signed sequence drops what the catalog asked for then covers). The very first time at the
 * next push, so that none falls between this and the catalog the caller asks for next; when
 * recv_init could not attach, from when it was called. */
static amqp_table_entry_t stream_start(void)
{
    amqp_table_entry_t start;
    start.key = amqp_cstring_bytes("x-stream-offset");
    if (g_offset >= 0) {
        start.value.kind = AMQP_FIELD_KIND_I64;
        start.value.value.i64 = g_offset + 1;
    } else if (g_since < 0 && g_initial) {
        start.value.kind = AMQP_FIELD_KIND_UTF8;
        start.value.value.bytes = amqp_cstring_bytes("next");
    } else {
        start.value.kind = AMQP_FIELD_KIND_TIMESTAMP;
        start.value.value.u64 = (uint64_t)(g_since >= 0 ? g_since : g_started);
    }
    return start;
}

/* Consumes the stream of pushes on the link's channel; the broker's answer. */
static amqp_rpc_reply_t consume_stream(void)
{
    amqp_table_entry_t start = stream_start();
    amqp_table_t arguments = {.num_entries = 1, .entries = &start};
    amqp_basic_consume_ok_t *ok =
        amqp_basic_consume(g_link.conn, g_link.channel, amqp_cstring_bytes(g_settings->stream),
                           amqp_empty_bytes, 0, 0, 0, arguments);
    amqp_rpc_reply_t reply = amqp_get_rpc_reply(g_link.conn);
    if (ok && reply.reply_type == AMQP_RESPONSE_NORMAL &&
        ok->consumer_tag.len < sizeof g_stream_tag) {
        memcpy(g_stream_tag, ok->consumer_tag.bytes, ok->consumer_tag.len);
        g_stream_tag[ok->consumer_tag.len] = '\0';
        if (g_offset < 0 && g_since < 0) {
            g_since = g_started;
            if (g_settings->offset_file[0])
                vqs_offset_save(g_settings->offset_file, g_settings->stream, g_since, 1);
        }
    }
    return reply;
}

/* Whether the desktop's queue can be consumed now: 1 yes, 0 not (missing, or a classic queue
 * whose node is down), -1 the connection failed. Asked with a passive declare, which needs no
 * right, on a channel of its own: the broker's refusal closes that channel, not the stream's. */
static int queue_ready(void)
{
    const amqp_channel_t probe = (amqp_channel_t)(g_link.channel + 1);
    if (!amqp_channel_open(g_link.conn, probe) ||
        amqp_get_rpc_reply(g_link.conn).reply_type != AMQP_RESPONSE_NORMAL)
        return -1;
    amqp_queue_declare(g_link.conn, probe, amqp_cstring_bytes(g_settings->address), 1, 0, 0, 0,
                       amqp_empty_table);
    const amqp_rpc_reply_t reply = amqp_get_rpc_reply(g_link.conn);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL)
        return amqp_channel_close(g_link.conn, probe, AMQP_REPLY_SUCCESS).reply_type ==
                       AMQP_RESPONSE_NORMAL
                   ? 1
                   : -1;
    if (!is_missing_queue(reply))
        return -1;
    amqp_channel_close_ok_t closed = {0};
    return amqp_send_method(g_link.conn, probe, AMQP_CHANNEL_CLOSE_OK_METHOD, &closed) ==
                   AMQP_STATUS_OK
               ? 0
               : -1;
}

/* The queue is made by the administrator's set-up or, for a desktop of a group account, by
 * the catalog server when it first hears from it: this account may configure nothing. */
static int consume(void)
{
    char why[1024];
    amqp_rpc_reply_t reply;
    if (vqs_nodes_open(&g_nodes, &g_link, &reply, why, sizeof why) != 0) {
        report("", why);
        drop_link(0);
        return -1;
    }
    amqp_basic_qos(g_link.conn, g_link.channel, 0, PREFETCH, 0);
    reply = amqp_get_rpc_reply(g_link.conn);
    /* The stream first: a delivery of the queue arriving while the stream's consumer is being
     * set up would be held whole, whatever its size. The catalog server's settings name the
     * stream for its desktops' queues; it reads none. */
    const char *name = g_settings->stream;
    const int reading = name[0] && !g_settings->server;
    g_queue_missing = 0;
    if (reply.reply_type == AMQP_RESPONSE_NORMAL && reading) {
        /* A queue that cannot be consumed would close the channel, the stream's consumer with
         * it: the pushes go on without the answers until it can. */
        const int ready = queue_ready();
        if (ready < 0) {
            report("", "the connection failed while asking for the queue");
            g_link.broken = 1;
            drop_link(1);
            return -1;
        }
        g_queue_missing = !ready;
        reply = consume_stream();
    }
    if (reply.reply_type == AMQP_RESPONSE_NORMAL && g_queue_missing) {
        snprintf(why, sizeof why,
                 "queue %s does not exist yet or its node is down; the pushes come through the "
                 "stream meanwhile and the queue is asked for again",
                 g_settings->address);
        report("", why);
        g_queue_retry_at = vqs_retry_next(&g_queue_retry);
        vqs_retry_reset(&g_retry);
        return 0;
    }
    /* Exclusive: two processes sharing the queue would each get part of the frames. */
    if (reply.reply_type == AMQP_RESPONSE_NORMAL) {
        name = g_settings->address;
        amqp_basic_consume(g_link.conn, g_link.channel, amqp_cstring_bytes(name), amqp_empty_bytes,
                           0, 0, 1, amqp_empty_table);
        reply = amqp_get_rpc_reply(g_link.conn);
    }
    if (is_missing_queue(reply)) {
        snprintf(why, sizeof why,
                 "queue %s does not exist yet (the set-up or the catalog server makes it); "
                 "waiting for it",
                 name);
        report("", why);
        g_link.broken = 1;
        drop_link(0);
        return -1;
    }
    if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
        vqs_link_describe(reply, why, sizeof why);
        report("consuming: ", why);
        g_link.broken = 1;
        drop_link(0);
        return -1;
    }
    vqs_link_report_clear();
    vqs_retry_reset(&g_retry);
    vqs_retry_reset(&g_queue_retry);
    return 0;
}

void vqs_broker_recv_close(void)
{
    vqs_link_close(&g_link);
    g_unacked = 0;
    g_pending = -1;
    g_stream_tag[0] = '\0';
    g_held.len = -1;
    g_queue_missing = 0;
    vqs_retry_reset(&g_queue_retry);
}

int vqs_broker_recv_init(const struct vqs_settings *s)
{
    vqs_broker_recv_close();
    g_settings = s;
    vqs_nodes_reset(&g_nodes, s);
    g_next_attempt = 0;
    vqs_retry_reset(&g_retry);
    /* A second before the call: the broker's clock is another machine's. */
    g_started = (long long)time(NULL) - 1;
    /* A place in one stream means nothing in another (a desktop moved to another group's). */
    if (strcmp(g_stream, s->stream) != 0) {
        g_offset = -1;
        g_pending = -1;
        g_since = -1;
        snprintf(g_stream, sizeof g_stream, "%s", s->stream);
    }
    /* Once handled, a push is not handed out again, whatever the file says. */
    long long kept = -1;
    if (s->stream[0] && s->offset_file[0] &&
        vqs_offset_load(s->offset_file, s->stream, &kept, &g_since) == 0 && kept > g_offset)
        g_offset = kept;
    if (!s->address[0]) {
        fprintf(stderr, "vqs: no address in %s: nothing can be received through the broker\n",
                s->file[0] ? s->file : "the settings");
        return -1;
    }
    /* Once now, so that the queue exists and the stream is attached when the caller goes on. */
    g_initial = 1;
    const int rc = consume();
    g_initial = 0;
    return rc;
}

/* A frame the broker sent that is not a delivery; false when the connection is no longer
 * usable. */
static int other_frame(const amqp_frame_t *frame)
{
    if (frame->frame_type != AMQP_FRAME_METHOD)
        return 1;
    char text[600];
    switch (frame->payload.method.id) {
    case AMQP_CHANNEL_CLOSE_METHOD: {
        const amqp_channel_close_t *m = frame->payload.method.decoded;
        snprintf(text, sizeof text, "%.*s", (int)m->reply_text.len,
                 (const char *)m->reply_text.bytes);
        report("the broker stopped the delivery: ", text);
        return 0;
    }
    case AMQP_CONNECTION_CLOSE_METHOD: {
        const amqp_connection_close_t *m = frame->payload.method.decoded;
        snprintf(text, sizeof text, "%.*s", (int)m->reply_text.len,
                 (const char *)m->reply_text.bytes);
        report("the broker closed the connection: ", text);
        return 0;
    }
    case AMQP_BASIC_CANCEL_METHOD:
        report("the broker ended the delivery: ", "the queue was deleted");
        return 0;
    default:
        return 1;
    }
}

void vqs_broker_recv_sender(char *sender, size_t size)
{
    if (size > strlen(g_sender))
        strcpy(sender, g_sender);
}

/* The next frame of the delivery being taken, of type: the broker sends a delivery's frames
 * together. 0, or -1 when the connection is no longer usable. */
static int content_frame(amqp_frame_t *frame, uint8_t type)
{
    struct timeval wait = {.tv_sec = VQS_HEARTBEAT_S, .tv_usec = 0};
    int rc = amqp_simple_wait_frame_noblock(g_link.conn, frame, &wait);
    if (rc != AMQP_STATUS_OK) {
        report("lost the connection: ", amqp_error_string2(rc));
        return -1;
    }
    if (frame->frame_type != type || frame->channel != g_link.channel) {
        report("receiving: ", "a delivery broken off");
        return -1;
    }
    return 0;
}

/* Whether a message to this desktop alone waits for the push sent before it. Every such
 * message goes past the order guard, one naming no push too: the first message of a sender
 * is the one that counts as heard. */
static int must_hold(const char *id, size_t idlen, long long after)
{
    const int wait = vqs_order_must_wait(id, idlen, after > 0 ? (unsigned long long)after : 0);
    return after > 0 && (g_held.len >= 0 || wait);
}

/* Hands out the held message into buffer: its length, -1 when it was a repeat (acknowledged),
 * -2 when the connection is no longer usable. */
static int release(char *buffer)
{
    const int len = g_held.len;
    g_held.len = -1;
    if (g_held.idlen &&
        (vqs_mark_seen(g_held.id, g_held.idlen) || vqs_mark_handed_out(g_held.id, g_held.idlen))) {
        if (amqp_basic_ack(g_link.conn, g_link.channel, g_held.tag, 0) == AMQP_STATUS_OK)
            return -1;
        report("lost the connection: ", "acknowledging");
        return -2;
    }
    memcpy(buffer, g_held.text, (size_t)len + 1);
    g_unacked = g_held.tag;
    g_pending = -1;
    vqs_mark_remember(g_held.id, g_held.idlen);
    memcpy(g_sender, g_held.sender, sizeof g_sender);
    return len;
}

/* Keeps the message in buffer until the push it follows has come (vqs_broker_recv looks): -1.
 * One already held goes first, into buffer: what release says. */
static int hold(char *buffer, int len, uint64_t tag, const char *sender, const char *id,
                size_t idlen, unsigned long long after)
{
    if (!g_held.text)
        g_held.text = malloc(VQS_MAX_MESSAGE + 1);
    if (!g_spare)
        g_spare = malloc(VQS_MAX_MESSAGE + 1);
    if (!g_held.text || !g_spare) {
        report("receiving: ", "out of memory");
        return -2;
    }
    int out = -1;
    memcpy(g_spare, buffer, (size_t)len);
    g_spare[len] = '\0';
    if (g_held.len >= 0)
        out = release(buffer);
    if (out == -2)
        return -2;
    memcpy(g_held.text, g_spare, (size_t)len + 1);
    g_held.len = len;
    g_held.tag = tag;
    snprintf(g_held.sender, sizeof g_held.sender, "%s", sender);
    memcpy(g_held.id, id, idlen);
    g_held.idlen = idlen;
    g_held.after = after;
    g_held.until = vqs_now_ms() + VQS_ORDER_WAIT_MS;
    return out;
}

/* One delivery, taken when its first frame is there: its length when handed out into buffer,
 * -1 when none was handed out, -2 when the connection is no longer usable. The frames are
 * read one by one, so a body over the largest message is refused from its header and read
 * off without being kept. */
static int take_delivery(char *buffer)
{
    amqp_frame_t frame;
    struct timeval none = {0, 0};
    amqp_maybe_release_buffers(g_link.conn);
    int rc = amqp_simple_wait_frame_noblock(g_link.conn, &frame, &none);
    if (rc == AMQP_STATUS_TIMEOUT)
        return -1;
    if (rc != AMQP_STATUS_OK) {
        report("lost the connection: ", amqp_error_string2(rc));
        return -2;
    }
    if (frame.frame_type != AMQP_FRAME_METHOD ||
        frame.payload.method.id != AMQP_BASIC_DELIVER_METHOD)
        return other_frame(&frame) ? -1 : -2;
    const amqp_basic_deliver_t *deliver = frame.payload.method.decoded;
    const uint64_t tag = deliver->delivery_tag;
    const int from_stream =
        g_stream_tag[0] && deliver->consumer_tag.len == strlen(g_stream_tag) &&
        memcmp(deliver->consumer_tag.bytes, g_stream_tag, deliver->consumer_tag.len) == 0;
    if (content_frame(&frame, AMQP_FRAME_HEADER) != 0)
        return -2;
    const uint64_t size = frame.payload.properties.body_size;
    const amqp_basic_properties_t *props = frame.payload.properties.decoded;
    char id[256];
    size_t idlen = 0;
    if (props->_flags & AMQP_BASIC_MESSAGE_ID_FLAG) {
        idlen = props->message_id.len < sizeof id ? props->message_id.len : sizeof id;
        memcpy(id, props->message_id.bytes, idlen);
    }
    char sender[VQS_TEXT_SETTING];
    vqs_link_sender(props, sender, sizeof sender);
    /* A stream delivery without its place could be handed out again after every reconnect. */
    const long long offset = from_stream ? vqs_link_header_number(props, "x-stream-offset") : -1;
    const long long after = from_stream ? -1 : vqs_link_header_number(props, "x-vqs-after");
    if (from_stream && idlen)
        vqs_order_pushed(id, idlen);
    const int repeated = from_stream && (offset < 0 || offset <= g_offset);
    int ok = AMQP_STATUS_OK;
    const int too_long = size > VQS_MAX_MESSAGE;
    if (too_long) {
        fprintf(stderr,
                "vqs: message of %llu bytes from the broker refused: longer than %d bytes\n",
                (unsigned long long)size, VQS_MAX_MESSAGE);
        ok = amqp_basic_reject(g_link.conn, g_link.channel, tag, 0);
    }
    for (uint64_t got = 0; got < size && ok == AMQP_STATUS_OK;) {
        if (content_frame(&frame, AMQP_FRAME_BODY) != 0)
            return -2;
        const amqp_bytes_t part = frame.payload.body_fragment;
        if (part.len > size - got) {
            report("receiving: ", "a body longer than announced");
            return -2;
        }
        if (!too_long)
            memcpy(buffer + got, part.bytes, part.len);
        got += part.len;
        amqp_maybe_release_buffers_on_channel(g_link.conn, g_link.channel);
    }
    int len = -1;
    if (too_long) {
        /* Rejected above. */
    } else if (memchr(buffer, '\0', size)) {
        /* The frame would end at the NUL: what follows it would be lost without a word. */
        fprintf(stderr, "vqs: message from the broker refused: it holds a NUL byte\n");
        ok = amqp_basic_reject(g_link.conn, g_link.channel, tag, 0);
    } else if (!from_stream && g_stream_tag[0] && must_hold(id, idlen, after)) {
        return hold(buffer, (int)size, tag, sender, id, idlen, (unsigned long long)after);
    } else if (from_stream
                   ? repeated || vqs_mark_handed_out(id, idlen)
                   : idlen && (vqs_mark_seen(id, idlen) || vqs_mark_handed_out(id, idlen))) {
        /* Already handed out once: published again or delivered again. */
        ok = amqp_basic_ack(g_link.conn, g_link.channel, tag, 0);
    } else {
        len = (int)size;
        g_unacked = tag;
        g_pending = offset;
        vqs_mark_remember(id, idlen);
        memcpy(g_sender, sender, sizeof g_sender);
    }
    buffer[len < 0 ? 0 : len] = '\0';
    if (ok != AMQP_STATUS_OK) {
        report("lost the connection: ", amqp_error_string2(ok));
        return -2;
    }
    return len;
}

int vqs_broker_recv(char *buffer)
{
    /* The caller is back: the message handed out last has been handled. Its offset is kept
     * now, never earlier, so a store stopped in the middle of a push gets it again. */
    if (g_pending >= 0) {
        g_offset = g_pending;
        if (g_settings->offset_file[0])
            vqs_offset_save(g_settings->offset_file, g_settings->stream, g_offset, 0);
    }
    g_pending = -1;
    if (g_link.conn && g_unacked &&
        amqp_basic_ack(g_link.conn, g_link.channel, g_unacked, 0) != AMQP_STATUS_OK) {
        g_link.broken = 1;
        drop_link(1);
    }
    g_unacked = 0;
    g_sender[0] = '\0';
    const int inbox = vqs_inbox_fd();
    for (;;) {
        int len = vqs_inbox_take(buffer);
        if (len >= 0)
            return len;
        /* Without an address only this process's own messages can come. */
        if (!g_link.conn && g_settings->address[0] && vqs_now_ms() >= g_next_attempt)
            consume();
        /* The queue is there again: consumed from a fresh connection, the stream attached
         * after the last push handed out. */
        if (g_link.conn && g_queue_missing && g_held.len < 0 && vqs_now_ms() >= g_queue_retry_at) {
            const int ready = queue_ready();
            if (ready != 0) {
                g_link.broken = ready < 0;
                drop_link(ready < 0);
                if (ready > 0)
                    g_next_attempt = 0;
                continue;
            }
            g_queue_retry_at = vqs_retry_next(&g_queue_retry);
        }
        if (g_link.conn && g_held.len >= 0 &&
            (!vqs_order_must_wait(g_held.id, g_held.idlen, g_held.after) ||
             vqs_now_ms() >= g_held.until)) {
            len = release(buffer);
            if (len >= 0)
                return len;
            if (len == -2) {
                g_link.broken = 1;
                drop_link(1);
            }
            continue;
        }
        if (g_link.conn) {
            len = take_delivery(buffer);
            if (len >= 0)
                return len;
            if (len == -2) {
                g_link.broken = 1;
                drop_link(1);
                continue;
            }
            if (amqp_frames_enqueued(g_link.conn) || amqp_data_in_buffer(g_link.conn))
                continue;
        }
        /* Own messages, the broker, and the next heartbeat or attempt. */
        long long wait = -1;
        if (g_link.conn)
            wait = VQS_HEARTBEAT_S * 1000 / 2;
        if (g_link.conn && g_held.len >= 0)
            wait = g_held.until > vqs_now_ms() ? g_held.until - vqs_now_ms() : 0;
        else if (g_link.conn && g_queue_missing) {
            const long long due =
                g_queue_retry_at > vqs_now_ms() ? g_queue_retry_at - vqs_now_ms() : 0;
            wait = due < wait ? due : wait;
        } else if (!g_link.conn && g_settings->address[0])
            wait = g_next_attempt > vqs_now_ms() ? g_next_attempt - vqs_now_ms() : 0;
        struct pollfd fds[2] = {
            {.fd = inbox, .events = POLLIN},
            {.fd = g_link.conn ? amqp_get_sockfd(g_link.conn) : -1, .events = POLLIN}};
        if (poll(fds, 2, wait < 0 ? -1 : (int)wait) < 0 && errno != EINTR) {
            fprintf(stderr, "vqs: receive failed: %s\n", strerror(errno));
            return vqs_fail_after_pause();
        }
    }
}
