/*
 * execname.h - the executable file of this or another process, from the
 * process file system.
 */
#ifndef TKPIXMAP_EXECNAME_H
#define TKPIXMAP_EXECNAME_H

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* This process's executable path, or ""; read once, owned by the library. */
TKP_EXPORT const char *getexecname(void);

/* Executable path of process pid; when its link cannot be read, the
 * process's arguments joined by blanks; "" when neither can be read.  A new
 * heap string: the caller frees it. */
TKP_EXPORT char *pidexecname(int pid);

TKP_END_DECLS

#endif
