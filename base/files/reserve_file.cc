// reserve_file.cc - a reserve of spare streams on "/dev/null" that keep
// their descriptors and stream records taken until a caller gives one back.

#include "reserve_file.h"

#include <pthread.h>
#include <stdio.h>

#include "baseutil/mutex_lock.h"

namespace tkpixmap::files {
namespace {

constexpr int reservedCount = 2;

// A fixed array rather than a heap one: it exists from load time, so neither
// call can run out of memory.
// Any thread; guarded by reserveMutex.
FILE *reservedStreams[reservedCount] = {};
pthread_mutex_t reserveMutex = PTHREAD_MUTEX_INITIALIZER;

}  // namespace
}  // namespace tkpixmap::files

using namespace tkpixmap::files;

extern "C" {

void reserve_FILE(void) {
  tkpixmap::MutexLock lock(reserveMutex);
  for (FILE *&slot : reservedStreams) {
    // "e": close-on-exec, so that commands started meanwhile do not carry
    // the spares along.  A failed open leaves the slot for the next call.
    if (slot == nullptr) slot = fopen("/dev/null", "re");
  }
}

void release_FILE(void) {
  tkpixmap::MutexLock lock(reserveMutex);
  for (FILE *&slot : reservedStreams) {
    if (slot != nullptr) {
      fclose(slot);
      slot = nullptr;
      break;
    }
  }
}

}  // extern "C"
