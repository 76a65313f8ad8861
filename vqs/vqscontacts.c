#include "vqscontacts.h"

#include <stdint.h>

#define BUCKETS (2 * VQS_MAX_CONTACTED)
#define NONE (-1)

/* Slots in a list from the address sent to longest ago to the latest, and chained by hash. */
struct contact {
    struct in_addr addr;
    int older, newer;
    int next_in_bucket;
};

static struct contact g_slots[VQS_MAX_CONTACTED];
static int g_used;
static int g_oldest = NONE, g_newest = NONE;
static int g_buckets[BUCKETS];
static int g_ready;

static int *bucket(struct in_addr addr)
{
    return &g_buckets[((uint32_t)addr.s_addr * 2654435761u >> 16) % BUCKETS];
}

static int find(struct in_addr addr)
{
    if (!g_ready)
        return NONE;
    for (int i = *bucket(addr); i != NONE; i = g_slots[i].next_in_bucket)
        if (g_slots[i].addr.s_addr == addr.s_addr)
            return i;
    return NONE;
}

static void unlink_slot(int i)
{
    struct contact *c = &g_slots[i];
    if (c->older != NONE)
        g_slots[c->older].newer = c->newer;
    else
        g_oldest = c->newer;
    if (c->newer != NONE)
        g_slots[c->newer].older = c->older;
    else
        g_newest = c->older;
}

static void append_slot(int i)
{
    g_slots[i].older = g_newest;
    g_slots[i].newer = NONE;
    if (g_newest != NONE)
        g_slots[g_newest].newer = i;
    else
        g_oldest = i;
    g_newest = i;
}

static void unhash(int i)
{
    for (int *at = bucket(g_slots[i].addr); *at != NONE; at = &g_slots[*at].next_in_bucket) {
        if (*at == i) {
            *at = g_slots[i].next_in_bucket;
            return;
        }
    }
}

void vqs_contacts_note(struct in_addr addr)
{
    if (!g_ready) {
        for (int i = 0; i < BUCKETS; i++)
            g_buckets[i] = NONE;
        g_ready = 1;
    }
    int i = find(addr);
    if (i != NONE) {
        unlink_slot(i);
        append_slot(i);
        return;
    }
    if (g_used < VQS_MAX_CONTACTED) {
        i = g_used++;
    } else {
        i = g_oldest;
        unlink_slot(i);
        unhash(i);
    }
    g_slots[i].addr = addr;
    g_slots[i].next_in_bucket = *bucket(addr);
    *bucket(addr) = i;
    append_slot(i);
}

int vqs_contacts_has(struct in_addr addr)
{
    return find(addr) != NONE;
}
