// A stand-in for the client's own address in the shutdown test. It listens on
// VQS_BIND:VQS_PORT, appends every message to the log (argv[1]) prefixed with "after" or
// "before" depending on whether the marker file (argv[2]) existed when it arrived, and
// passes the shutdown message on to 127.0.0.1 so that the sender's receiver ends as well.
#include "vqs.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    if (vqs_message_recv_init() != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    static char buffer[VQS_MAX_MESSAGE + 1];
    for (;;) {
        std::memset(buffer, 0, sizeof buffer);
        if (vqs_message_recv(buffer) < 0)
            continue;
        const bool marker = access(argv[2], F_OK) == 0;
        if (std::FILE *log = std::fopen(argv[1], "a")) {
            std::fprintf(log, "%s %s\n", marker ? "after" : "before", buffer);
            std::fclose(log);
        }
        if (std::strcmp(buffer, "process-run-end") == 0)
            vqs_message_send("127.0.0.1", buffer);
    }
}
