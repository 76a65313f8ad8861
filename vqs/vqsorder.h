#pragma once
/* The catalog server's messages to one desktop come through its queue, its pushes through the
 * stream: two paths with no order between them, while the store takes a frame older than the
 * last it took for a replay. A message to one desktop names the last push its sender sent
 * before it ("x-vqs-after"), and waits until the stream has handed that push out. For the
 * receiving thread only. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The longest a message of the queue waits for the stream. */
#define VQS_ORDER_WAIT_MS 5000

/* A push of the stream with message id id (len bytes) was handed out. */
void vqs_order_pushed(const char *id, size_t len);

/* 1 when a message of the queue with id id, sent after the push of sequence after (0: none),
 * is to wait for that push. The first message from a sender waits for nothing: the pushes sent
 * before it may predate this receiver. */
int vqs_order_must_wait(const char *id, size_t len, unsigned long long after);

#ifdef __cplusplus
}
#endif
