#include "vqsconfig.h"
#include "vqsenv.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

/* The file chooses where frames come from, and frames reach root shell commands: a file
 * that someone else could have written is not used. */
static int trusted(const char *path, const struct stat *st)
{
    uid_t me = geteuid();
    if ((st->st_uid != 0 && st->st_uid != me) || (st->st_mode & (S_IWGRP | S_IWOTH))) {
        fprintf(stderr, "vqs: %s ignored: users other than its owner may change it\n", path);
        return 0;
    }
    return 1;
}

int vqs_settings_load(const char *path, struct vqs_settings *out)
{
    defaults(out);
    FILE *file = fopen(path, "re");
    struct stat st;
    if (!file || fstat(fileno(file), &st) != 0) {
        fprintf(stderr, "vqs: cannot read %s: %s; direct TCP is used\n", path, strerror(errno));
        if (file)
            fclose(file);
        return -1;
    }
    if (!trusted(path, &st)) {
        fclose(file);
        return -1;
    }
    char line[2 * VQS_TEXT_SETTING];
    int number = 0;
    while (fgets(line, sizeof line, file)) {
        number++;
        char *text = trim(line);
        if (*text == '\0' || *text == '#' || *text == ';')
            continue;
        char *equals = strchr(text, '=');
        if (!equals) {
            fprintf(stderr, "vqs: %s:%d: not \"key = value\", skipped\n", path, number);
            continue;
        }
        *equals = '\0';
        const char *key = trim(text);
        const char *value = trim(equals + 1);
        int rc = apply(out, key, value);
        if (rc == -2)
            fprintf(stderr, "vqs: %s:%d: unknown setting \"%s\", skipped\n", path, number, key);
        else if (rc == -1)
            fprintf(stderr, "vqs: %s:%d: bad value for %s, the default is kept\n", path, number,
                    key);
    }
    fclose(file);
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
