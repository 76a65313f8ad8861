#pragma once
/* The offset in the stream of the last push the caller has handled, kept in a file of its
 * own so that a store started again attaches after it. */

#ifdef __cplusplus
extern "C" {
#endif

/* The offset kept in path: 0 with *offset set, -1 when there is none or the file is not to
 * be trusted (said on standard error). */
int vqs_offset_load(const char *path, long long *offset);

/* Replaces the file at path with offset, written whole before it takes the old one's place.
 * -1 when it cannot be (said on standard error): the offset is then kept in memory only. */
int vqs_offset_save(const char *path, long long offset);

#ifdef __cplusplus
}
#endif
