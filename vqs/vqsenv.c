#include "vqsenv.h"

#include <errno.h>
#include <stdlib.h>

const char *vqs_env(const char *name, const char *fallback)
{
    /* secure_getenv: a set-uid run must not be pointed at another port or peer list. */
    const char *value = secure_getenv(name);
    return value && *value ? value : fallback;
}

long vqs_env_number(const char *name, long fallback, long min, long max)
{
    const char *text = vqs_env(name, NULL);
    if (!text)
        return fallback;
    char *end = NULL;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max)
        return fallback;
    return value;
}

unsigned short vqs_port(void)
{
    return (unsigned short)vqs_env_number("VQS_PORT", VQS_DEFAULT_PORT, 1, 65535);
}
