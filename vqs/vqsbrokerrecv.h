#pragma once
/* The receiving side of the broker transport. For the receiving thread only. */

#include "vqsconfig.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Ends an earlier consumer (what it had not acknowledged goes back to the queue) and starts
 * consuming the queue of s->address, which the set-up made, and, for a desktop whose settings
 * name one, the stream of pushes from the place it kept (the first time: from the next push).
 * 0 once the broker has confirmed both consumers; -1 when there is no address, the queue or
 * the stream does not exist yet or the broker cannot be had now (said on standard error; the
 * receive keeps trying). */
int vqs_broker_recv_init(const struct vqs_settings *s);

/* Acknowledges the message handed out by the previous call (a push of the stream: keeps its
 * offset, in memory and in s->offset_file), then blocks until the next message, from the
 * broker or from this process itself, and copies it NUL-terminated into buffer. Reconnects
 * with growing pauses while the broker is out of reach. */
int vqs_broker_recv(char *buffer);

/* The validated user-id of the message handed out last, into sender when it fits in size
 * bytes; left alone for a message without one and for this process's own messages. */
void vqs_broker_recv_sender(char *sender, size_t size);

/* Ends the consumer; unacknowledged messages go back to the queue. */
void vqs_broker_recv_close(void);

#ifdef __cplusplus
}
#endif
