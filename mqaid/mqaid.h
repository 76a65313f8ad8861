#pragma once
/* Fatal-error and hex-dump helpers for programs that speak AMQP through rabbitmq-c. */

#include <amqp.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MQAID_EXPORT __attribute__((visibility("default")))

MQAID_EXPORT void die(const char *fmt, ...) __attribute__((noreturn, format(printf, 1, 2)));
MQAID_EXPORT void die_on_error(int x, const char *context);
MQAID_EXPORT void die_on_amqp_error(amqp_rpc_reply_t x, const char *context);
MQAID_EXPORT void amqp_dump(const void *buffer, size_t len);

#ifdef __cplusplus
}
#endif
