#pragma once
/* One connection to the broker with one open channel: how the sender and the receiver of the
 * broker transport (and programs that set the broker up) reach it. */

#include "vqsconfig.h"

#include <amqp.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_HEARTBEAT_S 30

struct vqs_link {
    amqp_connection_state_t conn; /* NULL when closed */
    amqp_channel_t channel;
    int broken;                  /* it failed: closed without the closing handshake */
    char user[VQS_TEXT_SETTING]; /* the account logged in: the user-id of what it publishes */
};

/* Connects to the broker of s, logs in and opens a channel. 0, or -1 with *reply set (for
 * die_on_amqp_error) and why (of size whysize) saying what failed; either way the link is
 * closed with vqs_link_close once the reply has been read. */
int vqs_link_open(const struct vqs_settings *s, struct vqs_link *link, amqp_rpc_reply_t *reply,
                  char *why, size_t whysize);

/* Ends the connection politely when it still works, at once otherwise. */
void vqs_link_close(struct vqs_link *link);

/* Declares queue with the configured bounds (one made earlier with other bounds is used as it
 * stands) and binds it to exchange with each of the nkeys keys. For the administrator's side:
 * desktops' accounts may configure nothing. 0, or -1 with why set and the link marked broken. */
int vqs_link_make_queue(const struct vqs_settings *s, struct vqs_link *link, const char *queue,
                        const char *exchange, const char *const *keys, size_t nkeys, char *why,
                        size_t whysize);

/* What a reply that is not normal says, for a diagnostic line. */
void vqs_link_describe(amqp_rpc_reply_t reply, char *out, size_t size);

/* "broker HOST:PORT, vhost V" of the settings' URL, for diagnostic lines. */
void vqs_link_where(const struct vqs_settings *s, char *out, size_t size);

/* Prints "vqs: broker HOST:PORT, vhost V: " what why on standard error, unless the line
 * printed last is the same: a broker that stays out of reach, or a refused login, gives one
 * line, not one per attempt of the sender and the receiver. */
void vqs_link_report(const struct vqs_settings *s, const char *what, const char *why);
/* A working connection again: the next failure is reported anew. */
void vqs_link_report_clear(void);

/* A delivery's user-id, which the broker checks against the publisher's login; "" when it
 * has none that fits size. Copied out at once: reading the body may release its memory. */
void vqs_link_sender(const amqp_basic_properties_t *props, char *sender, size_t size);
/* A non-negative number in a delivery's headers (the broker's "x-stream-offset", the sender's
 * "x-vqs-after"); -1: none. */
long long vqs_link_header_number(const amqp_basic_properties_t *props, const char *name);

#ifdef __cplusplus
}
#endif
