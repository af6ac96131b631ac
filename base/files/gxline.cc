// gxline.cc - gx handles on mapped data: opening files, mapping a finished
// command's output, reading lines, tell, seek and close.

#include "gxline.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdlib.h>

#include "base/files/handle_table.h"
#include "base/files/line_scan.h"
#include "baseutil.h"

namespace tkpixmap::files {
namespace {

// Sizes and positions are ints in the record and in the interface, so
// anything larger cannot be addressed and is refused as a whole.
bool fitsInRecord(off_t size) { return size <= static_cast<off_t>(INT_MAX); }

// Maps `size` bytes of `fd` read-only; null on failure (errno set).
const char *mapReadOnly(int fd, off_t size) {
  void *data = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
  return data == MAP_FAILED ? nullptr : static_cast<const char *>(data);
}

void collectChild(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Copies the line at `position` into buffer; the rules are those of gxline.
int copyLine(Mapped *record, char *buffer, int bufferSize) {
  const char *data = record->data;
  size_t position = static_cast<size_t>(record->position);
  size_t size = static_cast<size_t>(record->size);
  if (data == nullptr || position >= size) {
    buffer[0] = '\0';
    return 0;
  }
  const size_t room = static_cast<size_t>(bufferSize) - 1;
  const size_t limit = size - position < room ? size - position : room;
  const char *start = data + position;

  // Mappings span whole pages, so the data is readable up to the next
  // 16-byte boundary at least.
  const uintptr_t dataEnd = reinterpret_cast<uintptr_t>(data) + size;
  const char *readableEnd = data + size + ((16 - dataEnd % 16) % 16);
  const size_t length = copyLineBytes(buffer, start, limit, readableEnd);
  buffer[length] = '\0';
  record->position += static_cast<int>(length);  // length <= size <= INT_MAX
  if (length < limit) {
    if (start[length] == '\n') {
      record->position += 1;
      return 1;
    }
    // A zero byte stops the line and is not consumed: every later call
    // stops on it again.
    return length > 0 ? 1 : 0;
  }
  return length == room ? 2 : 1;  // length > 0 here, since limit > 0
}

}  // namespace
}  // namespace tkpixmap::files

using namespace tkpixmap::files;

extern "C" {

int gxopen(const char *path) {
  HandleTableLock lock;
  if (path == nullptr) {
    errno = EINVAL;
    elog_complain(1, "Couldn't open %s\n", "(null)");
    return -1;
  }
  // O_NONBLOCK: opening a FIFO must not hang; it is refused below as empty.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    elog_complain(1, "Couldn't open %s\n", path);
    return -1;
  }
  struct stat status;
  const char *data = nullptr;
  if (fstat(fd, &status) != 0) {
    elog_complain(1, "fstat failed for '%s'\n", path);
  } else if (status.st_size == 0) {
    elog_complain(1, "'%s' is empty\n", path);
  } else if (!S_ISREG(status.st_mode) || !fitsInRecord(status.st_size)) {
    errno = S_ISREG(status.st_mode) ? EFBIG : ENODEV;
    elog_complain(1, "Can't map file %s\n", path);
  } else if ((data = mapReadOnly(fd, status.st_size)) == nullptr) {
    elog_complain(1, "Can't map file %s\n", path);
  }
  close(fd);
  if (data == nullptr) return -1;

  Mapped *record = newRecord();
  record->data = data;
  record->size = static_cast<int>(status.st_size);
  return insertRecord(record);
}

void gxmap(Mapped *record) {
  if (record == nullptr) return;
  if (record->pid <= 0) {
    elog_log(0, "no pid");
    return;
  }
  if (record->pipeFd >= 0) close(record->pipeFd);
  record->pipeFd = -1;
  collectChild(record->pid);
  record->pid = -1;
  if (record->fd < 0) {
    elog_log(0, "no open file");
    return;
  }
  struct stat status;
  if (fstat(record->fd, &status) != 0) {
    elog_log(1, "fstat failed\n");
    return;
  }
  if (status.st_size == 0) {
    elog_log(1, "output is empty");
    return;
  }
  const char *data = nullptr;
  if (!fitsInRecord(status.st_size)) {
    errno = EFBIG;
  } else {
    data = mapReadOnly(record->fd, status.st_size);
  }
  // Losing a command's output must not pass for an empty output.
  if (data == nullptr) elog_log(1, "Can't map command output");
  close(record->fd);
  record->fd = -1;
  if (data == nullptr) return;
  record->data = data;
  record->size = static_cast<int>(status.st_size);
  record->position = 0;
}

int gxline(int handle, char *buffer, int bufferSize) {
  // Fewer than 2 bytes leave no room for a single byte of a line: answering
  // "did not fit" forever would never make progress.
  if (buffer == nullptr || bufferSize < 2) return 0;
  Mapped *record = findRecordForReading(handle);
  if (record == nullptr) return 0;
  if (record->data == nullptr) gxmap(record);
  return copyLine(record, buffer, bufferSize);
}

int gxtell(int handle) {
  HandleTableLock lock;
  Mapped *record = findRecord(handle);
  return record != nullptr ? record->position : -1;
}

int gxseek(int handle, int offset) {
  HandleTableLock lock;
  Mapped *record = findRecord(handle);
  if (record == nullptr || offset < 0 || offset > record->size) return -1;
  record->position = offset;
  return 0;
}

int gxclose(int handle) {
  Mapped *record;
  {
    HandleTableLock lock;
    record = takeRecord(handle);
  }
  if (record == nullptr) return -1;
  // The record is out of the table, so the rest needs no lock; that keeps a
  // wait for an unread child from stalling every other handle.
  int result = 0;
  if (record->pid > 0) {
    if (record->pipeFd >= 0) close(record->pipeFd);
    collectChild(record->pid);
  }
  if (record->data != nullptr)
    result = munmap(const_cast<char *>(record->data), static_cast<size_t>(record->size));
  if (record->fd >= 0) close(record->fd);
  free(record);
  return result;
}

}  // extern "C"
