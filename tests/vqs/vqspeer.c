/* A second process on the transport for the tests.
 *   vqspeer send DEST TEXT...  queues every TEXT for DEST and returns from main at once
 *   vqspeer recv COUNT         prints "init RESULT", then "LENGTH TEXT" for COUNT receives */

#include "vqs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "send") == 0) {
        for (int i = 3; i < argc; i++) {
            if (vqs_message_send(argv[2], argv[i]) != 0)
                return 1;
        }
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "recv") == 0) {
        static char buffer[VQS_MAX_MESSAGE + 1];
        printf("init %d\n", vqs_message_recv_init());
        fflush(stdout);
        for (int i = atoi(argv[2]); i > 0; i--) {
            int len = vqs_message_recv(buffer);
            printf("%d %s\n", len, buffer);
            fflush(stdout);
        }
        return 0;
    }
    fprintf(stderr, "usage: vqspeer send DEST TEXT... | vqspeer recv COUNT\n");
    return 2;
}
