/* The calls of the transport: each message goes the way the settings choose. */

#include "vqs.h"
#include "vqsbroker.h"
#include "vqsbrokerrecv.h"
#include "vqsbrokersend.h"
#include "vqsconfig.h"
#include "vqsinbox.h"
#include "vqslink.h"
#include "vqsnodes.h"
#include "vqstcprecv.h"
#include "vqstcpsend.h"
#include "vqstime.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

/* OWN_RECEIVER: the settings file was refused; only this process's own messages come. */
enum receiver { NO_RECEIVER, TCP_RECEIVER, BROKER_RECEIVER, OWN_RECEIVER };

/* Held while a thread receives or prepares the receiver, whose state it guards: a second
 * vqs_message_recv_init must not free that state under a thread still receiving. */
static pthread_mutex_t g_receiving = PTHREAD_MUTEX_INITIALIZER;
static enum receiver g_receiver = NO_RECEIVER;

/* 127.0.0.1 and this host's own address: the process's own receiver, without the broker. */
static int is_self(const struct vqs_settings *s, struct in_addr addr)
{
    struct in_addr own;
    if (ntohl(addr.s_addr) == INADDR_LOOPBACK)
        return 1;
    return s->address[0] && inet_pton(AF_INET, s->address, &own) == 1 && own.s_addr == addr.s_addr;
}

/* A group's routing key: "group." and a name of A-Z a-z 0-9 _ . - (64 at most). */
static int is_group_key(const char *key)
{
    static const char prefix[] = "group.";
    if (!key || strncmp(key, prefix, sizeof prefix - 1) != 0)
        return 0;
    size_t n = strlen(key + sizeof prefix - 1);
    return n > 0 && n <= 64 &&
           strspn(key + sizeof prefix - 1, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                           "0123456789_.-") == n;
}

/* text's length, or -1 (said on standard error) when it cannot go out to dest. */
static long checked_length(const char *dest, const char *text)
{
    if (!text) {
        fprintf(stderr, "vqs: message refused: no text\n");
        return -1;
    }
    size_t len = strnlen(text, VQS_MAX_MESSAGE + 1);
    if (len > VQS_MAX_MESSAGE) {
        fprintf(stderr, "vqs: message to %s refused: longer than %d bytes\n", dest,
                VQS_MAX_MESSAGE);
        return -1;
    }
    return (long)len;
}

static int send_grouped(const char *dest, const char *text, const char *group)
{
    struct in_addr addr;
    if (!dest || inet_pton(AF_INET, dest, &addr) != 1) {
        fprintf(stderr, "vqs: message refused: destination \"%s\" is not an IPv4 address\n",
                dest ? dest : "");
        return -1;
    }
    long len = checked_length(dest, text);
    if (len < 0)
        return -1;
    const struct vqs_settings *s = vqs_settings();
    if (s->refused && !is_self(s, addr)) {
        fprintf(stderr, "vqs: message to %s refused: the settings file %s was refused\n", dest,
                s->file);
        return -1;
    }
    if (!s->broker && !s->refused)
        return vqs_tcp_send(addr, text, (size_t)len);
    if (is_self(s, addr))
        return vqs_inbox_put(text, (size_t)len, s->backlog);
    char key[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &addr, key, sizeof key);
    return vqs_broker_send_grouped(s, key, text, (size_t)len, group);
}

int vqs_message_send(const char *dest, const char *text)
{
    return send_grouped(dest, text, NULL);
}

int vqs_message_send_member(const char *dest, const char *text, const char *key)
{
    return send_grouped(dest, text, is_group_key(key) ? key : NULL);
}

int vqs_broker_push_group(const char *key, const char *text)
{
    const struct vqs_settings *s = vqs_settings();
    if (!s->broker || s->refused || !is_group_key(key)) {
        fprintf(stderr, "vqs: push to \"%s\" refused: %s\n", key ? key : "",
                s->broker && !s->refused ? "not a group's key" : "no broker");
        return -1;
    }
    long len = checked_length(key, text);
    return len < 0 ? -1 : vqs_broker_send_grouped(s, key, text, (size_t)len, key);
}

/* Called with g_receiving held. */
static int prepare_receiver(void)
{
    const struct vqs_settings *s = vqs_settings();
    if (s->refused) {
        /* Not the other transport instead: whoever may change the file chose neither. */
        vqs_tcp_recv_close();
        vqs_broker_recv_close();
        g_receiver = OWN_RECEIVER;
        fprintf(stderr, "vqs: nothing is received: the settings file %s was refused\n", s->file);
        return -1;
    }
    if (s->broker) {
        vqs_tcp_recv_close();
        g_receiver = BROKER_RECEIVER;
        return vqs_broker_recv_init(s);
    }
    vqs_broker_recv_close();
    g_receiver = TCP_RECEIVER;
    return vqs_tcp_recv_init();
}

int vqs_message_recv_init(void)
{
    if (pthread_mutex_trylock(&g_receiving) != 0) {
        fprintf(stderr, "vqs: receiver not prepared again: another thread is receiving\n");
        return -1;
    }
    int rc = prepare_receiver();
    pthread_mutex_unlock(&g_receiving);
    return rc;
}

/* This process's own messages, all that comes while the settings file is refused. */
static int own_message(char *buffer)
{
    const int inbox = vqs_inbox_fd();
    for (;;) {
        int len = vqs_inbox_take(buffer);
        if (len >= 0)
            return len;
        struct pollfd p = {.fd = inbox, .events = POLLIN};
        if (inbox < 0 || (poll(&p, 1, -1) < 0 && errno != EINTR))
            return vqs_fail_after_pause();
    }
}

int vqs_message_recv_peer(char *buffer, char *sender, size_t sender_size, char *peer,
                          size_t peer_size)
{
    if (sender && sender_size > 0)
        sender[0] = '\0';
    if (peer && peer_size > 0)
        peer[0] = '\0';
    if (!buffer)
        return -1;
    buffer[0] = '\0';
    pthread_mutex_lock(&g_receiving);
    if (g_receiver == NO_RECEIVER)
        prepare_receiver();
    int len;
    if (g_receiver == OWN_RECEIVER) {
        len = own_message(buffer);
    } else if (g_receiver == BROKER_RECEIVER) {
        len = vqs_broker_recv(buffer);
        /* Read under the lock: the next receive replaces the delivery it names. */
        if (len >= 0 && sender && sender_size > 0)
            vqs_broker_recv_sender(sender, sender_size);
    } else {
        struct in_addr from;
        char text[INET_ADDRSTRLEN];
        len = vqs_tcp_recv(buffer, &from);
        if (len >= 0 && peer && inet_ntop(AF_INET, &from, text, sizeof text) &&
            strlen(text) < peer_size)
            memcpy(peer, text, strlen(text) + 1);
    }
    pthread_mutex_unlock(&g_receiving);
    return len;
}

int vqs_message_recv_from(char *buffer, char *sender, size_t sender_size)
{
    return vqs_message_recv_peer(buffer, sender, sender_size, NULL, 0);
}

int vqs_message_recv(char *buffer)
{
    return vqs_message_recv_peer(buffer, NULL, 0, NULL, 0);
}

const char *vqs_broadcast_address(void)
{
    const struct vqs_settings *s = vqs_settings();
    return s->broker ? s->broadcast : NULL;
}

amqp_connection_state_t vqs_broker_connect(amqp_rpc_reply_t *reply)
{
    const struct vqs_settings *s = vqs_settings();
    struct vqs_link link;
    char why[1024];
    memset(reply, 0, sizeof *reply);
    if (!s->broker)
        return NULL;
    struct vqs_nodes nodes;
    vqs_nodes_reset(&nodes, s);
    vqs_nodes_open(&nodes, &link, reply, why, sizeof why);
    return link.conn;
}

const char *vqs_broker_exchange(void)
{
    return vqs_settings()->exchange;
}

const char *vqs_broker_server_exchange(void)
{
    return vqs_settings()->server_exchange;
}

const char *vqs_broker_address(void)
{
    return vqs_settings()->address;
}

/* Declares queue and binds it to exchange with keys, over the caller's connection. */
static int make_queue(amqp_connection_state_t conn, amqp_channel_t *channel, const char *queue,
                      const char *exchange, const char *const *keys, size_t nkeys, char *why,
                      size_t whysize)
{
    struct vqs_link link;
    memset(&link, 0, sizeof link);
    link.conn = conn;
    link.channel = *channel;
    int rc = vqs_link_make_queue(vqs_settings(), &link, queue, exchange, keys, nkeys, why, whysize);
    *channel = link.channel;
    return rc;
}

int vqs_broker_make_server_queue(amqp_connection_state_t conn, amqp_channel_t *channel, char *why,
                                 size_t whysize)
{
    const struct vqs_settings *s = vqs_settings();
    if (!s->address[0]) {
        snprintf(why, whysize, "no address in %s: the catalog server has no queue",
                 s->file[0] ? s->file : "the settings");
        return -1;
    }
    const char *keys[] = {s->address};
    return make_queue(conn, channel, s->address, s->server_exchange, keys, 1, why, whysize);
}

int vqs_broker_make_desktop_queue(amqp_connection_state_t conn, amqp_channel_t *channel,
                                  const char *address, char *why, size_t whysize)
{
    const struct vqs_settings *s = vqs_settings();
    struct in_addr addr;
    if (!address || inet_pton(AF_INET, address, &addr) != 1) {
        snprintf(why, whysize, "\"%s\" is not a desktop's address", address ? address : "");
        return -1;
    }
    /* With a stream the pushes go there: the queue carries this desktop's answers alone. */
    const char *keys[] = {address, s->broadcast};
    return make_queue(conn, channel, address, s->exchange, keys, s->stream[0] ? 1 : 2, why,
                      whysize);
}
