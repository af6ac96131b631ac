// handle_table.h - the process-wide table from gx handle to its record,
// and the mutex that guards it.
#ifndef TKPIXMAP_BASE_FILES_HANDLE_TABLE_H
#define TKPIXMAP_BASE_FILES_HANDLE_TABLE_H

#include <pthread.h>

#include <atomic>

#include "base/files/handle_record.h"
#include "baseutil/mutex_lock.h"

namespace tkpixmap::files {

// Guards the table and the list of closed children (closed_children.h).
// Every gx call that takes it (with a MutexLock) first collects the commands
// of closed handles that have ended since, so that none stays a zombie for
// long:
//   MutexLock lock(handleTableMutex);
//   collectEndedChildren();
// Its place in the lock order is in baseutil/mutex_lock.h.
extern pthread_mutex_t handleTableMutex;

// A copy of the table's first entries, kept equal to them under the mutex and
// read without it, where pointers are atomic without locks (elsewhere
// reading takes the mutex).  Publishing a record with release order makes
// its fields visible to the reader that acquires it.
#if ATOMIC_POINTER_LOCK_FREE == 2
constexpr int kPublishedHandles = 256;
extern std::atomic<HandleRecord *> publishedRecords[kPublishedHandles];
#else
constexpr int kPublishedHandles = 0;
#endif

HandleRecord *findRecordLocked(int handle);

// The record of `handle`, without taking the lock when the handle is small,
// so that reading lines does not serialise threads on the table mutex.  The
// answer is the one the locked lookup would give.
inline HandleRecord *findRecordForReading(int handle) {
#if ATOMIC_POINTER_LOCK_FREE == 2
  if (handle >= 0 && handle < kPublishedHandles)
    return publishedRecords[handle].load(std::memory_order_acquire);
#endif
  return findRecordLocked(handle);
}

// The functions below expect the caller to hold handleTableMutex.

// Stores `record` at the lowest free handle and returns that handle.
int insertRecord(HandleRecord *record);

// The record of `handle`, or null when the handle is not in use.
HandleRecord *findRecord(int handle);

// Removes `handle` from the table and returns its record (null when unknown).
HandleRecord *takeRecord(int handle);

// A fresh record with every field at its "nothing here" value.
HandleRecord *newRecord();

}  // namespace tkpixmap::files

#endif
