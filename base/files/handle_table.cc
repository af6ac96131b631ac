// handle_table.cc - gx handles: a base utility list indexed by handle, whose
// empty entries are free handles, reused lowest first.

#include "base/files/handle_table.h"

#include <stdlib.h>

#include "base/files/closed_children.h"
#include "base/out_of_memory.h"
#include "baseutil.h"

namespace tkpixmap::files {
namespace {

Tbl *handleTable = nullptr;  // created by whichever operation comes first

void publish(int handle, HandleRecord *record) {
#if ATOMIC_POINTER_LOCK_FREE == 2
  if (handle < kPublishedHandles)
    publishedRecords[handle].store(record, std::memory_order_release);
#else
  (void)handle;
  (void)record;
#endif
}

Tbl *table() {
  if (handleTable == nullptr) {
    handleTable = newtbl(0);
    if (handleTable == nullptr) TKP_DIE_OUT_OF_MEMORY(sizeof(Tbl), "mapped");
  }
  return handleTable;
}

// Number of entries, including the empty ones.  Since a new record takes the
// lowest free handle, the table is never longer than the most records open
// at once, which stays far below INT_MAX.
int entryCount() { return static_cast<int>(table()->count); }

}  // namespace

pthread_mutex_t handleTableMutex = PTHREAD_MUTEX_INITIALIZER;

#if ATOMIC_POINTER_LOCK_FREE == 2
std::atomic<HandleRecord *> publishedRecords[kPublishedHandles];
#endif

int insertRecord(HandleRecord *record) {
  int count = entryCount();
  int handle = 0;
  while (handle < count && gettbl(table(), handle) != nullptr) ++handle;
  // handle == count appends.
  if (settbl(table(), handle, record) != 0)
    TKP_DIE_OUT_OF_MEMORY((static_cast<size_t>(count) + 1) * sizeof(void *), "mapped");
  publish(handle, record);
  return handle;
}

HandleRecord *findRecord(int handle) {
  if (handle < 0 || handleTable == nullptr) return nullptr;
  return static_cast<HandleRecord *>(gettbl(handleTable, handle));
}

HandleRecord *findRecordLocked(int handle) {
  MutexLock lock(handleTableMutex);
  collectEndedChildren();
  return findRecord(handle);
}

HandleRecord *takeRecord(int handle) {
  HandleRecord *record = findRecord(handle);
  if (record != nullptr) {
    settbl(handleTable, handle, nullptr);
    publish(handle, nullptr);
  }
  return record;
}

HandleRecord *newRecord() {
  auto *record = static_cast<HandleRecord *>(malloc(sizeof(HandleRecord)));
  if (record == nullptr) TKP_DIE_OUT_OF_MEMORY(sizeof(HandleRecord), "mapped");
  record->size = 0;
  record->position = 0;
  record->pid = -1;
  record->pipeFd = -1;
  record->fd = -1;
  record->readable = false;
  record->dataEnd = 0;
  record->readBuffer = nullptr;
  record->readBufferCapacity = 0;
  record->readBufferStart = 0;
  record->readBufferEnd = 0;
  return record;
}

}  // namespace tkpixmap::files
