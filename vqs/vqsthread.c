#include "vqsthread.h"

#include <pthread.h>
#include <signal.h>

int vqs_start_thread(void *(*run)(void *), void *arg)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    /* The new thread inherits the mask in force while it is created. */
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, run, arg);
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    pthread_attr_destroy(&attr);
    return rc;
}
