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

#ifdef __cplusplus
}
#endif
