#include "vqsenv.h"

#include <errno.h>
#include <stdlib.h>

const char *vqs_env(const char *name, const char *fallback)
{
    /* secure_getenv: a set-uid run must not be pointed at another port or peer list. */
    const char *value = secure_getenv(name);
    return value && *value ? value : fallback;
}

unsigned short vqs_port(void)
{
    const char *text = vqs_env("VQS_PORT", NULL);
    if (!text)
        return VQS_DEFAULT_PORT;
    char *end = NULL;
    errno = 0;
    long port = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || port < 1 || port > 65535)
        return VQS_DEFAULT_PORT;
    return (unsigned short)port;
}
