/*
 * baseutil.h - the base utility library (libbaseutil.so.1): growable lists,
 * keyed arrays with string keys, the error log, path clean-up, a line reader
 * and the installation root.  Usable from C and C++.
 */
#ifndef BASEUTIL_H
#define BASEUTIL_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#if defined(BASEUTIL_BUILDING)
#define BU_EXPORT __attribute__((visibility("default")))
#else
#define BU_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Buffer size that abspath and cleanpath write into. */
#define BU_PATH_MAX 4096

/* ---------------------------------------------------------------- lists
 * A list of pointer-sized entries indexed from 0.  Callers may read the
 * number of entries straight from the record: it is the second
 * pointer-sized word, `count`.  Entries are contiguous, so after a null has
 * been pushed `addrtbl(list, 0)` is a valid argument vector. */
typedef struct Tbl {
  void **entries;   /* contiguous storage, `capacity` slots */
  intptr_t count;   /* number of entries in use */
  intptr_t capacity;
} Tbl;

BU_EXPORT Tbl *newtbl(int size);                  /* size: initial capacity hint */
BU_EXPORT void *gettbl(Tbl *list, int i);         /* null at or past the end, or i < 0 */
BU_EXPORT int settbl(Tbl *list, int i, void *value);  /* i == count appends; 0 ok, -1 bad index */
BU_EXPORT int pushtbl(Tbl *list, void *value);    /* returns the new entry's index */
BU_EXPORT void **addrtbl(Tbl *list, int i);       /* null when i is out of range */
BU_EXPORT Tbl *split(char *string, int c);        /* cuts string in place at c */
BU_EXPORT void freetbl(Tbl *list, void (*routine)(void *));

/* ---------------------------------------------------------------- keyed arrays
 * String keys (copied on insertion), pointer-sized values. */
typedef struct Arr Arr;
typedef int (*ArrCompare)(const char *, const char *);

BU_EXPORT Arr *newarr(ArrCompare compare);        /* null: plain strcmp */
BU_EXPORT void setarr(Arr *array, const char *key, void *value);
BU_EXPORT void *getarr(Arr *array, const char *key);
BU_EXPORT Tbl *keysarr(Arr *array);               /* every key once, in sorted order */
BU_EXPORT void freearr(Arr *array, void (*routine)(void *));

/* ---------------------------------------------------------------- error log
 * Each writes "program: message" to standard error (one line; a trailing
 * newline in the message is not doubled).  With flag 1 the text of the
 * current errno is appended as ": text".  elog_die then exits with status 1. */
BU_EXPORT void elog_log(int flag, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
BU_EXPORT void elog_complain(int flag, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
BU_EXPORT void elog_die(int flag, const char *format, ...)
    __attribute__((format(printf, 2, 3), noreturn));

/* Severity passed to a capture sink. */
enum { ELOG_LOG = 0, ELOG_COMPLAIN = 1, ELOG_DIE = 2 };

/* A sink receives every message as it would be written, without the
 * "program: " prefix and without the final newline.  While a sink is set
 * nothing is written to standard error (elog_die still exits).  Pass null to
 * restore standard error.  Meant for tests. */
typedef void (*ElogSink)(int severity, const char *message, void *context);
BU_EXPORT void elog_set_sink(ElogSink sink, void *context);

/* The program name printed before each message; defaults to the process's
 * short invocation name. */
BU_EXPORT void elog_set_program(const char *name);

/* ---------------------------------------------------------------- paths and lines */

/* Absolute, lexically cleaned form of path into result (BU_PATH_MAX bytes).
 * Returns result, or null when the path does not fit or the working
 * directory cannot be had. */
BU_EXPORT char *abspath(const char *path, char *result);

/* Lexically cleaned path into result (BU_PATH_MAX bytes): repeated slashes
 * and "." components go, "dir/.." pairs collapse (never above the root).
 * With expand_tilde nonzero a leading "~" or "~user" becomes that home
 * directory.  Returns result, or null on an unknown user or overflow. */
BU_EXPORT char *cleanpath(const char *path, int expand_tilde, char *result);

/* Reads the next line of stream into buffer (size bytes, size >= 1) without
 * its "\n".  A line longer than size - 1 bytes is cut there and the rest of
 * that line is read and discarded, so the next call returns the next line.
 * Returns 1 when a line was read, 0 at the end of input. */
BU_EXPORT int getaline(FILE *stream, char *buffer, int size);

/* The installation root: $QUORVALE_ROOT when set and not empty, else the
 * prefix the library was installed under. */
BU_EXPORT const char *getquorvale(void);

#ifdef __cplusplus
}
#endif

#endif
