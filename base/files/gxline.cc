// gxline.cc - gx handles: opening files, collecting a finished command's
// output, reading lines through the handle's read buffer, tell, seek and close;
// and gxmap, which maps a command's output for callers' own records.

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
#include "base/files/read_buffer.h"
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

// What gxmap does before it maps, shared with the first gxline of a
// command's handle: closes the pipe, waits for the command to end and looks
// at its output.  Returns the output's size, or -1 when there is nothing to
// read (reported; `fd` then stays open until the handle is closed).
off_t collectOutput(int &pid, int &pipeFd, int fd) {
  if (pid <= 0) {
    elog_log(0, "no pid");
    return -1;
  }
  if (pipeFd >= 0) close(pipeFd);
  pipeFd = -1;
  collectChild(pid);
  pid = -1;
  if (fd < 0) {
    elog_log(0, "no open file");
    return -1;
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    elog_log(1, "fstat failed\n");
    return -1;
  }
  if (status.st_size == 0) {
    elog_log(0, "output is empty");  // no call failed: no reason
    return -1;
  }
  return status.st_size;
}

// Makes a command's output readable through the handle's read buffer
// (gxmap's work for a handle of the table, which reads without mapping).
void collectHandleOutput(HandleRecord *record) {
  const off_t size = collectOutput(record->pid, record->pipeFd, record->fd);
  if (size < 0) return;
  if (!fitsInRecord(size)) {
    // Losing a command's output must not pass for an empty output.
    errno = EFBIG;
    elog_log(1, "Can't map command output");
    close(record->fd);
    record->fd = -1;
    return;
  }
  record->size = record->dataEnd = static_cast<int>(size);
  record->position = 0;
  record->readable = true;
}

// Whether the read buffer holds the byte at `at`.
inline bool inReadBuffer(const HandleRecord *record, int at) {
  return at >= record->readBufferStart && at < record->readBufferEnd;
}

// How many bytes from `at`, a position in the read buffer, the scanners may
// look at: as many as are left of the caller's room and of the data read.
inline size_t scanLimit(const HandleRecord *record, int at, size_t roomLeft) {
  const size_t leftInBuffer = static_cast<size_t>(record->readBufferEnd - at);
  return roomLeft < leftInBuffer ? roomLeft : leftInBuffer;
}

// The byte at `at`, a position in the read buffer.
inline const char *readBufferAt(const HandleRecord *record, int at) {
  return record->readBuffer + (at - record->readBufferStart);
}

// Ends a gxline call whose line stopped at a newline or zero byte, `length`
// bytes after the line's start `position` (the bytes before are copied):
// terminates the copy, moves the position past what was consumed and gives
// the result.  A zero byte is not consumed: every later call stops on it
// again.
inline int finishAtMark(HandleRecord *record, char *buffer, int position, size_t length,
                        char mark) {
  buffer[length] = '\0';
  const int copied = static_cast<int>(length);  // below the buffer's size, an int
  if (mark == '\n') {
    record->position = position + copied + 1;
    return 1;
  }
  record->position = position + copied;
  return length > 0 ? 1 : 0;
}

// Copies the line at the read position into buffer, of which the first
// `copied` bytes (0, or a scan block when the line is known to go on past
// it) are copied already, filling the read buffer as often as the line
// needs; the rules are those of gxline.
[[gnu::noinline]] int copyLine(HandleRecord *record, char *buffer, int bufferSize,
                               size_t copied) {
  if (!record->readable) collectHandleOutput(record);
  if (!record->readable) {
    buffer[0] = '\0';
    return 0;
  }
  const int position = record->position;
  const size_t room = static_cast<size_t>(bufferSize) - 1;
  size_t done = copied;
  for (;;) {
    const int at = position + static_cast<int>(done);  // done <= room < INT_MAX
    if (done == room) {
      buffer[done] = '\0';
      record->position = at;
      return 2;
    }
    if (at >= record->dataEnd) {
      buffer[done] = '\0';
      record->position = at;
      return done > 0 ? 1 : 0;
    }
    // A read buffer that cannot be filled at `at` means the data ended there.
    if (!inReadBuffer(record, at) && !fillReadBuffer(record, at)) continue;
    const size_t limit = scanLimit(record, at, room - done);
    const char *start = readBufferAt(record, at);
    const size_t length = copyLineBytes(buffer + done, start, limit);
    done += length;
    if (length < limit) return finishAtMark(record, buffer, position, done, start[length]);
  }
}

// gxline for a line that starts in the read buffer with a whole scan block
// there and in the caller's room, which is the common case, kept free of
// calls so that it needs no stack frame.  kNotInReadBuffer when the case
// does not apply (nothing is changed then); kScanBlockCopied when the line
// goes on past the scan block, whose bytes are then copied (the position is
// not moved yet).  `copyScanBlock` is the processor's scan block copy.
constexpr int kNotInReadBuffer = -1;
constexpr int kScanBlockCopied = -2;
template <ScanBlockCopy copyScanBlock>
[[gnu::always_inline]] inline int readLineInReadBuffer(HandleRecord *record, char *buffer,
                                                       int bufferSize) {
  const int position = record->position;
  if (!inReadBuffer(record, position)) return kNotInReadBuffer;
  const size_t limit = scanLimit(record, position, static_cast<size_t>(bufferSize) - 1);
  // The scan block must lie in the line's range: in the caller's room and
  // in the data read (wherever pages begin: the read buffer is all
  // readable).
  if (limit < kScanBlock) return kNotInReadBuffer;
  const char *start = readBufferAt(record, position);
  const size_t length = copyScanBlock(buffer, start);
  if (length == kScanBlock) return kScanBlockCopied;
  return finishAtMark(record, buffer, position, length, start[length]);
}

// The whole of gxline, with the scan block copy `copyScanBlock`.
struct LineReader {
  template <ScanBlockCopy copyScanBlock>
  [[gnu::always_inline]] static inline int run(int handle, char *buffer, int bufferSize) {
    // Fewer than 2 bytes leave no room for a single byte of a line:
    // answering "did not fit" forever would never make progress.
    if (buffer == nullptr || bufferSize < 2) return 0;
    HandleRecord *record = findRecordForReading(handle);
    if (record == nullptr) return 0;
    const int result = readLineInReadBuffer<copyScanBlock>(record, buffer, bufferSize);
    if (result >= 0) return result;
    return copyLine(record, buffer, bufferSize, result == kScanBlockCopied ? kScanBlock : 0);
  }
};

}  // namespace
}  // namespace tkpixmap::files

using namespace tkpixmap::files;
using tkpixmap::MutexLock;

extern "C" {

int gxopen(const char *path) {
  MutexLock lock(handleTableMutex);
  collectEndedChildren();
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
  bool usable = false;
  if (fstat(fd, &status) != 0) {
    elog_complain(1, "fstat failed for '%s'\n", path);
  } else if (status.st_size == 0) {
    elog_complain(0, "'%s' is empty\n", path);  // no call failed: no reason
  } else if (!S_ISREG(status.st_mode) || !fitsInRecord(status.st_size)) {
    errno = S_ISREG(status.st_mode) ? EFBIG : ENODEV;
    elog_complain(1, "Can't map file %s\n", path);
  } else {
    usable = true;
  }
  if (!usable) {
    close(fd);
    return -1;
  }
  // The descriptor is kept for reading, until the data is read whole.
  HandleRecord *record = newRecord();
  record->fd = fd;
  record->size = record->dataEnd = static_cast<int>(status.st_size);
  record->readable = true;
  return insertRecord(record);
}

void gxmap(Mapped *record) {
  if (record == nullptr) return;
  const off_t size = collectOutput(record->pid, record->pipeFd, record->fd);
  if (size < 0) return;
  const char *data = nullptr;
  if (!fitsInRecord(size)) {
    errno = EFBIG;
  } else {
    data = mapReadOnly(record->fd, size);
  }
  // Losing a command's output must not pass for an empty output.
  if (data == nullptr) elog_log(1, "Can't map command output");
  close(record->fd);
  record->fd = -1;
  if (data == nullptr) return;
  record->data = data;
  record->size = static_cast<int>(size);
  record->position = 0;
}

int gxline(int handle, char *buffer, int bufferSize) {
  return runWithFastestScanBlock<LineReader>(handle, buffer, bufferSize);
}

int gxtell(int handle) {
  MutexLock lock(handleTableMutex);
  collectEndedChildren();
  HandleRecord *record = findRecord(handle);
  return record != nullptr ? record->position : -1;
}

int gxseek(int handle, int offset) {
  MutexLock lock(handleTableMutex);
  collectEndedChildren();
  HandleRecord *record = findRecord(handle);
  if (record == nullptr || offset < 0 || offset > record->size) return -1;
  record->position = offset;
  return 0;
}

int gxclose(int handle) {
  HandleRecord *record;
  {
    MutexLock lock(handleTableMutex);
    collectEndedChildren();
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
  releaseReadBuffer(record);
  free(record);
  return 0;
}

}  // extern "C"
