#include "mqaid.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <amqp_framing.h>

void die(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    fprintf(stderr, "\n");
    exit(1);
}

void die_on_error(int x, const char *context)
{
    if (x < 0) {
        fprintf(stderr, "%s: %s\n", context, amqp_error_string2(x));
        exit(1);
    }
}

void die_on_amqp_error(amqp_rpc_reply_t x, const char *context)
{
    switch (x.reply_type) {
    case AMQP_RESPONSE_NORMAL:
        return;
    case AMQP_RESPONSE_NONE:
        fprintf(stderr, "%s: missing RPC reply type!\n", context);
        break;
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
        fprintf(stderr, "%s: %s\n", context, amqp_error_string2(x.library_error));
        break;
    case AMQP_RESPONSE_SERVER_EXCEPTION:
        switch (x.reply.id) {
        case AMQP_CONNECTION_CLOSE_METHOD: {
            const amqp_connection_close_t *m = (const amqp_connection_close_t *)x.reply.decoded;
            fprintf(stderr, "%s: server connection error %d, message: %.*s\n", context,
                    m->reply_code, (int)m->reply_text.len, (const char *)m->reply_text.bytes);
            break;
        }
        case AMQP_CHANNEL_CLOSE_METHOD: {
            const amqp_channel_close_t *m = (const amqp_channel_close_t *)x.reply.decoded;
            fprintf(stderr, "%s: server channel error %d, message: %.*s\n", context, m->reply_code,
                    (int)m->reply_text.len, (const char *)m->reply_text.bytes);
            break;
        }
        default:
            fprintf(stderr, "%s: unknown server error, method id 0x%08X\n", context, x.reply.id);
            break;
        }
        break;
    default:
        break;
    }
    exit(1);
}

static void dump_row(long count, int numinrow, const int *chs)
{
    printf("%08lX:", count - numinrow);
    if (numinrow > 0) {
        for (int i = 0; i < numinrow; i++) {
            if (i == 8)
                printf(" :");
            printf(" %02X", chs[i]);
        }
        for (int i = numinrow; i < 16; i++) {
            if (i == 8)
                printf(" :");
            printf("   ");
        }
        printf("  ");
        for (int i = 0; i < numinrow; i++)
            printf("%c", isprint(chs[i]) ? chs[i] : '.');
    }
    printf("\n");
}

static int rows_eq(const int *a, const int *b)
{
    for (int i = 0; i < 16; i++)
        if (a[i] != b[i])
            return 0;
    return 1;
}

void amqp_dump(const void *buffer, size_t len)
{
    const unsigned char *buf = (const unsigned char *)buffer;
    long count = 0;
    int numinrow = 0;
    int chs[16] = {0};
    int oldchs[16] = {0};
    int showed_dots = 0;

    for (size_t i = 0; i < len; i++) {
        if (numinrow == 16) {
            if (rows_eq(chs, oldchs)) {
                if (!showed_dots) {
                    showed_dots = 1;
                    printf("          .. .. .. .. .. .. .. .. : .. .. .. .. .. .. .. ..\n");
                }
            } else {
                showed_dots = 0;
                dump_row(count, numinrow, chs);
            }
            memcpy(oldchs, chs, sizeof chs);
            numinrow = 0;
        }
        count++;
        chs[numinrow++] = buf[i];
    }

    dump_row(count, numinrow, chs);
    if (numinrow != 0)
        printf("%08lX:\n", count);
}
