// out_of_memory.h - the one fatal report for an allocation that failed.
#ifndef TKPIXMAP_BASE_FILES_OUT_OF_MEMORY_H
#define TKPIXMAP_BASE_FILES_OUT_OF_MEMORY_H

#include <stddef.h>

#include "baseutil.h"

#if defined(__FILE_NAME__)
#define TKP_SOURCE_NAME __FILE_NAME__
#else
#define TKP_SOURCE_NAME __FILE__
#endif

// Ends the process; `object` names what was being allocated ("mapped").
#define TKP_DIE_OUT_OF_MEMORY(bytes, object)                                          \
  elog_die(1, "Out of memory at line %d in '%s'\n\tCan't malloc %u bytes for " object \
              "\n",                                                                   \
           __LINE__, TKP_SOURCE_NAME, static_cast<unsigned>(bytes))

#endif
