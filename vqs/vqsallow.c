#include "vqsallow.h"

#include <arpa/inet.h>
#include <string.h>

static int listed(struct in_addr peer, const char *allow)
{
    const char *p = allow;
    while (p && *p) {
        const char *end = strchr(p, ',');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        while (n > 0 && (*p == ' ' || *p == '\t')) {
            p++;
            n--;
        }
        while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t'))
            n--;
        char entry[INET_ADDRSTRLEN];
        struct in_addr addr;
        if (n > 0 && n < sizeof entry) {
            memcpy(entry, p, n);
            entry[n] = '\0';
            if (inet_pton(AF_INET, entry, &addr) == 1 && addr.s_addr == peer.s_addr)
                return 1;
        }
        p = end ? end + 1 : NULL;
    }
    return 0;
}

int vqs_peer_allowed(struct in_addr peer, const struct in_addr *contacted, size_t ncontacted,
                     const char *allow)
{
    if ((ntohl(peer.s_addr) >> 24) == 127)
        return 1;
    for (size_t i = 0; i < ncontacted; i++) {
        if (contacted[i].s_addr == peer.s_addr)
            return 1;
    }
    return listed(peer, allow);
}
