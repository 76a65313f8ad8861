#pragma once
/* What the receiver needs from the sending side. */

#include <netinet/in.h>

#ifdef __cplusplus
extern "C" {
#endif

/* vqs_peer_allowed for peer, counting every address this process has queued a message to. */
int vqs_peer_accepted(struct in_addr peer, const char *allow);

#ifdef __cplusplus
}
#endif
