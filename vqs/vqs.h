#pragma once
/* libvqs: short text messages between the store and its catalog server over TCP.
 * Port VQS_PORT (default 7788); the receiver binds VQS_BIND (default 0.0.0.0) and accepts
 * peers on loopback, peers this process has sent to, and the addresses in VQS_ALLOW. */

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_EXPORT __attribute__((visibility("default")))

#define VQS_MAX_MESSAGE 65535

/* Queues text (NUL-terminated) for delivery to the dotted IPv4 address dest and returns at
 * once. Messages to one destination arrive in the order sent. 0 when queued, -1 when the
 * destination is not an address or the text is longer than VQS_MAX_MESSAGE (refused whole).
 * The port is read from VQS_PORT at each call. Safe to call from several threads. */
VQS_EXPORT int vqs_message_send(const char *dest, const char *text);

/* Binds the receiving socket; call once on the receiving thread before vqs_message_recv.
 * 0 on success, -1 when the port cannot be bound. Calling it again closes the previous
 * socket and its connections and binds anew. */
VQS_EXPORT int vqs_message_recv_init(void);

/* Blocks until one whole message has arrived and copies it, NUL-terminated, into buffer,
 * which must hold VQS_MAX_MESSAGE + 1 bytes. Returns the message length, -1 on failure
 * (buffer left empty). Not for concurrent use: one receiving thread per process. */
VQS_EXPORT int vqs_message_recv(char *buffer);

#ifdef __cplusplus
}
#endif
