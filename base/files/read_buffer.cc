// read_buffer.cc - a handle's data, read a buffer at a time with pread.

#include "base/files/read_buffer.h"

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "base/files/line_scan.h"
#include "base/out_of_memory.h"
#include "baseutil.h"

namespace tkpixmap::files {
namespace {

// Read by any thread when a buffer is made; set by tests and measurements.
std::atomic<int> readBufferBytes{kDefaultReadBufferBytes};

// The scanners' aligned blocks around a range of the buffer start no earlier
// than the buffer itself because malloc aligns it at least this far.
static_assert(alignof(max_align_t) >= kScanAlignment);
// ... and end within the slack.
static_assert(kReadBufferSlack >= static_cast<int>(kScanAlignment));

}  // namespace

void setReadBufferBytes(int bytes) {
  readBufferBytes.store(bytes > 0 ? bytes : 1, std::memory_order_relaxed);
}

bool fillReadBuffer(HandleRecord *record, int offset) {
  if (record->fd < 0) {  // nothing left to read from
    record->dataEnd = offset;
    return false;
  }
  if (record->readBuffer == nullptr) {
    const int chosen = readBufferBytes.load(std::memory_order_relaxed);
    const int capacity = record->size < chosen ? record->size : chosen;
    const size_t bytes = static_cast<size_t>(capacity) + kReadBufferSlack;
    record->readBuffer = static_cast<char *>(malloc(bytes));
    if (record->readBuffer == nullptr) TKP_DIE_OUT_OF_MEMORY(bytes, "mapped");
    record->readBufferCapacity = capacity;
  }
  const int left = record->dataEnd - offset;
  const size_t wanted =
      static_cast<size_t>(left < record->readBufferCapacity ? left : record->readBufferCapacity);
  size_t got = 0;
  while (got < wanted) {
    const ssize_t n = pread(record->fd, record->readBuffer + got, wanted - got,
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
  memset(record->readBuffer + got, 0, kReadBufferSlack);
  record->readBufferStart = offset;
  record->readBufferEnd = offset + static_cast<int>(got);
  if (got < wanted) record->dataEnd = record->readBufferEnd;
  if (record->readBufferStart == 0 && record->readBufferEnd == record->dataEnd) {
    // All of it is here: give the descriptor (and a command's temporary
    // file) back at once.
    close(record->fd);
    record->fd = -1;
  }
  return got > 0;
}

void releaseReadBuffer(HandleRecord *record) {
  free(record->readBuffer);
  record->readBuffer = nullptr;
  record->readBufferStart = record->readBufferEnd = 0;
  if (record->fd >= 0) close(record->fd);
  record->fd = -1;
}

}  // namespace tkpixmap::files
