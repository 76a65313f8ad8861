#pragma once
/* The library's clock and the back-off between connection attempts. */

#ifdef __cplusplus
extern "C" {
#endif

#define VQS_FIRST_RETRY_MS 500
#define VQS_LAST_RETRY_MS 16000

/* Milliseconds of the monotonic clock. */
long long vqs_now_ms(void);

/* Waits a second and returns -1: a receiver that cannot wait for messages fails slowly, so
   that a caller which simply calls again does not spin. */
int vqs_fail_after_pause(void);

/* The pause before the next connection attempt, doubling after each failure up to its cap. */
struct vqs_retry {
    int ms;
};
#define VQS_RETRY_INIT                                                                             \
    {                                                                                              \
        VQS_FIRST_RETRY_MS                                                                         \
    }

void vqs_retry_reset(struct vqs_retry *retry);

/* After a failure: when to try again, half the pause plus a random share of the other half,
   so that the desktops a broker restart cut off do not all come back at the same moment. */
long long vqs_retry_next(struct vqs_retry *retry);

#ifdef __cplusplus
}
#endif
