#pragma once
/* For programs that set up the broker the transport uses (the catalog server declares the
 * exchanges, its queue and the queues of a group account's desktops): a connection made from
 * libvqs's own settings, and queues made as the administrator's set-up makes them. */

#include "vqs.h"

#include <amqp.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Room for the routing key of one group's stream, "group.NAME" (NAME: at most 64 of
 * A-Z a-z 0-9 _ . -), its NUL included. */
#define VQS_GROUP_KEY_SIZE 72

/* For the catalog server with a stream per group of desktops. A push to the group whose
 * stream is bound to key ("group.NAME"), published to the exchange as a push to everyone is.
 * 0 when queued; -1 without the broker, for a key of another form or text as
 * vqs_message_send refuses it. */
VQS_EXPORT int vqs_broker_push_group(const char *key, const char *text);
/* vqs_message_send to the desktop at dest, which reads the stream of group key: a message
 * that follows a push to that group waits for it there as after a push to everyone. Without
 * the broker, vqs_message_send. */
VQS_EXPORT int vqs_message_send_member(const char *dest, const char *text, const char *key);

/* Connects to the configured broker and opens channel 1, as the transport does. NULL when
 * the broker transport is not chosen. Otherwise the connection, also when *reply is not
 * normal (its text lives in the connection); end it with amqp_destroy_connection. */
VQS_EXPORT amqp_connection_state_t vqs_broker_connect(amqp_rpc_reply_t *reply);

/* The topic exchange every desktop's queue is bound to (to its address and the broadcast
 * address); only the catalog server's account publishes there. */
VQS_EXPORT const char *vqs_broker_exchange(void);

/* The exchange that routes to the catalog server's queue alone; desktops publish there. */
VQS_EXPORT const char *vqs_broker_server_exchange(void);

/* This host's address in the settings (the queue it consumes); empty when none is set. */
VQS_EXPORT const char *vqs_broker_address(void);

/* Each declares a queue with the configured queue settings (one that exists with other
 * settings is used as it stands) and binds it, on *channel of conn, which a broker error
 * replaces with the next channel. 0, or -1 with why (of size whysize) saying what the broker
 * answered; the connection is then best closed.
 * The catalog server's queue: named after the configured address, bound to the server
 * exchange with that address. */
VQS_EXPORT int vqs_broker_make_server_queue(amqp_connection_state_t conn, amqp_channel_t *channel,
                                            char *why, size_t whysize);
/* A desktop's queue: named after its address, bound to the exchange with the address and,
 * unless the settings name a stream for the pushes, the broadcast address. */
VQS_EXPORT int vqs_broker_make_desktop_queue(amqp_connection_state_t conn, amqp_channel_t *channel,
                                             const char *address, char *why, size_t whysize);

#ifdef __cplusplus
}
#endif
