// out_of_memory.h - the one fatal report for an allocation that failed,
// shared by the service families.
#ifndef TKPIXMAP_BASE_OUT_OF_MEMORY_H
#define TKPIXMAP_BASE_OUT_OF_MEMORY_H

#include <stddef.h>

#include "baseutil.h"

namespace tkpixmap {

// Ends the process: `where` names the source that failed at `line`, and
// `object` what was being allocated.  The size is printed as an unsigned
// int, as it always has been, so that reports read alike on every host.
[[noreturn]] inline void dieOutOfMemory(int line, const char *where, size_t bytes,
                                        const char *object) {
  elog_die(1, "Out of memory at line %d in '%s'\n\tCan't malloc %u bytes for %s\n", line, where,
           static_cast<unsigned>(bytes), object);
}

}  // namespace tkpixmap

#if defined(__FILE_NAME__)
#define TKP_SOURCE_NAME __FILE_NAME__
#else
#define TKP_SOURCE_NAME __FILE__
#endif

// The report for this source file and line; `object` names what was being
// allocated ("mapped").
#define TKP_DIE_OUT_OF_MEMORY(bytes, object) \
  ::tkpixmap::dieOutOfMemory(__LINE__, TKP_SOURCE_NAME, (bytes), (object))

#endif
