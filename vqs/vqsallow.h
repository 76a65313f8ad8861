#pragma once
/* Which peers may deliver messages to the receiver. */

#include <netinet/in.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when a connection from peer may be read: a loopback address (127.0.0.0/8), one of the
 * ncontacted addresses in contacted, or one of the comma-separated dotted addresses in allow
 * (NULL or empty for none; blanks around entries are ignored, malformed entries never match).
 * 0 otherwise. */
int vqs_peer_allowed(struct in_addr peer, const struct in_addr *contacted, size_t ncontacted,
                     const char *allow);

#ifdef __cplusplus
}
#endif
