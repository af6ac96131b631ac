// load.cc - a GIF file's bytes, handed to the reader straight from memory.

#include "tkpixmap/image/load.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tkpixmap/gif/reader.h"
#include "tkpixmap/result.h"
#include "tkpixmap/tcl_compat.h"

namespace tkpixmap {
namespace {

constexpr const char kOpenFailed[] = "pixmap: fopen() error";
constexpr const char kReadFailed[] = "pixmap: ReadGIF() error";

// What a file gives the reader: its bytes, read whole, or for what is not
// a regular file (a FIFO, a device) a stream read as the reader goes.
struct FileBytes {
  uint8_t *data = nullptr;  // malloc'd
  size_t size = 0;
  FILE *stream = nullptr;
};

// A failure of the system: `message` and the POSIX error code of `error`.
Image *systemFailure(Tcl_Interp *interp, const char *message, int error) {
  Tcl_SetErrno(error);
  Tcl_PosixError(interp);  // sets the error code POSIX ENOENT {...} and the like
  setMessage(interp, message);
  return nullptr;
}

// Reads the rest of a regular file whose first `have` bytes are in *data
// (room for `room`), growing the buffer if the file grew.  0 or an errno.
int readRest(int fd, uint8_t **data, size_t have, size_t room, size_t *size) {
  for (;;) {
    if (have == room) {
      room *= 2;
      auto *bigger = static_cast<uint8_t *>(realloc(*data, room));
      if (bigger == nullptr) return ENOMEM;
      *data = bigger;
    }
    const ssize_t got = pread(fd, *data + have, room - have, static_cast<off_t>(have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  *size = have;
  return 0;
}

// Opens the file and takes its bytes.  The open itself must not wait: a
// FIFO without a writer would block for ever, so the descriptor is opened
// non-blocking (such a FIFO then reads as empty).  The name is Tcl's
// (UTF-8) and goes to the system in the system encoding, as Tcl's own file
// commands do; it is otherwise used as given (no tilde substitution).
// Null with the message and code set on failure.
bool readFile(Tcl_Interp *interp, Tcl_Obj *name, FileBytes *out) {
  Tcl_Size length = 0;
  const char *utf = Tcl_GetStringFromObj(name, &length);
  if (memchr(utf, '\0', static_cast<size_t>(length)) != nullptr) {
    // The system would see a shorter name than the one given, as Tcl's
    // own open refuses to let it.
    systemFailure(interp, kOpenFailed, EINVAL);
    return false;
  }
  Tcl_DString nativeName;
  Tcl_UtfToExternalDString(nullptr, utf, length, &nativeName);
  const int fd = open(Tcl_DStringValue(&nativeName), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int openError = errno;
  Tcl_DStringFree(&nativeName);
  if (fd < 0) {
    systemFailure(interp, kOpenFailed, openError);
    return false;
  }
  // Most files are small: one positioned read tries them whole before
  // anything else is asked.  A FIFO, pipe or terminal refuses to read at an
  // offset and gives up nothing; a directory refuses with its own reason.
  constexpr size_t kFirstRead = 64 * 1024;
  uint8_t *data = static_cast<uint8_t *>(malloc(kFirstRead));
  if (data == nullptr) {
    close(fd);
    systemFailure(interp, kReadFailed, ENOMEM);
    return false;
  }
  ssize_t head;
  do {
    head = pread(fd, data, kFirstRead, 0);
  } while (head < 0 && errno == EINTR);
  int error = head < 0 ? errno : 0;
  if (head >= 0) {
    size_t size = static_cast<size_t>(head);
    if (size == kFirstRead) {
      // A larger file: read on into a buffer as large as the file says it
      // is (it may grow meanwhile).
      struct stat status;
      size_t room = 2 * kFirstRead;
      if (fstat(fd, &status) == 0 && status.st_size > 0 &&
          static_cast<uint64_t>(status.st_size) < SIZE_MAX &&
          static_cast<size_t>(status.st_size) + 1 > room)
        room = static_cast<size_t>(status.st_size) + 1;
      auto *bigger = static_cast<uint8_t *>(realloc(data, room));
      if (bigger == nullptr) {
        error = ENOMEM;
      } else {
        data = bigger;
        error = readRest(fd, &data, size, room, &size);
      }
    }
    close(fd);
    if (error != 0) {
      free(data);
      systemFailure(interp, kReadFailed, error);
      return false;
    }
    out->data = data;
    out->size = size;
    return true;
  }
  free(data);
  if (error != ESPIPE) {
    close(fd);
    systemFailure(interp, kReadFailed, error);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  out->stream = fdopen(fd, "r");
  if (out->stream == nullptr) {
    error = errno;
    close(fd);
    systemFailure(interp, kOpenFailed, error);
    return false;
  }
  return true;
}

void *attemptAlloc(size_t size) {
  // Tcl_AttemptAlloc takes an unsigned int: anything larger cannot be had.
  if (size > 0xFFFFFFFFu) return nullptr;
  return Tcl_AttemptAlloc(static_cast<unsigned int>(size));
}

void releaseAlloc(void *memory) { Tcl_Free(static_cast<char *>(memory)); }

// The reader's failure as the command tells it: one message, and the error
// code of its cause.
Image *readFailure(Tcl_Interp *interp, gif::ReadStatus status, int readError) {
  if (readError != 0) return systemFailure(interp, kReadFailed, readError);
  if (status == gif::ReadStatus::noMemory) {
    failWith(interp, kReadFailed, "PIXMAP", "NOMEM");
  } else {
    failWith(interp, kReadFailed, "PIXMAP", "GIF", "FORMAT");
  }
  return nullptr;
}

Image *decode(Tcl_Interp *interp, gif::ByteSource &source, FILE *stream) {
  gif::ReadRequest request;  // 0 x 0 asks for the whole logical screen
  gif::ReadState state;
  gif::ReadResult result;
  if (stream != nullptr) flockfile(stream);
  const gif::ReadStatus status =
      gif::readFirstImage(source, request, attemptAlloc, releaseAlloc, state, result);
  const int readError = stream != nullptr && ferror(stream) ? errno : 0;
  if (stream != nullptr) funlockfile(stream);
  if (status != gif::ReadStatus::ok && status != gif::ReadStatus::okNoPixels)
    return readFailure(interp, status, readError);
  // A screen with nothing to deliver still loads, as an image without pixels.
  const bool delivered = status == gif::ReadStatus::ok;
  Image *image = newImage(delivered ? result.pixels : nullptr, request.width, request.height);
  if (result.pixels != nullptr) releaseAlloc(result.pixels);
  if (image == nullptr) failWith(interp, "pixmap: malloc() error", "PIXMAP", "NOMEM");
  return image;
}

}  // namespace

Image *loadImage(Tcl_Interp *interp, const ImageSource &source) {
  FileBytes bytes;
  if (!readFile(interp, source.file, &bytes)) return nullptr;
  Image *image;
  if (bytes.stream != nullptr) {
    gif::ByteSource stream(bytes.stream);
    image = decode(interp, stream, bytes.stream);
    fclose(bytes.stream);
  } else {
    gif::ByteSource memory(bytes.data, bytes.size);
    image = decode(interp, memory, nullptr);
    free(bytes.data);
  }
  return image;
}

}  // namespace tkpixmap
