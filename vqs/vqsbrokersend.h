#pragma once
/* The sending side of the broker transport. */

#include "vqsconfig.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Queues text (len bytes) for publication with dest as routing key and returns at once; one
 * thread publishes everything, persistent and confirmed, in the order queued. 0, or -1 when
 * the backlog of s is full (the message is dropped, with a line on standard error). */
int vqs_broker_send(const struct vqs_settings *s, const char *dest, const char *text, size_t len);
/* As vqs_broker_send, for the catalog server with a stream per group of desktops: group is the
 * routing key of the stream dest reads ("group.NAME"), or NULL. dest equal to group is a push
 * to that group; a message to one desktop then names the later of the last push to everyone
 * and the last push to its group as the push it follows. */
int vqs_broker_send_grouped(const struct vqs_settings *s, const char *dest, const char *text,
                            size_t len, const char *group);

#ifdef __cplusplus
}
#endif
