// read_window.cc - a handle's data, read a window at a time with pread.

#include "base/files/read_window.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "base/out_of_memory.h"
#include "baseutil.h"

namespace tkpixmap::files {
namespace {

// Read by any thread when a window is made; set by tests and measurements.
std::atomic<int> windowBytes{kDefaultWindowBytes};

}  // namespace

void setWindowBytes(int bytes) { windowBytes.store(bytes > 0 ? bytes : 1, std::memory_order_relaxed); }

bool fillWindow(HandleRecord *record, int offset) {
  if (record->fd < 0) {  // nothing left to read from
    record->dataEnd = offset;
    return false;
  }
  if (record->window == nullptr) {
    const int chosen = windowBytes.load(std::memory_order_relaxed);
    const int capacity = record->size < chosen ? record->size : chosen;
    const size_t bytes = static_cast<size_t>(capacity) + kWindowSlack;
    record->window = static_cast<char *>(malloc(bytes));
    if (record->window == nullptr) TKP_DIE_OUT_OF_MEMORY(bytes, "mapped");
    record->windowCapacity = capacity;
  }
  const int left = record->dataEnd - offset;
  const size_t wanted =
      static_cast<size_t>(left < record->windowCapacity ? left : record->windowCapacity);
  size_t got = 0;
  while (got < wanted) {
    const ssize_t n = pread(record->fd, record->window + got, wanted - got,
                            static_cast<off_t>(offset) + static_cast<off_t>(got));
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n == 0) {
      break;  // cut short since it was opened: the data ends here
    } else if (errno != EINTR) {
      elog_log(1, "read failed");  // the data ends here too
      break;
    }
  }
  // The bytes after the data are defined, for the scanners' whole blocks.
  memset(record->window + got, 0, kWindowSlack);
  record->windowStart = offset;
  record->windowEnd = offset + static_cast<int>(got);
  if (got < wanted) record->dataEnd = record->windowEnd;
  if (record->windowStart == 0 && record->windowEnd == record->dataEnd) {
    // All of it is here: give the descriptor (and a command's temporary
    // file) back at once.
    close(record->fd);
    record->fd = -1;
  }
  return got > 0;
}

void releaseWindow(HandleRecord *record) {
  free(record->window);
  record->window = nullptr;
  record->windowStart = record->windowEnd = 0;
  if (record->fd >= 0) close(record->fd);
  record->fd = -1;
}

}  // namespace tkpixmap::files
