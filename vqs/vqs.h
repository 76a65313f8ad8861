#pragma once
/* libvqs: short text messages between the store and its catalog server, over direct TCP (the
 * default) or through an AMQP broker, as libvqs's own settings file chooses (/etc/vqs.conf,
 * or the file VQS_CONFIG names).
 * Direct TCP: port VQS_PORT (default 7788); the receiver binds VQS_BIND (default 0.0.0.0) and
 * accepts peers on loopback, peers this process has sent to lately (the last 4096), and the
 * addresses in VQS_ALLOW. A sender connects from VQS_BIND when it names one address (and
 * the destination is loopback exactly when it is), so that an answer to the connection's
 * address reaches the receiver. Each destination has its own sender thread, at most
 * VQS_MAX_LANES (default 4096) of them; one idle for VQS_LANE_IDLE seconds (default 60) ends.
 * The receiver holds VQS_MAX_CONNECTIONS connections, VQS_MAX_PER_ADDRESS (64) from one
 * address, closing the one idle the longest to let a new one in, and closes a connection
 * silent for VQS_CONNECTION_IDLE seconds (75) or slower than VQS_MESSAGE_TIMEOUT (10) to
 * finish a message.
 * Broker: an address names a durable queue its receiver consumes; 127.0.0.1 and the host's
 * own address reach this process's own receiver without the broker. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_EXPORT __attribute__((visibility("default")))

#define VQS_MAX_MESSAGE 65535

/* Queues text (NUL-terminated) for delivery to the dotted IPv4 address dest and returns at
 * once. Messages to one destination arrive in the order sent. 0 when queued, -1 when the
 * destination is not an address, the text is longer than VQS_MAX_MESSAGE (refused whole), the
 * backlog waiting for the broker is full or, over direct TCP, a new destination finds every
 * one of the VQS_MAX_LANES senders busy (dropped, said on standard error), or the settings
 * file was refused and dest is not 127.0.0.1. Direct TCP reads the port from VQS_PORT at each
 * call. Safe to call from several threads. */
VQS_EXPORT int vqs_message_send(const char *dest, const char *text);

/* Prepares the receiver; call once on the receiving thread before vqs_message_recv. Direct
 * TCP binds the port: 0 on success, -1 when it cannot be bound; calling it again closes the
 * previous socket and its connections and binds anew. Broker: consumes this host's queue,
 * which the administrator's set-up (or the catalog server) made: 0 on success, -1 when the
 * broker cannot be had now or the queue does not exist yet (the receive keeps trying) or no
 * address is configured. -1 as well, changing nothing, while another thread is in
 * vqs_message_recv or vqs_message_recv_from; and when the settings file was refused (then
 * only this process's own messages are received). */
VQS_EXPORT int vqs_message_recv_init(void);

/* Blocks until one whole message has arrived and copies it, NUL-terminated, into buffer,
 * which must hold VQS_MAX_MESSAGE + 1 bytes. Returns the message length, -1 on failure
 * (buffer left empty). A message holding a NUL byte or longer than VQS_MAX_MESSAGE is refused
 * with a line on standard error and the next one awaited. Through the broker, a message is
 * acknowledged when the caller comes back for the next one: one handed out to a process that
 * ends before that comes again. Meant for one receiving thread per process; calls from two
 * threads take turns. */
VQS_EXPORT int vqs_message_recv(char *buffer);

/* As vqs_message_recv, and names who sent the message in sender (size bytes, NUL-terminated):
 * through the broker the user-id the broker validated against the publisher's login, empty
 * when the message carries none or it does not fit in size; over direct TCP and for this
 * process's own messages always empty (an address is no proof of the sender). */
VQS_EXPORT int vqs_message_recv_from(char *buffer, char *sender, size_t sender_size);

/* As vqs_message_recv_from, and names in peer (peer_size bytes, NUL-terminated) the dotted
 * IPv4 address the message's TCP connection came from; empty through the broker, for this
 * process's own messages there, and when it does not fit. Outside loopback a TCP peer has
 * completed a handshake from that address: an answer sent there goes to that host. A
 * loopback peer (127.0.0.0/8) proves only that the sender runs on this host, as any account
 * may connect from any loopback address. */
VQS_EXPORT int vqs_message_recv_peer(char *buffer, char *sender, size_t sender_size, char *peer,
                                     size_t peer_size);

/* The address that reaches every receiver with one message (the broker's broadcast), or
 * NULL with direct TCP, where each destination has to be sent its own copy. */
VQS_EXPORT const char *vqs_broadcast_address(void);

#ifdef __cplusplus
}
#endif
