#include "vqstime.h"

#include <poll.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

long long vqs_now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int vqs_fail_after_pause(void)
{
    poll(NULL, 0, 1000);
    return -1;
}

void vqs_retry_reset(struct vqs_retry *retry)
{
    retry->ms = VQS_FIRST_RETRY_MS;
}

long long vqs_retry_next(struct vqs_retry *retry)
{
    /* Drawn from the kernel: rand() unseeded gives every process the same sequence. */
    unsigned int draw;
    if (getrandom(&draw, sizeof draw, GRND_NONBLOCK) != (ssize_t)sizeof draw)
        draw = (unsigned int)getpid() ^ (unsigned int)vqs_now_ms();
    const long long at = vqs_now_ms() + retry->ms / 2 + draw % (unsigned int)(retry->ms / 2 + 1);
    retry->ms = retry->ms * 2 > VQS_LAST_RETRY_MS ? VQS_LAST_RETRY_MS : retry->ms * 2;
    return at;
}
