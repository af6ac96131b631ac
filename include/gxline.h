/*
 * gxline.h - line-by-line reading of whole files and of a finished command's
 * output through small integer handles ("gx handles").
 *
 * A handle stands for a regular file (gxopen), or for the standard output
 * and standard error of a command (gxpipe), which collect in an unnamed
 * temporary file that is read once the command has ended.  The data is read
 * into a reused window with pread rather than mapped (on virtual machines
 * mapping a page costs more than copying it), and lines are copied from the
 * window into the caller's buffer.
 *
 * Handles are small non-negative ints; -1 reports failure.  Different handles
 * may be used from different threads at once; one handle is used by one
 * thread at a time.  Failures are reported through the base utility
 * library's error log.
 */
#ifndef TKPIXMAP_GXLINE_H
#define TKPIXMAP_GXLINE_H

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* A command's output as gxmap leaves it, for callers that keep their own
 * records (handles keep records of their own).  Sizes and positions are
 * ints: outputs larger than INT_MAX bytes are refused rather than
 * truncated. */
typedef struct Mapped {
  const char *data; /* read-only mapping of the whole file; null while unmapped */
  int size;         /* bytes mapped */
  int pid;          /* child still to be collected, or -1 */
  int fd;           /* temporary file receiving the child's output, or -1 */
  int pipeFd;       /* read end of the child's input pipe (given to the caller) */
  int position;     /* offset in the mapping where the next line starts */
} Mapped;

/* Runs `command`, split at blanks into the program's path and its arguments
 * (no shell, no PATH search), with environment `envp` (null-terminated; a
 * null envp means an empty environment), its standard input on a pipe whose
 * write end is already closed and its standard output and standard error in
 * a temporary file.  *fdOut (when fdOut is not null) receives the pipe's read
 * end, which stays owned by the handle: do not close it.  Returns the handle,
 * or -1.  The first gxline on the handle waits for the command to end. */
TKP_EXPORT int gxpipe(const char *command, char *const envp[], int *fdOut);

/* Opens the regular file `path` for reading (the handle keeps the
 * descriptor until the data has been read whole).  Returns the handle, or
 * -1 (nonexistent, unreadable, empty or larger than INT_MAX bytes). */
TKP_EXPORT int gxopen(const char *path);

/* Collects the child of a record made like a pipe handle's, and maps its
 * output read-only as a whole when there is any.  A null record is
 * ignored.  (gxline collects a handle's output the same way, with the same
 * reports, but reads it through the handle's window.) */
TKP_EXPORT void gxmap(Mapped *record);

/* Copies the next line of `handle` into `buffer` (bufferSize bytes, at least
 * 2), always zero-terminated, without its newline.  Returns 2 when the line
 * did not fit (bufferSize - 1 bytes delivered; the next call continues it),
 * 1 for a line (possibly empty), 0 at the end of the data, at a zero byte in
 * the data, for an unknown handle and for a buffer of fewer than 2 bytes (the
 * buffer is then left untouched). */
TKP_EXPORT int gxline(int handle, char *buffer, int bufferSize);

/* The offset where the next line starts, or -1 for an unknown handle. */
TKP_EXPORT int gxtell(int handle);

/* Moves the read position to `offset` (0 to the data's size inclusive).
 * Returns 0, or -1 for another offset or an unknown handle. */
TKP_EXPORT int gxseek(int handle, int offset);

/* Releases the handle: unmaps its data, closes its descriptors and collects
 * a child that was never read if it has ended; one still running is
 * collected, without waiting, by a later gx call once it has ended.
 * Returns 0, or -1 for an unknown handle. */
TKP_EXPORT int gxclose(int handle);

TKP_END_DECLS

#endif
