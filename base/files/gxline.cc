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

#include "base/files/closed_children.h"
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

// Ends a gxline call that copied `length` bytes of the `limit` at `start`
// (the line at `position`): terminates the copy, moves the position past
// what was consumed and gives the result.
inline int finishLine(Mapped *record, char *buffer, const char *start, int position,
                      size_t length, size_t limit, size_t room) {
  buffer[length] = '\0';
  const int copied = static_cast<int>(length);  // length <= size <= INT_MAX
  if (length < limit) {
    if (start[length] == '\n') {
      record->position = position + copied + 1;
      return 1;
    }
    // A zero byte stops the line and is not consumed: every later call
    // stops on it again.
    record->position = position + copied;
    return length > 0 ? 1 : 0;
  }
  record->position = position + copied;
  return length == room ? 2 : 1;  // length > 0 here, since limit > 0
}

// Mappings span whole pages, so the data is readable up to the next 16-byte
// boundary at least.
inline const char *readableEnd(const char *data, int size) {
  const uintptr_t end = reinterpret_cast<uintptr_t>(data) + static_cast<size_t>(size);
  return data + size + ((16 - end % 16) % 16);
}

// Copies the line at `position` into buffer, of which the first `copied`
// bytes (0, or the window when the line is known to go on past it) are
// copied already; the rules are those of gxline.
[[gnu::noinline]] int copyLine(Mapped *record, char *buffer, int bufferSize, size_t copied) {
  if (record->data == nullptr) gxmap(record);
  const char *data = record->data;
  const int position = record->position;
  const int size = record->size;
  if (data == nullptr || position >= size) {
    buffer[0] = '\0';
    return 0;
  }
  const size_t room = static_cast<size_t>(bufferSize) - 1;
  const size_t left = static_cast<size_t>(size - position);
  const size_t limit = left < room ? left : room;
  const char *start = data + position;
#if defined(__SSE2__)
  const size_t length =
      copied > 0 ? copyLineBytesFrom(buffer, start, limit, readableEnd(data, size), copied)
                 : copyLineBytes(buffer, start, limit, readableEnd(data, size));
#else
  (void)copied;
  const size_t length = copyLineBytes(buffer, start, limit, readableEnd(data, size));
#endif
  return finishLine(record, buffer, start, position, length, limit, room);
}

// gxline for a mapped record whose read position leaves room for the
// window, which is the common case, kept free of calls so that it needs no
// stack frame.  kNotInWindow when the case does not apply (nothing is
// changed then); kWindowCopied when the line goes on past the window, whose
// bytes are then copied (the position is not moved yet).
constexpr int kNotInWindow = -1;
constexpr int kWindowCopied = -2;
inline int readLineInWindow(Mapped *record, char *buffer, int bufferSize) {
#if defined(__SSE2__)
  const char *data = record->data;
  const int position = record->position;
  const int size = record->size;
  if (data == nullptr || position >= size) return kNotInWindow;
  const size_t room = static_cast<size_t>(bufferSize) - 1;
  const size_t left = static_cast<size_t>(size - position);
  const size_t limit = left < room ? left : room;
  const char *start = data + position;
  if (!lineWindowFits(start, limit)) return kNotInWindow;
  const size_t length = copyLineInWindow(buffer, start);
  if (length == kLineWindow) return kWindowCopied;
  return finishLine(record, buffer, start, position, length, limit, room);
#else
  (void)record;
  (void)buffer;
  (void)bufferSize;
  return kNotInWindow;
#endif
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
    elog_complain(0, "'%s' is empty\n", path);  // no call failed: no reason
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
    elog_log(0, "output is empty");  // no call failed: no reason
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
  const int result = readLineInWindow(record, buffer, bufferSize);
  if (result >= 0) return result;
#if defined(__SSE2__)
  return copyLine(record, buffer, bufferSize, result == kWindowCopied ? kLineWindow : 0);
#else
  return copyLine(record, buffer, bufferSize, 0);
#endif
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
    if (record == nullptr) return -1;
    // A command never read may run for long, or for ever: it is collected
    // now if it has ended, else by a later gx call once it has.
    if (record->pid > 0) {
      if (record->pipeFd >= 0) close(record->pipeFd);
      collectOrRemember(record->pid);
    }
  }
  // The record is out of the table, so the rest needs no lock.
  int result = 0;
  if (record->data != nullptr)
    result = munmap(const_cast<char *>(record->data), static_cast<size_t>(record->size));
  if (record->fd >= 0) close(record->fd);
  free(record);
  return result;
}

}  // extern "C"
