/* A second process on the transport for the tests.
 *   vqspeer send DEST TEXT...          queues every TEXT for DEST and returns from main at once
 *                                      (status 1 when any was refused)
 *   vqspeer pairs DEST TEXT [DEST TEXT]...  queues each TEXT for the DEST before it; a DEST
 *                                      "group.NAME" is a push to that group's stream, and
 *                                      "ADDRESS@group.NAME" a message to a desktop of the group
 *   vqspeer stay DEST TEXT [DEST TEXT]...   as pairs, then keeps sending (and sending again)
 *                                      until standard input ends
 *   vqspeer threads DEST SENDERS EACH  SENDERS threads each queue "sender S I" for I < EACH
 *   vqspeer recv COUNT                 prints "init RESULT", then "LENGTH TEXT" for COUNT
 *                                      receives, and ends without coming back for more
 *   vqspeer stamp COUNT                the same, with "NANOSECONDS LENGTH" for each message:
 *                                      when it arrived, on the monotonic clock
 *   vqspeer from COUNT                 the same, with "LENGTH [SENDER] TEXT": who the
 *                                      transport says sent it
 *   vqspeer peer COUNT                 the same, with "LENGTH [PEER] TEXT": the address the
 *                                      message's connection came from
 *   vqspeer peak COUNT                 as recv, then "peak KIB": the most memory it held
 *   vqspeer spread PORT COUNT WAIT     queues one message to each of COUNT loopback addresses
 *                                      127.9.X.Y on PORT, prints "refused N" and "threads N"
 *                                      (this process's threads), and with WAIT 1 waits until
 *                                      its senders are gone, printing "reaped N"
 *   vqspeer forget ADDRESS COUNT PORT  sends to ADDRESS, then to COUNT loopback addresses
 *                                      127.9.X.Y on PORT, then receives one message as recv 1
 *                                      does
 *   vqspeer queue ADDRESS              makes the queue of desktop ADDRESS as the catalog server
 *                                      does for a group's desktop (status 1 when it cannot) */

#include "vqs.h"
#include "vqsbroker.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct sender {
    const char *dest;
    int number;
    int each;
    int failures;
};

static void *send_numbered(void *arg)
{
    struct sender *s = arg;
    char text[64];
    for (int i = 0; i < s->each; i++) {
        snprintf(text, sizeof text, "sender %d %d", s->number, i);
        if (vqs_message_send(s->dest, text) != 0)
            s->failures++;
    }
    return NULL;
}

static int make_queue(const char *address)
{
    amqp_rpc_reply_t reply;
    amqp_connection_state_t conn = vqs_broker_connect(&reply);
    if (!conn || reply.reply_type != AMQP_RESPONSE_NORMAL) {
        fprintf(stderr, "vqspeer: cannot reach the broker\n");
        return 1;
    }
    amqp_channel_t channel = 1;
    char why[1024];
    int rc = vqs_broker_make_desktop_queue(conn, &channel, address, why, sizeof why);
    if (rc != 0)
        fprintf(stderr, "vqspeer: %s\n", why);
    amqp_destroy_connection(conn);
    return rc == 0 ? 0 : 1;
}

static int send_from_threads(const char *dest, int count, int each)
{
    struct sender senders[64];
    pthread_t threads[64];
    if (count < 1 || count > 64)
        return 2;
    for (int i = 0; i < count; i++) {
        senders[i] = (struct sender){.dest = dest, .number = i, .each = each};
        pthread_create(&threads[i], NULL, send_numbered, &senders[i]);
    }
    int failures = 0;
    for (int i = 0; i < count; i++) {
        pthread_join(threads[i], NULL);
        failures += senders[i].failures;
    }
    return failures == 0 ? 0 : 1;
}

/* A number from this process's /proc status, e.g. "VmHWM: %ld kB"; -1 when missing. */
static long own_status(const char *format)
{
    char line[128];
    long value = -1;
    FILE *status = fopen("/proc/self/status", "re");
    while (status && fgets(line, sizeof line, status)) {
        if (sscanf(line, format, &value) == 1)
            break;
    }
    if (status)
        fclose(status);
    return value;
}

/* The high-water mark of this program's memory; getrusage would also count what the process
 * held before it became this program. */
static void print_peak(void)
{
    printf("peak %ld\n", own_status("VmHWM: %ld kB"));
}

static int spread(const char *port, int count, int wait)
{
    setenv("VQS_PORT", port, 1);
    int refused = 0;
    char dest[32];
    for (int i = 0; i < count; i++) {
        snprintf(dest, sizeof dest, "127.9.%d.%d", i / 200, i % 200 + 1);
        refused += vqs_message_send(dest, "spread") != 0;
    }
    printf("refused %d\nthreads %ld\n", refused, own_status("Threads: %ld"));
    /* Bounded only so that a sender never reaped fails the test instead of hanging it. */
    for (int i = 0; wait && i < 250 && own_status("Threads: %ld") > 1; i++) {
        struct timespec pause = {.tv_sec = 0, .tv_nsec = 100 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    if (wait)
        printf("reaped %ld\n", own_status("Threads: %ld"));
    return 0;
}

/* What the receiver lets in once ADDRESS was sent to before count others. */
static int forget(const char *address, int count, const char *port)
{
    static char buffer[VQS_MAX_MESSAGE + 1];
    char dest[32];
    char *own_port = strdup(getenv("VQS_PORT") ? getenv("VQS_PORT") : "7788");
    /* Elsewhere: the last of them may still be on their way when the receiver starts. */
    setenv("VQS_PORT", port, 1);
    vqs_message_send(address, "remember me");
    for (int i = 0; i < count; i++) {
        snprintf(dest, sizeof dest, "127.9.%d.%d", i / 200, i % 200 + 1);
        /* All senders busy: one is free again as soon as its closed port answers. */
        for (int tries = 0; vqs_message_send(dest, "spread") != 0 && tries < 10000; tries++) {
            struct timespec pause = {.tv_sec = 0, .tv_nsec = 1000 * 1000};
            nanosleep(&pause, NULL);
        }
    }
    setenv("VQS_PORT", own_port, 1);
    free(own_port);
    printf("init %d\n", vqs_message_recv_init());
    fflush(stdout);
    int len = vqs_message_recv(buffer);
    printf("%d %s\n", len, buffer);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "send") == 0) {
        int failures = 0;
        for (int i = 3; i < argc; i++)
            failures += vqs_message_send(argv[2], argv[i]) != 0;
        return failures == 0 ? 0 : 1;
    }
    const int stay = strcmp(argv[1], "stay") == 0;
    if (argc >= 4 && argc % 2 == 0 && (strcmp(argv[1], "pairs") == 0 || stay)) {
        int failures = 0;
        for (int i = 2; i + 1 < argc; i += 2) {
            char *group = strchr(argv[i], '@');
            if (group)
                *group++ = '\0';
            failures +=
                (strncmp(argv[i], "group.", 6) == 0 ? vqs_broker_push_group(argv[i], argv[i + 1])
                 : group ? vqs_message_send_member(argv[i], argv[i + 1], group)
                         : vqs_message_send(argv[i], argv[i + 1])) != 0;
        }
        /* Past the exit's short flush: a broker settling a new leader takes longer. */
        while (stay && getchar() != EOF) {
        }
        return failures == 0 ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "queue") == 0)
        return make_queue(argv[2]);
    if (argc == 5 && strcmp(argv[1], "forget") == 0)
        return forget(argv[2], atoi(argv[3]), argv[4]);
    if (argc == 5 && strcmp(argv[1], "spread") == 0)
        return spread(argv[2], atoi(argv[3]), atoi(argv[4]));
    if (argc == 5 && strcmp(argv[1], "threads") == 0)
        return send_from_threads(argv[2], atoi(argv[3]), atoi(argv[4]));
    int stamp = argc == 3 && strcmp(argv[1], "stamp") == 0;
    int from = argc == 3 && strcmp(argv[1], "from") == 0;
    int peak = argc == 3 && strcmp(argv[1], "peak") == 0;
    int peer = argc == 3 && strcmp(argv[1], "peer") == 0;
    if (argc == 3 && (strcmp(argv[1], "recv") == 0 || stamp || from || peak || peer)) {
        static char buffer[VQS_MAX_MESSAGE + 1];
        char sender[256];
        char address[64];
        printf("init %d\n", vqs_message_recv_init());
        fflush(stdout);
        for (int i = atoi(argv[2]); i > 0; i--) {
            int len = vqs_message_recv_peer(buffer, sender, sizeof sender, address, sizeof address);
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (stamp)
                printf("%lld %d\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec, len);
            else if (from)
                printf("%d [%s] %s\n", len, sender, buffer);
            else if (peer)
                printf("%d [%s] %s\n", len, address, buffer);
            else
                printf("%d %s\n", len, buffer);
            fflush(stdout);
        }
        if (peak)
            print_peak();
        return 0;
    }
    fprintf(
        stderr,
        "usage: vqspeer send DEST TEXT... | vqspeer pairs DEST TEXT... | vqspeer "
        "threads DEST SENDERS EACH | vqspeer recv COUNT | vqspeer stamp COUNT | vqspeer "
        "from COUNT | vqspeer peer COUNT | vqspeer peak COUNT | vqspeer spread PORT COUNT WAIT | "
        "vqspeer forget ADDRESS COUNT PORT | vqspeer queue ADDRESS\n");
    return 2;
}
