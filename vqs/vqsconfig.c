#include "vqsconfig.h"
#include "vqsenv.h"

#include <amqp.h>

#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

static void defaults(struct vqs_settings *s)
{
    memset(s, 0, sizeof *s);
    strcpy(s->url, "amqp://localhost:5672/");
    strcpy(s->exchange, VQS_DEFAULT_EXCHANGE);
    strcpy(s->server_exchange, VQS_DEFAULT_SERVER_EXCHANGE);
    strcpy(s->broadcast, VQS_DEFAULT_BROADCAST);
    strcpy(s->queue_type, VQS_DEFAULT_QUEUE_TYPE);
    s->max_length = VQS_DEFAULT_MAX_LENGTH;
    s->max_age = VQS_DEFAULT_MAX_AGE;
    s->backlog = VQS_DEFAULT_BACKLOG;
}

static char *trim(char *text)
{
    while (isspace((unsigned char)*text))
        text++;
    size_t n = strlen(text);
    while (n > 0 && isspace((unsigned char)text[n - 1]))
        text[--n] = '\0';
    return text;
}

static int text_setting(char *field, size_t size, const char *value)
{
    if (strlen(value) >= size)
        return -1;
    strcpy(field, value);
    return 0;
}

static int address_setting(char *field, const char *value)
{
    struct in_addr addr;
    if (inet_pton(AF_INET, value, &addr) != 1)
        return -1;
    return text_setting(field, INET_ADDRSTRLEN, value);
}

static int yes_no(int *field, const char *value)
{
    if (strcmp(value, "yes") == 0 || strcmp(value, "true") == 0)
        *field = 1;
    else if (strcmp(value, "no") == 0 || strcmp(value, "false") == 0)
        *field = 0;
    else
        return -1;
    return 0;
}

static int count_setting(long *field, const char *value)
{
    char *end = NULL;
    errno = 0;
    long n = strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || n < 1)
        return -1;
    *field = n;
    return 0;
}

#define TEXT_SETTING(name)                                                                         \
    {                                                                                              \
#name, offsetof(struct vqs_settings, name), sizeof(((struct vqs_settings *)0)->name)       \
    }

static const struct {
    const char *key;
    size_t offset;
    size_t size;
} g_texts[] = {
    TEXT_SETTING(url),    TEXT_SETTING(user), TEXT_SETTING(password), TEXT_SETTING(exchange),
    TEXT_SETTING(cacert), TEXT_SETTING(cert), TEXT_SETTING(key),      TEXT_SETTING(server_exchange),
    TEXT_SETTING(stream),
};

/* 0 when key = value was taken, -1 for a bad value, -2 for an unknown key. */
static int apply(struct vqs_settings *s, const char *key, const char *value)
{
    if (strcmp(key, "transport") == 0) {
        if (strcmp(value, "tcp") == 0)
            s->broker = 0;
        else if (strcmp(value, "amqp") == 0)
            s->broker = 1;
        else
            return -1;
        return 0;
    }
    for (size_t i = 0; i < sizeof g_texts / sizeof g_texts[0]; i++) {
        if (strcmp(key, g_texts[i].key) == 0)
            return text_setting((char *)s + g_texts[i].offset, g_texts[i].size, value);
    }
    /* Written as root: a relative name would follow the working folder. */
    if (strcmp(key, "offset_file") == 0)
        return value[0] == '/' ? text_setting(s->offset_file, sizeof s->offset_file, value) : -1;
    if (strcmp(key, "allow_plain") == 0)
        return yes_no(&s->allow_plain, value);
    if (strcmp(key, "address") == 0)
        return address_setting(s->address, value);
    if (strcmp(key, "broadcast") == 0)
        return address_setting(s->broadcast, value);
    if (strcmp(key, "role") == 0) {
        if (strcmp(value, "desktop") == 0)
            s->server = 0;
        else if (strcmp(value, "server") == 0)
            s->server = 1;
        else
            return -1;
        return 0;
    }
    if (strcmp(key, "queue_type") == 0) {
        if (strcmp(value, "classic") != 0 && strcmp(value, "quorum") != 0)
            return -1;
        return text_setting(s->queue_type, sizeof s->queue_type, value);
    }
    if (strcmp(key, "queue_max_length") == 0)
        return count_setting(&s->max_length, value);
    if (strcmp(key, "queue_max_age") == 0)
        return count_setting(&s->max_age, value);
    if (strcmp(key, "backlog") == 0)
        return count_setting(&s->backlog, value);
    return -2;
}

/* The file chooses where frames come from and the certificate authority which broker is
 * believed, and frames reach root shell commands: what someone else could have written (or,
 * for the client key, read) is not used. */
static int trusted(const char *path, const struct stat *st, int secret)
{
    if (st->st_uid != 0 && st->st_uid != geteuid()) {
        fprintf(stderr, "vqs: %s refused: it belongs to another user\n", path);
        return 0;
    }
    if (st->st_mode & (S_IWGRP | S_IWOTH)) {
        fprintf(stderr, "vqs: %s refused: users other than its owner may change it\n", path);
        return 0;
    }
    if (secret && (st->st_mode & S_IROTH)) {
        fprintf(stderr, "vqs: %s refused: every user may read it\n", path);
        return 0;
    }
    return 1;
}

static int trusted_tls_files(const struct vqs_settings *s)
{
    const struct {
        const char *path;
        int secret;
    } files[] = {{s->cacert, 0}, {s->cert, 0}, {s->key, 1}};
    for (size_t i = 0; i < sizeof files / sizeof files[0]; i++) {
        struct stat st;
        if (!files[i].path[0])
            continue;
        if (stat(files[i].path, &st) != 0) {
            fprintf(stderr, "vqs: cannot read %s: %s\n", files[i].path, strerror(errno));
            return 0;
        }
        if (!trusted(files[i].path, &st, files[i].secret))
            return 0;
    }
    return 1;
}

static int is_loopback(const char *host)
{
    struct in_addr v4;
    struct in6_addr v6;
    if (strcasecmp(host, "localhost") == 0)
        return 1;
    if (inet_pton(AF_INET, host, &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, host, &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

static const char *const g_separators = " \t,";

/* The index-th URL of urls: its start and length, or NULL. */
static const char *find_url(const char *urls, size_t index, size_t *length)
{
    const char *at = urls;
    for (size_t i = 0; i < VQS_NODES_MAX; i++) {
        at += strspn(at, g_separators);
        if (!*at)
            return NULL;
        size_t n = strcspn(at, g_separators);
        if (i == index) {
            *length = n;
            return at;
        }
        at += n;
    }
    return NULL;
}

size_t vqs_settings_node_count(const char *urls)
{
    size_t count = 0;
    size_t length;
    while (count < VQS_NODES_MAX && find_url(urls, count, &length))
        count++;
    return count;
}

int vqs_settings_node_url(const char *urls, size_t index, char *out, size_t size)
{
    size_t length = 0;
    const char *url = find_url(urls, index, &length);
    if (!url || length >= size)
        return -1;
    memcpy(out, url, length);
    out[length] = '\0';
    return 0;
}

/* amqp:// carries the password and the frames in clear: beyond this host only when meant. A
 * URL that does not parse is left to the connection, which says so. */
static int plain_url_allowed(const struct vqs_settings *s, const char *path)
{
    const size_t count = vqs_settings_node_count(s->url);
    for (size_t i = 0; i < count && !s->allow_plain; i++) {
        char text[VQS_TEXT_SETTING];
        struct amqp_connection_info info;
        amqp_default_connection_info(&info);
        if (vqs_settings_node_url(s->url, i, text, sizeof text) != 0 ||
            amqp_parse_url(text, &info) != AMQP_STATUS_OK || info.ssl || is_loopback(info.host))
            continue;
        fprintf(stderr, "vqs: %s: plain amqp:// to %s refused: use amqps:// or allow_plain = yes\n",
                path, info.host);
        return 0;
    }
    return 1;
}

/* Reads the lines into out; 0, or -1 at the first line that is not understood. */
static int read_lines(const char *path, FILE *file, struct vqs_settings *out)
{
    char *line = NULL;
    size_t capacity = 0;
    ssize_t length;
    int number = 0;
    int rc = 0;
    while (rc == 0 && (length = getline(&line, &capacity, file)) >= 0) {
        number++;
        if (length > 0 && line[length - 1] == '\n')
            line[--length] = '\0';
        /* A line cut or read in pieces would apply what follows the cut as a setting. */
        if (length > VQS_LINE_MAX || memchr(line, '\0', (size_t)length)) {
            fprintf(stderr, "vqs: %s:%d: longer than %d bytes or holds a NUL byte\n", path, number,
                    VQS_LINE_MAX);
            rc = -1;
            break;
        }
        char *text = trim(line);
        if (*text == '\0' || *text == '#' || *text == ';')
            continue;
        char *equals = strchr(text, '=');
        if (!equals) {
            fprintf(stderr, "vqs: %s:%d: not \"key = value\"\n", path, number);
            rc = -1;
            break;
        }
        *equals = '\0';
        const char *key = trim(text);
        const char *value = trim(equals + 1);
        int applied = apply(out, key, value);
        /* A misspelt key or transport would quietly leave the frames to another transport. */
        if (applied == -2) {
            fprintf(stderr, "vqs: %s:%d: unknown setting \"%s\"\n", path, number, key);
            rc = -1;
        } else if (applied == -1 && strcmp(key, "transport") == 0) {
            fprintf(stderr, "vqs: %s:%d: unknown transport \"%s\"\n", path, number, value);
            rc = -1;
        } else if (applied == -1) {
            fprintf(stderr, "vqs: %s:%d: bad value for %s, the default is kept\n", path, number,
                    key);
        }
    }
    free(line);
    return rc;
}

static int refuse(const char *path, struct vqs_settings *out)
{
    defaults(out);
    out->refused = 1;
    text_setting(out->file, sizeof out->file, path);
    fprintf(stderr,
            "vqs: settings %s refused: nothing is sent or received but this process's own "
            "messages\n",
            path);
    return -1;
}

int vqs_settings_load(const char *path, struct vqs_settings *out)
{
    defaults(out);
    FILE *file = fopen(path, "re");
    struct stat st;
    if (!file || fstat(fileno(file), &st) != 0) {
        fprintf(stderr, "vqs: cannot read %s: %s\n", path, strerror(errno));
        if (file)
            fclose(file);
        return refuse(path, out);
    }
    int rc = trusted(path, &st, 0) ? read_lines(path, file, out) : -1;
    fclose(file);
    if (rc == 0 && out->broker && (!plain_url_allowed(out, path) || !trusted_tls_files(out)))
        rc = -1;
    if (rc != 0)
        return refuse(path, out);
    if (out->password[0] && (st.st_mode & S_IROTH))
        fprintf(stderr, "vqs: %s holds a password and every user may read it\n", path);
    text_setting(out->file, sizeof out->file, path);
    return 0;
}

/* What identifies one version of the file; a change of any part reloads it. */
struct file_mark {
    char path[VQS_TEXT_SETTING];
    int exists;
    dev_t dev;
    ino_t ino;
    off_t size;
    struct timespec mtime;
    struct timespec ctime;
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static const struct vqs_settings *g_current;
static struct file_mark g_mark;

static void mark_of(const char *path, struct file_mark *mark)
{
    memset(mark, 0, sizeof *mark);
    text_setting(mark->path, sizeof mark->path, path);
    struct stat st;
    if (stat(path, &st) != 0)
        return;
    mark->exists = 1;
    mark->dev = st.st_dev;
    mark->ino = st.st_ino;
    mark->size = st.st_size;
    mark->mtime = st.st_mtim;
    mark->ctime = st.st_ctim;
}

const struct vqs_settings *vqs_settings(void)
{
    const char *named = vqs_env("VQS_CONFIG", NULL);
    const char *path = named ? named : VQS_DEFAULT_CONFIG;
    struct file_mark mark;
    mark_of(path, &mark);

    pthread_mutex_lock(&g_lock);
    if (!g_current || memcmp(&mark, &g_mark, sizeof mark) != 0) {
        /* Replaced snapshots are kept: another thread may still be reading one. */
        struct vqs_settings *fresh = malloc(sizeof *fresh);
        if (fresh) {
            /* Without a file of its own a host keeps to the direct TCP default quietly. */
            if (mark.exists || named)
                vqs_settings_load(path, fresh);
            else
                defaults(fresh);
            g_current = fresh;
            g_mark = mark;
        } else if (!g_current) {
            static struct vqs_settings fallback;
            defaults(&fallback);
            g_current = &fallback;
        }
    }
    const struct vqs_settings *current = g_current;
    pthread_mutex_unlock(&g_lock);
    return current;
}
