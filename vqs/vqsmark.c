#include "vqsmark.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#define SENDER_SIZE 17
/* Senders remembered at once; the catalog server and a few peers in practice. */
#define REMEMBERED 64

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static char g_sender[SENDER_SIZE];
static pid_t g_sender_pid;

void vqs_mark_make(unsigned long long seq, char *out, size_t size)
{
    pthread_mutex_lock(&g_lock);
    /* A forked child is another sender. */
    if (g_sender_pid != getpid()) {
        unsigned char bytes[8];
        if (getrandom(bytes, sizeof bytes, 0) != (ssize_t)sizeof bytes) {
            struct timespec ts;
            clock_gettime(CLOCK_REALTIME, &ts);
            unsigned long long mix = (unsigned long long)ts.tv_nsec ^
                                     ((unsigned long long)ts.tv_sec << 20) ^
                                     ((unsigned long long)getpid() << 40);
            memcpy(bytes, &mix, sizeof bytes);
        }
        for (size_t i = 0; i < sizeof bytes; i++)
            snprintf(g_sender + 2 * i, 3, "%02x", bytes[i]);
        g_sender_pid = getpid();
    }
    snprintf(out, size, "%s.%llu", g_sender, seq);
    pthread_mutex_unlock(&g_lock);
}

struct sender {
    char id[SENDER_SIZE];
    unsigned long long last;
    unsigned long long used; /* for replacing the sender heard from least recently */
};

static struct sender g_seen[REMEMBERED];
static unsigned long long g_clock;

int vqs_mark_seen(const char *id, size_t len)
{
    const char *dot = memchr(id, '.', len);
    if (!dot || dot - id != SENDER_SIZE - 1)
        return 0;
    char digits[24];
    size_t ndigits = len - (size_t)(dot - id) - 1;
    if (ndigits == 0 || ndigits >= sizeof digits)
        return 0;
    memcpy(digits, dot + 1, ndigits);
    digits[ndigits] = '\0';
    char *end = NULL;
    unsigned long long seq = strtoull(digits, &end, 10);
    if (*end != '\0')
        return 0;

    struct sender *slot = &g_seen[0];
    for (size_t i = 0; i < REMEMBERED; i++) {
        if (memcmp(g_seen[i].id, id, SENDER_SIZE - 1) == 0) {
            slot = &g_seen[i];
            break;
        }
        if (g_seen[i].used < slot->used)
            slot = &g_seen[i];
    }
    slot->used = ++g_clock;
    if (memcmp(slot->id, id, SENDER_SIZE - 1) == 0) {
        if (seq <= slot->last)
            return 1;
    } else {
        memcpy(slot->id, id, SENDER_SIZE - 1);
        slot->id[SENDER_SIZE - 1] = '\0';
    }
    slot->last = seq;
    return 0;
}

/* The ids handed out last, from the queue or the stream: a push still bound to both (an old
 * set-up moving) comes twice, in no order relative to the other path's messages, so the
 * sequence of the queue's sender cannot tell; its id can. */
#define RECENT 256
#define RECENT_ID 64
static char g_recent[RECENT][RECENT_ID];
static unsigned g_recent_next;

int vqs_mark_handed_out(const char *id, size_t len)
{
    for (size_t i = 0; len && len < RECENT_ID && i < RECENT; i++) {
        if (memcmp(g_recent[i], id, len) == 0 && g_recent[i][len] == '\0')
            return 1;
    }
    return 0;
}

void vqs_mark_remember(const char *id, size_t len)
{
    if (!len || len >= RECENT_ID)
        return;
    memcpy(g_recent[g_recent_next], id, len);
    g_recent[g_recent_next][len] = '\0';
    g_recent_next = (g_recent_next + 1) % RECENT;
}
