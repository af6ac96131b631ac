// load.cc - a GIF's bytes, from a file, a Tcl file system or inline data,
// handed to the reader straight from memory.

#include "tkpixmap/image/load.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tkpixmap/gif/frames.h"
#include "tkpixmap/gif/reader.h"
#include "tkpixmap/result.h"
#include "tkpixmap/tcl_compat.h"

namespace tkpixmap {
namespace {

constexpr const char kOpenFailed[] = "pixmap: fopen() error";
constexpr const char kReadFailed[] = "pixmap: ReadGIF() error";

// A failure of the system: `message` and the POSIX error code of `error`.
Image *systemFailure(Tcl_Interp *interp, const char *message, int error) {
  Tcl_SetErrno(error);
  Tcl_PosixError(interp);  // sets the error code POSIX ENOENT {...} and the like
  setMessage(interp, message);
  return nullptr;
}

// A regular file up to this size is read whole; a larger one, as a stream.
constexpr off_t kWholeReadLimit = off_t{256} << 20;

// Reads the rest of a regular file whose first `have` bytes are in *data
// (room for `room`), growing the buffer if the file grew.  0 or an errno.
int readRest(int fd, uint8_t **data, size_t have, size_t room, size_t *size) {
  for (;;) {
    if (have == room) {
      // A file growing as it is read stops at twice the size read whole.
      if (room >= 2 * static_cast<size_t>(kWholeReadLimit)) return EFBIG;
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

// A file system of Tcl's other than the native one (zipfs, a starkit's
// vfs) that serves `name`; null for native paths.
const Tcl_Filesystem *tclFilesystemOf(Tcl_Obj *name) {
  Tcl_IncrRefCount(name);
  const Tcl_Filesystem *system = Tcl_FSGetFileSystemForPath(name);
  Tcl_DecrRefCount(name);
  return system != nullptr && strcmp(system->typeName, "native") != 0 ? system : nullptr;
}

// Reads a file through Tcl's file system, whole.
bool readThroughTcl(Tcl_Interp *interp, Tcl_Obj *name, SourceBytes *out) {
  // A directory fails as a native one does, whatever the file system would
  // make of opening it (tclvfs opens one in a tar archive as an empty file).
  Tcl_StatBuf *status = Tcl_AllocStatBuf();
  const bool directory = Tcl_FSStat(name, status) == 0 && S_ISDIR(Tcl_GetModeFromStat(status));
  Tcl_Free(reinterpret_cast<char *>(status));
  Tcl_Channel channel = directory ? nullptr : Tcl_FSOpenFileChannel(nullptr, name, "r", 0);
  if (channel == nullptr) {
    systemFailure(interp, kOpenFailed, directory ? EISDIR : Tcl_GetErrno());
    return false;
  }
  Tcl_SetChannelOption(nullptr, channel, "-translation", "binary");
  Tcl_Obj *bytes = Tcl_NewObj();
  Tcl_IncrRefCount(bytes);
  const bool read = Tcl_ReadChars(channel, bytes, -1, 0) >= 0;
  const int error = Tcl_GetErrno();
  Tcl_Close(nullptr, channel);
  Tcl_Size length = 0;
  const unsigned char *data = read ? Tcl_GetByteArrayFromObj(bytes, &length) : nullptr;
  bool ok = data != nullptr;
  if (!ok) {
    systemFailure(interp, kReadFailed, error != 0 ? error : EIO);
  } else if ((out->data = static_cast<uint8_t *>(malloc(length > 0 ? size_t(length) : 1))) ==
             nullptr) {
    systemFailure(interp, kReadFailed, ENOMEM);
    ok = false;
  } else {
    memcpy(out->data, data, size_t(length));
    out->size = size_t(length);
  }
  Tcl_DecrRefCount(bytes);
  return ok;
}

// Reads an open file whole: 0, or errno's value.  Most files are small:
// one positioned read tries them whole before anything else is asked; a
// larger regular file is read on into a buffer as large as the file says
// it is (it may grow meanwhile).  ESPIPE for what is to be read as a
// stream instead: what refuses to read at an offset (a FIFO, pipe or
// terminal, which then gave up nothing), a device, and a regular file
// above kWholeReadLimit.
int readWhole(int fd, SourceBytes *out) {
  constexpr size_t kFirstRead = 64 * 1024;
  auto *data = static_cast<uint8_t *>(malloc(kFirstRead));
  if (data == nullptr) return ENOMEM;
  ssize_t head;
  do {
    head = pread(fd, data, kFirstRead, 0);
  } while (head < 0 && errno == EINTR);
  int error = head < 0 ? errno : 0;
  size_t size = head > 0 ? static_cast<size_t>(head) : 0;
  if (error == 0 && size == kFirstRead) {
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kWholeReadLimit) {
      error = ESPIPE;
    } else {
      const size_t room = static_cast<size_t>(status.st_size) + 1 > 2 * kFirstRead
                              ? static_cast<size_t>(status.st_size) + 1
                              : 2 * kFirstRead;
      auto *bigger = static_cast<uint8_t *>(realloc(data, room));
      if (bigger == nullptr) {
        error = ENOMEM;
      } else {
        data = bigger;
        error = readRest(fd, &data, size, room, &size);
      }
    }
  }
  if (error != 0) {
    free(data);
    return error;
  }
  out->data = data;
  out->size = size;
  return 0;
}

// What is not read whole is read as the reader goes, through a blocking
// stream from its start (a FIFO gave nothing up to the first read).
bool readAsStream(Tcl_Interp *interp, int fd, SourceBytes *out) {
  lseek(fd, 0, SEEK_SET);
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  out->stream = fdopen(fd, "r");
  if (out->stream != nullptr) return true;
  const int error = errno;
  close(fd);
  systemFailure(interp, kOpenFailed, error);
  return false;
}

// Opens the file and takes its bytes.  The open itself must not wait: a
// FIFO without a writer would block for ever, so the descriptor is opened
// non-blocking (such a FIFO then reads as empty).  The name is Tcl's
// (UTF-8) and goes to the system in the system encoding, as Tcl's own file
// commands do; it is otherwise used as given (no tilde substitution).
// False with the message and code set on failure.
bool readFile(Tcl_Interp *interp, Tcl_Obj *name, SourceBytes *out) {
  Tcl_Size length = 0;
  const char *utf = Tcl_GetStringFromObj(name, &length);
  Tcl_DString nativeName;
  Tcl_UtfToExternalDString(nullptr, utf, length, &nativeName);
  if (strlen(Tcl_DStringValue(&nativeName)) != size_t(Tcl_DStringLength(&nativeName))) {
    // A NUL in the name: the system would see a shorter name than the one
    // given, which Tcl's own open refuses too.
    Tcl_DStringFree(&nativeName);
    systemFailure(interp, kOpenFailed, EINVAL);
    return false;
  }
  const int fd = open(Tcl_DStringValue(&nativeName), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int openError = errno;
  Tcl_DStringFree(&nativeName);
  if (fd < 0) {
    // A path the system does not know may be one a Tcl file system serves.
    if ((openError == ENOENT || openError == ENOTDIR) && tclFilesystemOf(name) != nullptr)
      return readThroughTcl(interp, name, out);
    systemFailure(interp, kOpenFailed, openError);
    return false;
  }
  const int error = readWhole(fd, out);
  if (error == ESPIPE) return readAsStream(interp, fd, out);
  close(fd);
  if (error == 0) return true;
  systemFailure(interp, kReadFailed, error);
  return false;
}

// The value of a base64 digit, -1 for any other character.
int base64Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes base64 text (white space anywhere, '=' padding at the end) into
// malloc'd bytes; false for anything else.
bool decodeBase64(const char *text, size_t length, SourceBytes *out) {
  auto *bytes = static_cast<uint8_t *>(malloc(length / 4 * 3 + 3));
  if (bytes == nullptr) return false;
  size_t size = 0;
  uint32_t bits = 0;
  int held = 0;
  bool padded = false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    const int digit = base64Digit(c);
    if (c == '=') {
      padded = true;
      continue;
    }
    if (digit < 0 || padded) {
      free(bytes);
      return false;
    }
    bits = bits << 6 | uint32_t(digit);
    if ((held += 6) >= 8) {
      held -= 8;
      bytes[size++] = static_cast<uint8_t>(bits >> held);
    }
  }
  out->data = bytes;
  out->size = size;
  return true;
}

// Inline data: the bytes of a GIF file as they are (a byte array, or text
// that starts with the GIF signature), else base64 text.  Anything else is
// no GIF, as a file of it would be.
bool readData(Tcl_Interp *interp, Tcl_Obj *data, SourceBytes *out) {
  // A byte array (a file read in binary) is taken as it is, without the
  // text copy of it that asking for its string would make.
  const Tcl_ObjType *byteArray = Tcl_GetObjType("bytearray");
  const unsigned char *raw = nullptr;
  Tcl_Size rawLength = 0;
  Tcl_Size length = 0;
  const char *text = nullptr;
  if (byteArray != nullptr && data->typePtr == byteArray && data->bytes == nullptr) {
    raw = Tcl_GetByteArrayFromObj(data, &rawLength);
    if (rawLength < 4 || memcmp(raw, "GIF8", 4) != 0) raw = nullptr;
  }
  if (raw == nullptr) {
    text = Tcl_GetStringFromObj(data, &length);
    if (length >= 4 && memcmp(text, "GIF8", 4) == 0)
      raw = Tcl_GetByteArrayFromObj(data, &rawLength);
  }
  if (raw != nullptr) {
    out->data = static_cast<uint8_t *>(malloc(rawLength > 0 ? size_t(rawLength) : 1));
    if (out->data == nullptr) {
      systemFailure(interp, kReadFailed, ENOMEM);
      return false;
    }
    memcpy(out->data, raw, size_t(rawLength));
    out->size = size_t(rawLength);
    return true;
  }
  if (text == nullptr) text = Tcl_GetStringFromObj(data, &length);
  if (decodeBase64(text, size_t(length), out)) return true;
  failWith(interp, kReadFailed, "PIXMAP", "GIF", "FORMAT");
  return false;
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

// The first image; `file` is the whole file when it is in memory, which
// the image may keep instead of its pixels.
Image *decode(Tcl_Interp *interp, gif::ByteSource &source, FILE *stream, const SourceBytes &file) {
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
  Image *image = newImage(delivered ? result.pixels : nullptr, request.width, request.height,
                          file.data, file.size);
  if (image != nullptr) image->delayMs = result.delayMs;
  if (result.pixels != nullptr) releaseAlloc(result.pixels);
  if (image == nullptr) failNoMemory(interp);
  return image;
}


// Runs `visit` on each composited frame of the source (the canvas, its
// size and the frame's delay) until it returns false; at least one frame,
// as loadImage would give it, unless the source fails.  The loop count
// into *loopCount.  False with the message set when the source fails
// before its first frame.
template <typename Visit>
bool eachFrame(Tcl_Interp *interp, gif::ByteSource &source, FILE *stream, int *loopCount,
               Visit visit) {
  gif::FrameDecoder frames(attemptAlloc, releaseAlloc);
  if (stream != nullptr) flockfile(stream);
  gif::ReadStatus status = frames.open(source);
  bool more = status == gif::ReadStatus::ok;
  bool any = false;
  while (more && frames.next()) {
    any = true;
    more = visit(frames.canvas(), frames.screenWidth(), frames.screenHeight(),
                 frames.frame().delayMs);
  }
  if (status == gif::ReadStatus::ok) status = frames.status();
  const int readError = stream != nullptr && ferror(stream) ? errno : 0;
  if (stream != nullptr) funlockfile(stream);
  *loopCount = frames.loopCount();
  if (any) return true;
  if (status == gif::ReadStatus::ok && frames.canvas() != nullptr) {
    // A screen with no image: one clear frame (the canvas is cleared).
    visit(frames.canvas(), frames.screenWidth(), frames.screenHeight(), 0);
    return true;
  }
  if (status == gif::ReadStatus::okNoPixels) {
    visit(nullptr, frames.screenWidth(), frames.screenHeight(), 0);
    return true;
  }
  readFailure(interp, status, readError);
  return false;
}

// Runs `decodeWith` on a ByteSource over the source's bytes (and the bytes).
template <typename Decode>
bool withSource(Tcl_Interp *interp, const ImageSource &source, Decode decodeWith) {
  SourceBytes bytes;
  if (!readSource(interp, source, &bytes)) return false;
  bool ok;
  if (bytes.stream != nullptr) {
    gif::ByteSource stream(bytes.stream);
    ok = decodeWith(stream, bytes.stream, bytes);
  } else {
    gif::ByteSource memory(bytes.data, bytes.size);
    ok = decodeWith(memory, nullptr, bytes);
  }
  freeSource(&bytes);
  return ok;
}

// Frame `index` (above 0) as a new image.
Image *decodeFrame(Tcl_Interp *interp, gif::ByteSource &source, FILE *stream, int index) {
  Image *image = nullptr;
  int seen = 0;
  int loopCount;
  bool memoryShort = false;
  const bool read = eachFrame(
      interp, source, stream, &loopCount,
      [&](const uint8_t *canvas, int width, int height, int delayMs) {
        if (seen++ < index) return true;
        image = newImage(canvas, width, height);
        memoryShort = image == nullptr;
        if (image != nullptr) image->delayMs = delayMs;
        return false;
      });
  if (!read) return nullptr;
  if (memoryShort) {
    failNoMemory(interp);
    return nullptr;
  }
  if (image == nullptr) noFrame(interp, index);
  return image;
}

}  // namespace

int noFrame(Tcl_Interp *interp, int index) {
  char text[80];
  snprintf(text, sizeof text, "pixmap: no frame %d in the image", index);
  return failWith(interp, text, "PIXMAP", "GIF", "INDEX");
}

bool readSource(Tcl_Interp *interp, const ImageSource &source, SourceBytes *out) {
  *out = SourceBytes{};
  return source.data != nullptr ? readData(interp, source.data, out)
                                : readFile(interp, source.file, out);
}

void freeSource(SourceBytes *bytes) {
  if (bytes->stream != nullptr) fclose(bytes->stream);
  free(bytes->data);
  *bytes = SourceBytes{};
}

Image *loadImage(Tcl_Interp *interp, const ImageSource &source) {
  if (source.index < 0) {
    noFrame(interp, source.index);
    return nullptr;
  }
  Image *image = nullptr;
  withSource(interp, source, [&](gif::ByteSource &bytes, FILE *stream, const SourceBytes &file) {
    // The first frame is the first image, which its own reader gives.
    image = source.index == 0 ? decode(interp, bytes, stream, file)
                              : decodeFrame(interp, bytes, stream, source.index);
    return image != nullptr;
  });
  return image;
}

bool loadFrames(Tcl_Interp *interp, const ImageSource &source, LoadedFrames *frames) {
  *frames = LoadedFrames{};
  int capacity = 0;
  uint64_t keptBytes = 0;
  enum class Refusal { none, tooMany, noMemory } refusal = Refusal::none;
  auto keep = [&](const uint8_t *canvas, int width, int height, int delayMs) {
    // Counted at a byte a pixel before it is kept, at four once it proves
    // to keep RGBA.
    keptBytes += std::max(uint64_t(width) * uint64_t(height), kFrameBytes);
    if (keptBytes > kMaxFrameBytes) {
      refusal = Refusal::tooMany;
      return false;
    }
    if (frames->count == capacity) {
      capacity = capacity == 0 ? 16 : capacity * 2;
      auto *grown = static_cast<Image **>(realloc(frames->images, sizeof(Image *) * capacity));
      if (grown == nullptr) {
        refusal = Refusal::noMemory;
        return false;
      }
      frames->images = grown;
    }
    Image *image = newImage(canvas, width, height);
    if (image == nullptr) {
      refusal = Refusal::noMemory;
      return false;
    }
    image->delayMs = delayMs;
    frames->images[frames->count++] = image;
    if (image->pixels.bytesPerPixel == 4) keptBytes += 3 * uint64_t(width) * uint64_t(height);
    if (keptBytes > kMaxFrameBytes) {
      refusal = Refusal::tooMany;
      return false;
    }
    return true;
  };
  const bool read = withSource(interp, source, [&](gif::ByteSource &bytes, FILE *stream,
                                                   const SourceBytes &) {
    return eachFrame(interp, bytes, stream, &frames->loopCount, keep);
  });
  if (read && refusal == Refusal::none) return true;
  if (refusal == Refusal::tooMany) {
    char text[120];
    snprintf(text, sizeof text, "pixmap: too many frames to keep (more than %llu MiB in all)",
             static_cast<unsigned long long>(kMaxFrameBytes >> 20));
    failWith(interp, text, "PIXMAP", "GIF", "TOOLARGE");
  } else if (refusal == Refusal::noMemory) {
    failNoMemory(interp);
  }
  // Nothing built on any server yet: the images' one owner lets go.
  for (int i = 0; i < frames->count; ++i) dropOwner(frames->images[i]);
  free(frames->images);
  *frames = LoadedFrames{};
  return false;
}

void releaseFrames(LoadedFrames *frames, void (*releaseOwner)(Image *)) {
  for (int i = 0; i < frames->count; ++i) releaseOwner(frames->images[i]);
  free(frames->images);
  *frames = LoadedFrames{};
}

}  // namespace tkpixmap
