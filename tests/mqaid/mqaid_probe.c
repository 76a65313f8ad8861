/* Calls one diagnostic function with fixed arguments: mqaid_probe CASE. */
#include "mqaid.h"

#include <amqp_framing.h>
#include <stdio.h>
#include <string.h>

static amqp_rpc_reply_t reply(amqp_response_type_enum type)
{
    amqp_rpc_reply_t r;
    memset(&r, 0, sizeof r);
    r.reply_type = type;
    return r;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const char *c = argv[1];
    unsigned char bytes[64] = {0};

    if (!strcmp(c, "dump-49")) {
        bytes[48] = 0x41;
        amqp_dump(bytes, 49);
    } else if (!strcmp(c, "dump-16")) {
        memcpy(bytes, "0123456789abcdef", 16);
        amqp_dump(bytes, 16);
    } else if (!strcmp(c, "dump-empty")) {
        amqp_dump(bytes, 0);
    } else if (!strcmp(c, "dump-20")) {
        memcpy(bytes, "Hello, AMQP!\n\t\x01\x7f\x80\xffxyz", 20);
        amqp_dump(bytes, 20);
    } else if (!strcmp(c, "dump-repeat")) {
        /* two equal rows, then a different one: one dots line, then the new row */
        memset(bytes, 'a', 48);
        memset(bytes + 48, 'b', 16);
        amqp_dump(bytes, 64);
    } else if (!strcmp(c, "die")) {
        die("fatal %d %s", 42, "here");
    } else if (!strcmp(c, "error-ok")) {
        die_on_error(0, "ctx");
        die_on_error(5, "ctx");
        printf("returned\n");
    } else if (!strcmp(c, "error-fail")) {
        die_on_error(AMQP_STATUS_NO_MEMORY, "opening");
    } else if (!strcmp(c, "reply-normal")) {
        die_on_amqp_error(reply(AMQP_RESPONSE_NORMAL), "ctx");
        printf("returned\n");
    } else if (!strcmp(c, "reply-none")) {
        die_on_amqp_error(reply(AMQP_RESPONSE_NONE), "login");
    } else if (!strcmp(c, "reply-library")) {
        amqp_rpc_reply_t r = reply(AMQP_RESPONSE_LIBRARY_EXCEPTION);
        r.library_error = AMQP_STATUS_SOCKET_ERROR;
        die_on_amqp_error(r, "consume");
    } else if (!strcmp(c, "reply-connection")) {
        amqp_connection_close_t close;
        memset(&close, 0, sizeof close);
        close.reply_code = 320;
        close.reply_text =
            amqp_cstring_bytes("CONNECTION_FORCED - broker forced connection closure");
        amqp_rpc_reply_t r = reply(AMQP_RESPONSE_SERVER_EXCEPTION);
        r.reply.id = AMQP_CONNECTION_CLOSE_METHOD;
        r.reply.decoded = &close;
        die_on_amqp_error(r, "Opening channel");
    } else if (!strcmp(c, "reply-channel")) {
        amqp_channel_close_t close;
        memset(&close, 0, sizeof close);
        close.reply_code = 404;
        close.reply_text = amqp_cstring_bytes("NOT_FOUND - no queue");
        amqp_rpc_reply_t r = reply(AMQP_RESPONSE_SERVER_EXCEPTION);
        r.reply.id = AMQP_CHANNEL_CLOSE_METHOD;
        r.reply.decoded = &close;
        die_on_amqp_error(r, "Declaring queue");
    } else if (!strcmp(c, "reply-unknown")) {
        amqp_rpc_reply_t r = reply(AMQP_RESPONSE_SERVER_EXCEPTION);
        r.reply.id = 0x003C0050;
        die_on_amqp_error(r, "ack");
    } else if (!strcmp(c, "reply-other")) {
        die_on_amqp_error(reply((amqp_response_type_enum)7), "ctx");
    } else {
        return 2;
    }
    return 0;
}
