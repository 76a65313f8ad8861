#pragma once
/* The addresses a process has sent to lately, which its receiver lets in: the last
 * VQS_MAX_CONTACTED of them, each found at once. Not locked: the sender's lock guards it. */

#include <netinet/in.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_MAX_CONTACTED 4096

/* addr was sent to now; past the bound the address sent to longest ago is forgotten. */
void vqs_contacts_note(struct in_addr addr);
/* 1 when addr is among them. */
int vqs_contacts_has(struct in_addr addr);

#ifdef __cplusplus
}
#endif
