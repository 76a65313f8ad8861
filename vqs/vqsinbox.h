#pragma once
/* Messages a process sends to itself while the broker transport is in use: they go straight
 * to its own receiver, broker or not, in the order sent. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Queues a copy of text (len bytes). 0, or -1 when limit messages wait already (dropped). */
int vqs_inbox_put(const char *text, size_t len, long limit);

/* Takes the oldest message into buffer, NUL-terminated; its length, or -1 when none waits. */
int vqs_inbox_take(char *buffer);

/* A descriptor that polls readable while a message may wait; -1 when none could be made. */
int vqs_inbox_fd(void);

#ifdef __cplusplus
}
#endif
