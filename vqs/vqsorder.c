#include "vqsorder.h"

#include <stdlib.h>
#include <string.h>

/* The catalog server: one sender at a time. */
static char g_sender[48];
static unsigned long long g_pushed;   /* the last push of g_sender handed out */
static unsigned long long g_baseline; /* the pushes of g_sender sent before it was heard */
static int g_heard;

/* Splits "SENDER.SEQ": 0 with *seq set, -1 for another form. */
static int parse(const char *id, size_t len, size_t *sender, unsigned long long *seq)
{
    const char *dot = memchr(id, '.', len);
    if (!dot || (size_t)(dot - id) >= sizeof g_sender)
        return -1;
    char digits[24];
    const size_t n = len - (size_t)(dot - id) - 1;
    if (n == 0 || n >= sizeof digits)
        return -1;
    memcpy(digits, dot + 1, n);
    digits[n] = '\0';
    char *end = NULL;
    *seq = strtoull(digits, &end, 10);
    *sender = (size_t)(dot - id);
    return *end == '\0' ? 0 : -1;
}

static int is_sender(const char *id, size_t sender)
{
    return strlen(g_sender) == sender && memcmp(g_sender, id, sender) == 0;
}

static void take_sender(const char *id, size_t sender)
{
    memcpy(g_sender, id, sender);
    g_sender[sender] = '\0';
    g_pushed = 0;
    g_heard = 0;
}

void vqs_order_pushed(const char *id, size_t len)
{
    size_t sender;
    unsigned long long seq;
    if (parse(id, len, &sender, &seq) != 0)
        return;
    if (!is_sender(id, sender))
        take_sender(id, sender);
    if (seq > g_pushed)
        g_pushed = seq;
}

int vqs_order_must_wait(const char *id, size_t len, unsigned long long after)
{
    size_t sender;
    unsigned long long seq;
    if (parse(id, len, &sender, &seq) != 0)
        return 0;
    if (!is_sender(id, sender))
        take_sender(id, sender);
    /* A first message after no push still counts as heard: what comes next is ordered. */
    if (!g_heard) {
        g_heard = 1;
        g_baseline = after;
        return 0;
    }
    return after > g_baseline && after > g_pushed;
}
