#pragma once
/* For programs that set up the broker the transport uses (the catalog server declares the
 * exchange): a connection made from libvqs's own settings. */

#include "vqs.h"

#include <amqp.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Connects to the configured broker and opens channel 1, as the transport does. NULL when
 * the broker transport is not chosen. Otherwise the connection, also when *reply is not
 * normal (its text lives in the connection); end it with amqp_destroy_connection. */
VQS_EXPORT amqp_connection_state_t vqs_broker_connect(amqp_rpc_reply_t *reply);

/* The exchange the transport publishes to and binds queues at. */
VQS_EXPORT const char *vqs_broker_exchange(void);

#ifdef __cplusplus
}
#endif
