#pragma once
/* Where a desktop is in the stream, kept in a file of its own so that a store started again
 * attaches there: the offset of the last push the caller handled ("N"), or, before the first
 * push, the time it first attached ("@SECONDS"), then the stream's name ("N STREAM"; a file
 * written before names were kept has none). */

/* The longest stream name a file keeps, as long as a setting's value. */
#define VQS_OFFSET_STREAM_MAX 512

#ifdef __cplusplus
extern "C" {
#endif

/* What path holds for stream: 0 with *offset set (or *since, for a time), -1 when there is
 * nothing, the file is not to be trusted or it is a place in another stream (said on
 * standard error). */
int vqs_offset_load(const char *path, const char *stream, long long *offset, long long *since);

/* Replaces the file at path with an offset, or a time when since, written whole before it
 * takes the old one's place. -1 when it cannot be (said on standard error): the place is
 * then kept in memory only. */
int vqs_offset_save(const char *path, const char *stream, long long value, int since);

#ifdef __cplusplus
}
#endif
