/*
 * shims.h - one interface, on every platform, for small process services:
 * signal names and numbers, a one-shot alarm, the wall clock, a serialised
 * password lookup, descriptor position, signal wait, loading sibling
 * libraries from the installation root, ignoring SIGPIPE and reporting a
 * service that the platform lacks.
 */
#ifndef TKPIXMAP_SHIMS_H
#define TKPIXMAP_SHIMS_H

#include <pwd.h>
#include <signal.h>
#include <stdint.h>
#include <sys/types.h>

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* Smallest buffer sig2str writes into: "SIGVTALRM" and its NUL. */
#define SIG2STR_SIZE 10

/* Longest path std_dlopen builds, terminator included; longer paths are
 * refused (null) without calling the loader. */
#define STD_DLOPEN_PATH_SIZE 4096

/* Logs "<what> is unimplemented on this platform" and returns result. */
TKP_EXPORT int UNIMPLEMENTED(const char *what, int result);

/* Shallow copy of getpwnam's record into *out (strings point into the C
 * library's storage, valid until its next getpwnam).  0 found; -1 not found,
 * *out zeroed. */
TKP_EXPORT int std_getpwnam(const char *name, struct passwd *out);

/* Installs handler for SIGALRM and arms the real-time timer once after
 * seconds (0.0 disarms; a positive time below a microsecond arms it for one
 * microsecond).  0 armed, -1 refused. */
TKP_EXPORT int std_set_timer(void (*handler)(int), double seconds);

/* "HUP" or "SIGHUP" -> 1.  0 found, -1 unknown (*signo untouched). */
TKP_EXPORT int str2sig(const char *name, int *signo);

/* 1 -> "SIGHUP" in buf (SIG2STR_SIZE bytes).  0 found, -1 unknown. */
TKP_EXPORT int sig2str(int signo, char *buf);

/* Current offset of fd, or -1. */
TKP_EXPORT off_t tell(int fd);

/* Waits for a signal of set; its number, or -1 when the wait fails. */
TKP_EXPORT int std_sigwait(const sigset_t *set);

/* Seconds since the epoch, to the microsecond. */
TKP_EXPORT double std_now(void);
TKP_EXPORT double now_(void);

/* dlopen(RTLD_LAZY) of name when it begins with "/", else of
 * <root>/lib/lib<name>.so.3 under the installation root. */
TKP_EXPORT void *std_dlopen(const char *name);

TKP_EXPORT void ignoreSIGPIPE(void);

/* Accepts and ignores two word-sized arguments; returns 0. */
TKP_EXPORT int nomem(intptr_t, intptr_t);

TKP_END_DECLS

#endif
