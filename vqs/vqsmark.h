#pragma once
/* Message ids of the broker transport: which process sent a message, and its place among
 * that process's messages. A message can come twice (published again after a lost confirm,
 * delivered again after a lost acknowledgement); the receiver hands it out once. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_MARK_SIZE 48

/* The id of this process's seq-th message: "SENDER.SEQ", SENDER random for each process. */
void vqs_mark_make(unsigned long long seq, char *out, size_t size);

/* 1 when the message with this id (len bytes) comes after one of the same sender that was
 * handed out at or after its place; otherwise remembers it and gives 0. Ids of other
 * publishers are never taken for repeats. For the receiving thread only. */
int vqs_mark_seen(const char *id, size_t len);

/* Whether a message of this id (len bytes, of any publisher) was among the last handed out,
 * and remembering one handed out now: a push still bound to both the queue and the stream
 * (an old set-up moving) comes twice, in no order between the two paths. For the receiving
 * thread only. */
int vqs_mark_handed_out(const char *id, size_t len);
void vqs_mark_remember(const char *id, size_t len);

#ifdef __cplusplus
}
#endif
