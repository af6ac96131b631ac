/*
 * reserve_file.h - a reserve of spare C streams on "/dev/null".
 *
 * The reserve keeps a fixed number of streams open so that their descriptors
 * and stream records stay taken.  A caller about to open a stream of its own
 * gives one back with release_FILE first and refills the reserve with
 * reserve_FILE once its own stream is closed.  Both are thread-safe; the
 * sequence as a whole is not atomic.
 */
#ifndef TKPIXMAP_RESERVE_FILE_H
#define TKPIXMAP_RESERVE_FILE_H

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* Reopens every reserved stream that is not open.  A stream that cannot be
 * opened is tried again by the next call. */
TKP_EXPORT void reserve_FILE(void);

/* Closes the open reserved stream of the lowest slot; nothing when none is
 * open. */
TKP_EXPORT void release_FILE(void);

TKP_END_DECLS

#endif
