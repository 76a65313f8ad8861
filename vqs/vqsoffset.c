#include "vqsoffset.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The store writes here as root: a folder another user may change could swap the file for a
 * link to anything, or choose where the store attaches. */
static int trusted_folder(const char *path)
{
    char copy[PATH_MAX];
    if (snprintf(copy, sizeof copy, "%s", path) >= (int)sizeof copy)
        return 0;
    const char *folder = dirname(copy);
    struct stat st;
    if (stat(folder, &st) != 0) {
        fprintf(stderr, "vqs: cannot use %s: %s\n", folder, strerror(errno));
        return 0;
    }
    if ((st.st_uid != 0 && st.st_uid != geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        fprintf(stderr, "vqs: %s refused for the stream offset: other users may change it\n",
                folder);
        return 0;
    }
    return 1;
}

int vqs_offset_load(const char *path, const char *stream, long long *offset, long long *since)
{
    if (!trusted_folder(path))
        return -1;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            fprintf(stderr, "vqs: cannot read %s: %s\n", path, strerror(errno));
        return -1;
    }
    char text[64 + VQS_OFFSET_STREAM_MAX];
    struct stat st;
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
        n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) {
        fprintf(stderr, "vqs: %s refused: not a file of this user's\n", path);
        return -1;
    }
    text[n] = '\0';
    const int time = text[0] == '@';
    const char *number = text + time;
    char *end = NULL;
    errno = 0;
    const long long value = strtoll(number, &end, 10);
    if (errno != 0 || end == number || (*end != '\n' && *end != '\0' && *end != ' ') || value < 0 ||
        !isdigit((unsigned char)*number)) {
        fprintf(stderr, "vqs: %s refused: not a place in the stream\n", path);
        return -1;
    }
    /* A place in one stream means nothing in another (a desktop moved to another group's). */
    if (*end == ' ') {
        const char *name = end + 1;
        const size_t len = strcspn(name, "\n");
        if (strlen(stream) != len || strncmp(name, stream, len) != 0) {
            fprintf(stderr, "vqs: %s refused: a place in stream %.*s, not in %s\n", path, (int)len,
                    name, stream);
            return -1;
        }
    }
    *(time ? since : offset) = value;
    return 0;
}

int vqs_offset_save(const char *path, const char *stream, long long value, int since)
{
    char temporary[PATH_MAX];
    if (snprintf(temporary, sizeof temporary, "%s.XXXXXX", path) >= (int)sizeof temporary ||
        !trusted_folder(path))
        return -1;
    const int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "vqs: cannot write %s: %s\n", path, strerror(errno));
        return -1;
    }
    char text[64 + VQS_OFFSET_STREAM_MAX];
    const int n = snprintf(text, sizeof text, "%s%lld %s\n", since ? "@" : "", value, stream);
    if (n < 0 || n >= (int)sizeof text) {
        fprintf(stderr, "vqs: cannot write %s: the stream's name is too long\n", path);
        close(fd);
        unlink(temporary);
        return -1;
    }
    /* Synced before the rename: a crash leaves the old offset or the new one, never none. */
    const int ok = write(fd, text, (size_t)n) == n && fsync(fd) == 0;
    close(fd);
    if (!ok || rename(temporary, path) != 0) {
        fprintf(stderr, "vqs: cannot write %s: %s\n", path, strerror(errno));
        unlink(temporary);
        return -1;
    }
    return 0;
}
