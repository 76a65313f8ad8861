#pragma once
/* The receiving side of the direct TCP transport. For the receiving thread only. */

#include <netinet/in.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Binds VQS_BIND and VQS_PORT, as vqs_message_recv_init documents. */
int vqs_tcp_recv_init(void);

/* Blocks until one whole message has arrived, as vqs_message_recv documents; *from (unless
 * NULL) is the address of the connection it came over. */
int vqs_tcp_recv(char *buffer, struct in_addr *from);

/* Closes the listening socket and its connections. */
void vqs_tcp_recv_close(void);

#ifdef __cplusplus
}
#endif
