#include "vqsinbox.h"

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <unistd.h>

struct letter {
    struct letter *next;
    size_t len;
    char text[];
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static struct letter *g_head;
static struct letter *g_tail;
static long g_count;
static int g_fd = -1;

/* Called with g_lock held. */
static int wake_fd(void)
{
    if (g_fd < 0)
        g_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return g_fd;
}

int vqs_inbox_put(const char *text, size_t len, long limit)
{
    struct letter *letter = malloc(sizeof *letter + len);
    if (!letter)
        return -1;
    letter->next = NULL;
    letter->len = len;
    memcpy(letter->text, text, len);
    pthread_mutex_lock(&g_lock);
    if (g_count >= limit) {
        pthread_mutex_unlock(&g_lock);
        free(letter);
        fprintf(stderr, "vqs: message to this host dropped: %ld messages wait for its receiver\n",
                limit);
        return -1;
    }
    if (g_tail)
        g_tail->next = letter;
    else
        g_head = letter;
    g_tail = letter;
    g_count++;
    int fd = wake_fd();
    pthread_mutex_unlock(&g_lock);
    uint64_t one = 1;
    if (fd >= 0 && write(fd, &one, sizeof one) < 0) {
        /* The counter is already non-zero: the receiver wakes anyway. */
    }
    return 0;
}

int vqs_inbox_take(char *buffer)
{
    pthread_mutex_lock(&g_lock);
    /* Emptied before the look, so a message put after it wakes the next poll. */
    uint64_t count;
    if (g_fd >= 0 && read(g_fd, &count, sizeof count) < 0) {
        /* Nothing was signalled. */
    }
    struct letter *letter = g_head;
    if (letter) {
        g_head = letter->next;
        if (!g_head)
            g_tail = NULL;
        g_count--;
    }
    pthread_mutex_unlock(&g_lock);
    if (!letter)
        return -1;
    int len = (int)letter->len;
    memcpy(buffer, letter->text, letter->len);
    buffer[len] = '\0';
    free(letter);
    return len;
}

int vqs_inbox_fd(void)
{
    pthread_mutex_lock(&g_lock);
    int fd = wake_fd();
    pthread_mutex_unlock(&g_lock);
    return fd;
}
