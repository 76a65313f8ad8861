#pragma once
/* Settings of the transport taken from the environment. */

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_DEFAULT_PORT 7788

/* VQS_PORT when it is a port number, else VQS_DEFAULT_PORT; read anew at each call. */
unsigned short vqs_port(void);

/* The environment variable name read with secure_getenv, or fallback when unset or empty. */
const char *vqs_env(const char *name, const char *fallback);

/* The environment variable name as a decimal number within min..max, else fallback. */
long vqs_env_number(const char *name, long fallback, long min, long max);

#ifdef __cplusplus
}
#endif
