#include "vqslink.h"

#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>
#include <openssl/crypto.h>

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>

#define CONNECT_TIMEOUT_S 5
/* Bounds the login and each set-up call, so a broker that stops answering cannot hold a
 * thread for ever. */
#define HANDSHAKE_TIMEOUT_S 15
/* One channel at a time (a refused declaration opens the next); frames of the broker's
 * default size at most, so a message's header always fits one. */
#define CHANNEL_MAX 8
#define FRAME_MAX AMQP_DEFAULT_FRAME_SIZE

/* OpenSSL would free its state at exit while the sender or the receiving thread may still be
 * in a TLS call; the system reclaims it anyway. Runs when the library is loaded, before any
 * use of OpenSSL could have set its exit handler. */
__attribute__((constructor)) static void keep_tls_state_at_exit(void)
{
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, NULL);
}

/* The parts of an amqp:// or amqps:// URL; the strings point into text. */
struct place {
    char text[VQS_TEXT_SETTING];
    struct amqp_connection_info info;
};

static int parse_place(const struct vqs_settings *s, struct place *place)
{
    amqp_default_connection_info(&place->info);
    snprintf(place->text, sizeof place->text, "%s", s->url);
    if (amqp_parse_url(place->text, &place->info) != AMQP_STATUS_OK)
        return -1;
    if (s->user[0])
        place->info.user = (char *)s->user;
    if (s->password[0])
        place->info.password = (char *)s->password;
    return 0;
}

/* The URL for a diagnostic line, what could be its password masked: one that does not parse
 * may still hold one. */
static void masked_url(const char *url, char *out, size_t size)
{
    const char *scheme = strstr(url, "://");
    const char *start = scheme ? scheme + 3 : url;
    const char *at = strrchr(start, '@');
    const char *colon = at ? memchr(start, ':', (size_t)(at - start)) : NULL;
    if (colon)
        snprintf(out, size, "%.*s***%s", (int)(colon + 1 - url), url, at);
    else
        snprintf(out, size, "%s", url);
}

void vqs_link_where(const struct vqs_settings *s, char *out, size_t size)
{
    const size_t count = vqs_settings_node_count(s->url);
    if (count > 1) {
        /* A list: "broker nodes H:P, H:P, vhost V", each node as one URL would be shown. */
        struct vqs_settings one = *s;
        size_t used = (size_t)snprintf(out, size, "broker nodes");
        char vhost[VQS_TEXT_SETTING + 16] = "";
        char where[VQS_TEXT_SETTING + 64];
        for (size_t i = 0; i < count && used < size; i++) {
            vqs_settings_node_url(s->url, i, one.url, sizeof one.url);
            vqs_link_where(&one, where, sizeof where);
            char *tail = strstr(where, ", vhost ");
            if (tail) {
                snprintf(vhost, sizeof vhost, "%s", tail);
                *tail = '\0';
            }
            used += (size_t)snprintf(out + used, size - used, "%s %s", i ? "," : "",
                                     where + strlen("broker "));
        }
        if (used < size)
            snprintf(out + used, size - used, "%s", vhost);
        return;
    }
    struct place place;
    char shown[VQS_TEXT_SETTING];
    masked_url(s->url, shown, sizeof shown);
    if (parse_place(s, &place) != 0)
        snprintf(out, size, "broker URL \"%s\"", shown);
    else
        snprintf(out, size, "broker %s:%d, vhost %s", place.info.host, place.info.port,
                 place.info.vhost);
}

void vqs_link_describe(amqp_rpc_reply_t reply, char *out, size_t size)
{
    switch (reply.reply_type) {
    case AMQP_RESPONSE_NORMAL:
        snprintf(out, size, "no failure");
        break;
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
        snprintf(out, size, "%s", amqp_error_string2(reply.library_error));
        break;
    case AMQP_RESPONSE_SERVER_EXCEPTION:
        if (reply.reply.id == AMQP_CONNECTION_CLOSE_METHOD) {
            const amqp_connection_close_t *m = reply.reply.decoded;
            snprintf(out, size, "%.*s", (int)m->reply_text.len, (const char *)m->reply_text.bytes);
        } else if (reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD) {
            const amqp_channel_close_t *m = reply.reply.decoded;
            snprintf(out, size, "%.*s", (int)m->reply_text.len, (const char *)m->reply_text.bytes);
        } else {
            snprintf(out, size, "unexpected answer 0x%08X", reply.reply.id);
        }
        break;
    default:
        snprintf(out, size, "no answer");
        break;
    }
}

static amqp_rpc_reply_t library_failure(int status)
{
    amqp_rpc_reply_t reply;
    memset(&reply, 0, sizeof reply);
    reply.reply_type = AMQP_RESPONSE_LIBRARY_EXCEPTION;
    reply.library_error = status;
    return reply;
}

/* Fails the open: says what step failed and why, and closes what was opened. */
static int failed(struct vqs_link *link, amqp_rpc_reply_t reply, amqp_rpc_reply_t *out, char *why,
                  size_t whysize, const char *step)
{
    char cause[256];
    vqs_link_describe(reply, cause, sizeof cause);
    snprintf(why, whysize, "%s: %s", step, cause);
    *out = reply;
    link->broken = 1;
    return -1;
}

static amqp_socket_t *make_socket(const struct vqs_settings *s, const struct place *place,
                                  amqp_connection_state_t conn, const char **problem)
{
    if (!place->info.ssl)
        return amqp_tcp_socket_new(conn);
    if (!s->cacert[0]) {
        *problem = "amqps needs the broker's certificate authority (cacert)";
        return NULL;
    }
    amqp_socket_t *socket = amqp_ssl_socket_new(conn);
    if (!socket)
        return NULL;
    amqp_ssl_socket_set_verify_peer(socket, 1);
    amqp_ssl_socket_set_verify_hostname(socket, 1);
    if (amqp_ssl_socket_set_cacert(socket, s->cacert) != AMQP_STATUS_OK) {
        *problem = "cannot read the certificate authority (cacert)";
        return NULL;
    }
    if (s->cert[0] && amqp_ssl_socket_set_key(socket, s->cert, s->key) != AMQP_STATUS_OK) {
        *problem = "cannot read the client certificate or key (cert, key)";
        return NULL;
    }
    return socket;
}

int vqs_link_open(const struct vqs_settings *s, struct vqs_link *link, amqp_rpc_reply_t *reply,
                  char *why, size_t whysize)
{
    memset(link, 0, sizeof *link);
    struct place place;
    if (parse_place(s, &place) != 0)
        return failed(link, library_failure(AMQP_STATUS_BAD_URL), reply, why, whysize,
                      "the broker URL");
    link->conn = amqp_new_connection();
    if (!link->conn)
        return failed(link, library_failure(AMQP_STATUS_NO_MEMORY), reply, why, whysize,
                      "connecting");
    const char *problem = NULL;
    amqp_socket_t *socket = make_socket(s, &place, link->conn, &problem);
    if (!socket) {
        failed(link, library_failure(AMQP_STATUS_SSL_ERROR), reply, why, whysize, "TLS");
        if (problem)
            snprintf(why, whysize, "%s", problem);
        return -1;
    }
    struct timeval connect_timeout = {.tv_sec = CONNECT_TIMEOUT_S, .tv_usec = 0};
    int status =
        amqp_socket_open_noblock(socket, place.info.host, place.info.port, &connect_timeout);
    if (status != AMQP_STATUS_OK)
        return failed(link, library_failure(status), reply, why, whysize, "cannot connect");
    struct timeval handshake = {.tv_sec = HANDSHAKE_TIMEOUT_S, .tv_usec = 0};
    amqp_set_handshake_timeout(link->conn, &handshake);
    amqp_set_rpc_timeout(link->conn, &handshake);

    amqp_rpc_reply_t login =
        amqp_login(link->conn, place.info.vhost, CHANNEL_MAX, FRAME_MAX, VQS_HEARTBEAT_S,
                   AMQP_SASL_METHOD_PLAIN, place.info.user, place.info.password);
    if (login.reply_type != AMQP_RESPONSE_NORMAL) {
        char step[VQS_TEXT_SETTING + 32];
        snprintf(step, sizeof step, "login of user \"%s\" refused", place.info.user);
        return failed(link, login, reply, why, whysize, step);
    }
    snprintf(link->user, sizeof link->user, "%s", place.info.user);
    link->channel = 1;
    amqp_channel_open(link->conn, link->channel);
    amqp_rpc_reply_t opened = amqp_get_rpc_reply(link->conn);
    if (opened.reply_type != AMQP_RESPONSE_NORMAL)
        return failed(link, opened, reply, why, whysize, "opening a channel");
    *reply = opened;
    return 0;
}

void vqs_link_close(struct vqs_link *link)
{
    if (!link->conn)
        return;
    /* A broken connection answers nothing: only a working one is closed politely. */
    if (!link->broken) {
        struct timeval quick = {.tv_sec = 2, .tv_usec = 0};
        amqp_set_rpc_timeout(link->conn, &quick);
        amqp_connection_close(link->conn, AMQP_REPLY_SUCCESS);
    }
    amqp_destroy_connection(link->conn);
    link->conn = NULL;
    link->broken = 0;
}

/* Closes the channel an error closed and opens the next one. */
static int reopen_channel(struct vqs_link *link)
{
    amqp_channel_close_ok_t ok = {0};
    if (amqp_send_method(link->conn, link->channel, AMQP_CHANNEL_CLOSE_OK_METHOD, &ok) != 0)
        return -1;
    link->channel++;
    amqp_channel_open(link->conn, link->channel);
    return amqp_get_rpc_reply(link->conn).reply_type == AMQP_RESPONSE_NORMAL ? 0 : -1;
}

static int is_channel_error(amqp_rpc_reply_t reply, int code)
{
    if (reply.reply_type != AMQP_RESPONSE_SERVER_EXCEPTION ||
        reply.reply.id != AMQP_CHANNEL_CLOSE_METHOD)
        return 0;
    return ((const amqp_channel_close_t *)reply.reply.decoded)->reply_code == code;
}

static int declare_queue(const struct vqs_settings *s, struct vqs_link *link, const char *name,
                         char *why, size_t whysize)
{
    amqp_table_entry_t entries[3];
    entries[0].key = amqp_cstring_bytes("x-max-length");
    entries[0].value.kind = AMQP_FIELD_KIND_I64;
    entries[0].value.value.i64 = s->max_length;
    entries[1].key = amqp_cstring_bytes("x-message-ttl");
    entries[1].value.kind = AMQP_FIELD_KIND_I64;
    entries[1].value.value.i64 = (int64_t)s->max_age * 1000;
    entries[2].key = amqp_cstring_bytes("x-queue-type");
    entries[2].value.kind = AMQP_FIELD_KIND_UTF8;
    entries[2].value.value.bytes = amqp_cstring_bytes(s->queue_type);
    amqp_table_t arguments = {.num_entries = 3, .entries = entries};
    amqp_bytes_t queue = amqp_cstring_bytes(name);

    amqp_queue_declare(link->conn, link->channel, queue, 0, 1, 0, 0, arguments);
    amqp_rpc_reply_t reply = amqp_get_rpc_reply(link->conn);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL)
        return 0;
    char cause[256];
    vqs_link_describe(reply, cause, sizeof cause);
    if (!is_channel_error(reply, AMQP_PRECONDITION_FAILED)) {
        snprintf(why, whysize, "declaring queue %s: %s", name, cause);
        return -1;
    }
    /* Made earlier with other bounds (or by an administrator): it is used as it stands. */
    fprintf(stderr, "vqs: queue %s exists with other settings and is used as it is (%s)\n", name,
            cause);
    if (reopen_channel(link) != 0) {
        snprintf(why, whysize, "declaring queue %s: the channel could not be opened again", name);
        return -1;
    }
    amqp_queue_declare(link->conn, link->channel, queue, 1, 0, 0, 0, amqp_empty_table);
    reply = amqp_get_rpc_reply(link->conn);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL)
        return 0;
    vqs_link_describe(reply, cause, sizeof cause);
    snprintf(why, whysize, "declaring queue %s: %s", name, cause);
    return -1;
}

static int bind_queue(struct vqs_link *link, const char *queue, const char *exchange,
                      const char *key, char *why, size_t whysize)
{
    amqp_queue_bind(link->conn, link->channel, amqp_cstring_bytes(queue),
                    amqp_cstring_bytes(exchange), amqp_cstring_bytes(key), amqp_empty_table);
    amqp_rpc_reply_t reply = amqp_get_rpc_reply(link->conn);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL)
        return 0;
    char cause[256];
    vqs_link_describe(reply, cause, sizeof cause);
    snprintf(why, whysize, "binding queue %s to %s in exchange %s: %s", queue, key, exchange,
             cause);
    return -1;
}

int vqs_link_make_queue(const struct vqs_settings *s, struct vqs_link *link, const char *queue,
                        const char *exchange, const char *const *keys, size_t nkeys, char *why,
                        size_t whysize)
{
    int failed = declare_queue(s, link, queue, why, whysize);
    for (size_t i = 0; i < nkeys && !failed; i++)
        failed = bind_queue(link, queue, exchange, keys[i], why, whysize);
    if (failed)
        link->broken = 1;
    return failed ? -1 : 0;
}

static pthread_mutex_t g_report_lock = PTHREAD_MUTEX_INITIALIZER;
static char g_reported[2048];

void vqs_link_report(const struct vqs_settings *s, const char *what, const char *why)
{
    char where[VQS_TEXT_SETTING + 64];
    char text[sizeof g_reported];
    vqs_link_where(s, where, sizeof where);
    snprintf(text, sizeof text, "%s: %s%s", where, what, why);
    pthread_mutex_lock(&g_report_lock);
    if (strcmp(g_reported, text) != 0) {
        snprintf(g_reported, sizeof g_reported, "%s", text);
        fprintf(stderr, "vqs: %s\n", text);
    }
    pthread_mutex_unlock(&g_report_lock);
}

void vqs_link_report_clear(void)
{
    pthread_mutex_lock(&g_report_lock);
    g_reported[0] = '\0';
    pthread_mutex_unlock(&g_report_lock);
}

/* The broker refuses a user-id other than the publisher's login, so it names the sender.
 * Copied out of the header at once: reading the body may release the memory it is in. */
void vqs_link_sender(const amqp_basic_properties_t *props, char *sender, size_t size)
{
    sender[0] = '\0';
    if (!(props->_flags & AMQP_BASIC_USER_ID_FLAG) || props->user_id.len == 0 ||
        props->user_id.len >= size || memchr(props->user_id.bytes, '\0', props->user_id.len))
        return;
    memcpy(sender, props->user_id.bytes, props->user_id.len);
    sender[props->user_id.len] = '\0';
}

/* A number in the headers: the place of a delivery from the stream, which the broker puts
 * there, or the push a message of the queue follows; -1: none. */
long long vqs_link_header_number(const amqp_basic_properties_t *props, const char *name)
{
    if (!(props->_flags & AMQP_BASIC_HEADERS_FLAG))
        return -1;
    for (int i = 0; i < props->headers.num_entries; i++) {
        const amqp_table_entry_t *e = &props->headers.entries[i];
        if (e->key.len != strlen(name) || memcmp(e->key.bytes, name, e->key.len) != 0)
            continue;
        if (e->value.kind == AMQP_FIELD_KIND_I64)
            return e->value.value.i64 < 0 ? -1 : e->value.value.i64;
        if (e->value.kind == AMQP_FIELD_KIND_U64)
            return e->value.value.u64 > INT64_MAX ? -1 : (long long)e->value.value.u64;
    }
    return -1;
}
