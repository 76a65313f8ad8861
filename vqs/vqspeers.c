#include "vqspeers.h"

#include <stdlib.h>

#define BUCKETS 4096
#define PEER_OF(link, member)                                                                      \
    ((struct vqs_peer *)((char *)(link)-offsetof(struct vqs_peer, member)))

/* The connections of one address. */
struct vqs_host {
    struct vqs_host *next; /* in its bucket */
    struct in_addr addr;
    size_t count;
    struct vqs_peer_list peers;
};

static void append(struct vqs_peer_list *list, struct vqs_peer_link *link)
{
    link->next = NULL;
    link->prev = list->last;
    if (list->last)
        list->last->next = link;
    else
        list->first = link;
    list->last = link;
}

static void unlink_from(struct vqs_peer_list *list, struct vqs_peer_link *link)
{
    if (link->prev)
        link->prev->next = link->next;
    else
        list->first = link->next;
    if (link->next)
        link->next->prev = link->prev;
    else
        list->last = link->prev;
    link->prev = link->next = NULL;
}

static struct vqs_host **bucket(const struct vqs_peers *peers, struct in_addr addr)
{
    uint32_t h = addr.s_addr * 2654435761u;
    return &peers->buckets[(h >> 16) % BUCKETS];
}

static struct vqs_host *find_host(const struct vqs_peers *peers, struct in_addr addr)
{
    if (!peers->buckets)
        return NULL;
    for (struct vqs_host *h = *bucket(peers, addr); h; h = h->next)
        if (h->addr.s_addr == addr.s_addr)
            return h;
    return NULL;
}

struct vqs_peer *vqs_peers_add(struct vqs_peers *peers, int fd, struct in_addr addr, long long now)
{
    if (!peers->buckets && !(peers->buckets = calloc(BUCKETS, sizeof *peers->buckets)))
        return NULL;
    struct vqs_host *host = find_host(peers, addr);
    if (!host) {
        if (!(host = calloc(1, sizeof *host)))
            return NULL;
        host->addr = addr;
        struct vqs_host **at = bucket(peers, addr);
        host->next = *at;
        *at = host;
    }
    struct vqs_peer *p = calloc(1, sizeof *p);
    if (!p) {
        if (host->count == 0) {
            *bucket(peers, addr) = host->next;
            free(host);
        }
        return NULL;
    }
    p->fd = fd;
    p->addr = addr;
    p->heard_ms = now;
    p->host = host;
    append(&peers->idle, &p->idle);
    append(&host->peers, &p->sibling);
    host->count++;
    peers->count++;
    return p;
}

void vqs_peers_remove(struct vqs_peers *peers, struct vqs_peer *p)
{
    vqs_peers_finished(peers, p);
    unlink_from(&peers->idle, &p->idle);
    struct vqs_host *host = p->host;
    unlink_from(&host->peers, &p->sibling);
    if (--host->count == 0) {
        for (struct vqs_host **at = bucket(peers, host->addr); *at; at = &(*at)->next) {
            if (*at == host) {
                *at = host->next;
                break;
            }
        }
        free(host);
    }
    peers->count--;
    free(p->body);
    free(p);
}

void vqs_peers_heard(struct vqs_peers *peers, struct vqs_peer *p, long long now)
{
    p->heard_ms = now;
    unlink_from(&peers->idle, &p->idle);
    append(&peers->idle, &p->idle);
    unlink_from(&p->host->peers, &p->sibling);
    append(&p->host->peers, &p->sibling);
}

void vqs_peers_started(struct vqs_peers *peers, struct vqs_peer *p, long long now)
{
    if (p->in_partial)
        return;
    p->started_ms = now;
    p->in_partial = 1;
    append(&peers->partial, &p->partial);
}

void vqs_peers_finished(struct vqs_peers *peers, struct vqs_peer *p)
{
    if (!p->in_partial)
        return;
    unlink_from(&peers->partial, &p->partial);
    p->in_partial = 0;
}

struct vqs_peer *vqs_peers_longest_idle(const struct vqs_peers *peers, const struct in_addr *addr)
{
    if (!addr)
        return peers->idle.first ? PEER_OF(peers->idle.first, idle) : NULL;
    const struct vqs_host *host = find_host(peers, *addr);
    return host && host->peers.first ? PEER_OF(host->peers.first, sibling) : NULL;
}

struct vqs_peer *vqs_peers_oldest_partial(const struct vqs_peers *peers)
{
    return peers->partial.first ? PEER_OF(peers->partial.first, partial) : NULL;
}

size_t vqs_peers_count_of(const struct vqs_peers *peers, struct in_addr addr)
{
    const struct vqs_host *host = find_host(peers, addr);
    return host ? host->count : 0;
}
