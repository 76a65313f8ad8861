#include "vqsnodes.h"

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* FNV-1a: the same desktop starts at the same node every time, desktops spread evenly. */
static uint32_t spread_key(const struct vqs_settings *s)
{
    uint32_t hash = 2166136261u;
    const char *parts[] = {s->address, s->user};
    for (size_t p = 0; p < sizeof parts / sizeof parts[0]; p++) {
        for (const char *c = parts[p]; *c; c++)
            hash = (hash ^ (unsigned char)*c) * 16777619u;
    }
    return hash;
}

void vqs_nodes_reset(struct vqs_nodes *nodes, const struct vqs_settings *s)
{
    nodes->from = s;
    nodes->count = vqs_settings_node_count(s->url);
    nodes->current = nodes->count > 1 ? spread_key(s) % nodes->count : 0;
    nodes->moving = 0;
}

/* The node the process used last: the sender and the receiver move together, one line. */
static pthread_mutex_t g_used_lock = PTHREAD_MUTEX_INITIALIZER;
static char g_used[VQS_TEXT_SETTING];

/* Said after a loss only: a process's first node, or new settings, are no move. */
static void announce(const struct vqs_nodes *nodes)
{
    pthread_mutex_lock(&g_used_lock);
    if (strcmp(g_used, nodes->one.url) != 0) {
        snprintf(g_used, sizeof g_used, "%s", nodes->one.url);
        if (nodes->moving) {
            char where[VQS_TEXT_SETTING + 64];
            vqs_link_where(&nodes->one, where, sizeof where);
            fprintf(stderr, "vqs: now using %s (node %zu of %zu)\n", where, nodes->current + 1,
                    nodes->count);
        }
    }
    pthread_mutex_unlock(&g_used_lock);
}

int vqs_nodes_open(struct vqs_nodes *nodes, struct vqs_link *link, amqp_rpc_reply_t *reply,
                   char *why, size_t whysize)
{
    /* No URL at all: the link says why. */
    if (nodes->count == 0)
        return vqs_link_open(nodes->from, link, reply, why, whysize);
    for (size_t tried = 0; tried < nodes->count; tried++) {
        size_t index = (nodes->current + tried) % nodes->count;
        nodes->one = *nodes->from;
        vqs_settings_node_url(nodes->from->url, index, nodes->one.url, sizeof nodes->one.url);
        if (tried > 0)
            vqs_link_close(link);
        if (vqs_link_open(&nodes->one, link, reply, why, whysize) == 0) {
            nodes->current = index;
            announce(nodes);
            nodes->moving = 0;
            return 0;
        }
    }
    return -1;
}

void vqs_nodes_lost(struct vqs_nodes *nodes)
{
    if (nodes->count > 1) {
        nodes->current = (nodes->current + 1) % nodes->count;
        nodes->moving = 1;
    }
}
