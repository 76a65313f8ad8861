#pragma once
/* The direct TCP receiver's connections: who is idle the longest, overall and per address,
 * and whose message has been unfinished the longest, each found at once however many there
 * are. For the receiving thread only. */

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct vqs_peer_link {
    struct vqs_peer_link *prev, *next;
};

/* A list of links, oldest first. */
struct vqs_peer_list {
    struct vqs_peer_link *first, *last;
};

struct vqs_host;

/* One accepted connection and the message it is part-way through. */
struct vqs_peer {
    int fd;
    struct in_addr addr; /* where the connection comes from */
    unsigned char head[4];
    size_t got; /* bytes of header and body read so far */
    uint32_t len;
    char *body;
    long long heard_ms;           /* the last byte read, or the accept */
    long long started_ms;         /* the first byte of the current message, while got > 0 */
    struct vqs_peer_link idle;    /* among all, by heard_ms */
    struct vqs_peer_link sibling; /* among those of its address, by heard_ms */
    struct vqs_peer_link partial; /* among those part-way through a message, by started_ms */
    int in_partial;
    struct vqs_host *host;
};

struct vqs_peers {
    size_t max_total;
    size_t max_per_address;
    long long idle_ms;
    long long message_ms;
    size_t count;
    struct vqs_peer_list idle;
    struct vqs_peer_list partial;
    struct vqs_host **buckets; /* addresses, hashed */
};

/* A new connection, the newest of all; NULL when out of memory. */
struct vqs_peer *vqs_peers_add(struct vqs_peers *peers, int fd, struct in_addr addr, long long now);
/* Forgets p and frees it (not its descriptor). */
void vqs_peers_remove(struct vqs_peers *peers, struct vqs_peer *p);
/* p has just sent something. */
void vqs_peers_heard(struct vqs_peers *peers, struct vqs_peer *p, long long now);
/* p has begun a message, or finished (or dropped) it. */
void vqs_peers_started(struct vqs_peers *peers, struct vqs_peer *p, long long now);
void vqs_peers_finished(struct vqs_peers *peers, struct vqs_peer *p);

/* The connection idle the longest, among those from *addr or (NULL) among all; NULL: none. */
struct vqs_peer *vqs_peers_longest_idle(const struct vqs_peers *peers, const struct in_addr *addr);
/* The connection whose message has been unfinished the longest; NULL: none. */
struct vqs_peer *vqs_peers_oldest_partial(const struct vqs_peers *peers);
size_t vqs_peers_count_of(const struct vqs_peers *peers, struct in_addr addr);

#ifdef __cplusplus
}
#endif
