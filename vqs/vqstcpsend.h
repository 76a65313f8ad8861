#pragma once
/* The sending side of the direct TCP transport, and what its receiver needs from it. */

#include <netinet/in.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Queues text (len bytes, at most VQS_MAX_MESSAGE) for addr on the port VQS_PORT gives now
 * and returns at once. 0, or -1 when no sender thread could be had. */
int vqs_tcp_send(struct in_addr addr, const char *text, size_t len);

/* vqs_peer_allowed for peer, counting every address this process has queued a message to. */
int vqs_peer_accepted(struct in_addr peer, const char *allow);

#ifdef __cplusplus
}
#endif
