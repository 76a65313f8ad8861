#pragma once
/* The library's own threads. */

#ifdef __cplusplus
extern "C" {
#endif

/* Starts run(arg) on a detached thread that blocks every signal: the caller's signal handlers
   must not run on the library's threads. Returns 0, or the error number pthread_create gave. */
int vqs_start_thread(void *(*run)(void *), void *arg);

#ifdef __cplusplus
}
#endif
