#pragma once
/* libvqs's own configuration file: which transport, and how to reach the broker.
 * The store runs under pkexec, which clears the environment, so the file is the only source
 * of broker settings; VQS_CONFIG (read with secure_getenv) may name another file. */

#include <netinet/in.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_DEFAULT_CONFIG "/etc/vqs.conf"
#define VQS_DEFAULT_EXCHANGE "corvane"
#define VQS_DEFAULT_SERVER_EXCHANGE "corvane.server"
#define VQS_DEFAULT_BROADCAST "255.255.255.255"
/* The queue settings: scripts/broker reads these three lines for the queues it declares. */
#define VQS_DEFAULT_QUEUE_TYPE "classic"
#define VQS_DEFAULT_MAX_LENGTH 10000L
#define VQS_DEFAULT_MAX_AGE 2592000L /* 30 days */
#define VQS_DEFAULT_BACKLOG 10000L
/* The stream every push goes through (scripts/broker reads the name, the age and the size). */
#define VQS_DEFAULT_STREAM "corvane.broadcast"
#define VQS_DEFAULT_STREAM_MAX_AGE "30D"
#define VQS_DEFAULT_STREAM_MAX_BYTES 2000000000L
#define VQS_DEFAULT_STREAM_SEGMENT_BYTES 50000000L

#define VQS_TEXT_SETTING 512
/* The most broker nodes url may list. */
#define VQS_NODES_MAX 16
/* The longest line of the file, its newline not counted. */
#define VQS_LINE_MAX 1023

struct vqs_settings {
    int broker;                      /* 0: direct TCP; 1: AMQP broker */
    int refused;                     /* the file was refused: no transport but the process's own */
    char file[VQS_TEXT_SETTING];     /* where these came from; empty: built-in */
    char url[VQS_TEXT_SETTING];      /* amqp://host:port/vhost or amqps://..., one per node */
    int allow_plain;                 /* amqp:// to a host other than loopback is meant */
    char user[VQS_TEXT_SETTING];     /* overrides the URL's user when set */
    char password[VQS_TEXT_SETTING]; /* overrides the URL's password when set */
    char address[INET_ADDRSTRLEN];   /* this host: its queue and its own messages */
    char exchange[VQS_TEXT_SETTING]; /* topic exchange every desktop's queue is bound to */
    char server_exchange[VQS_TEXT_SETTING]; /* the exchange that reaches the catalog server */
    int server;                         /* the catalog server's account: publishes to exchange */
    char broadcast[INET_ADDRSTRLEN];    /* the address that reaches every receiver */
    char cacert[VQS_TEXT_SETTING];      /* amqps: the CA that signed the broker */
    char cert[VQS_TEXT_SETTING];        /* amqps: optional client certificate ... */
    char key[VQS_TEXT_SETTING];         /* ... and its key */
    char queue_type[16];                /* classic or quorum */
    long max_length;                    /* most messages a queue keeps (oldest dropped) */
    long max_age;                       /* seconds a message waits in a queue at most */
    long backlog;                       /* most messages the sender holds for the broker */
    char stream[VQS_TEXT_SETTING];      /* the stream of pushes; empty: they come in the queue */
    char offset_file[VQS_TEXT_SETTING]; /* where the offset in stream is kept; empty: memory */
};

/* The settings in force, read again when the file (or VQS_CONFIG) has changed since the last
 * call. Never NULL; the snapshot stays valid for the life of the process. Without a file the
 * direct TCP transport is used; with one that is refused, none (refused is set). */
const struct vqs_settings *vqs_settings(void);

/* Reads a settings file into *out (defaults for what it leaves out); complaints go to
 * standard error. 0 when the file was read and accepted, -1 otherwise (*out then holds the
 * defaults with refused set). */
int vqs_settings_load(const char *path, struct vqs_settings *out);

/* The number of URLs in urls (separated by spaces or commas; at most VQS_NODES_MAX), and
 * the one at index into out: 0, or -1 when there is none or it does not fit. */
size_t vqs_settings_node_count(const char *urls);
int vqs_settings_node_url(const char *urls, size_t index, char *out, size_t size);

#ifdef __cplusplus
}
#endif
