// closed_children.h - commands of closed gx handles that had not ended when
// their handle was closed: remembered, and collected without blocking by
// later gx calls, so that closing never waits and no zombie stays behind.
#ifndef TKPIXMAP_BASE_FILES_CLOSED_CHILDREN_H
#define TKPIXMAP_BASE_FILES_CLOSED_CHILDREN_H

#include <sys/types.h>

namespace tkpixmap::files {

// Both expect the caller to hold handleTableMutex (handle_table.h), which
// guards the list.

// Collects `pid` if it has ended, otherwise remembers it for later.
void collectOrRemember(pid_t pid);

// Collects the remembered children that have ended since.
void collectEndedChildren();

}  // namespace tkpixmap::files

#endif
