// command.cc - the "pixmap" command: loads GIF files into records under
// generated handle names, answers size and colour-count queries, deletes
// images; and the registry of loaded images that the canvas item shares.

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/buildtrap.h"
#include "tkpixmap/record.h"
#include "tkpixmap/result.h"
#include "tkpixmap/xbuild.h"
#include "tkpixmap/xlib.h"

namespace tkpixmap {
namespace {

// Process-wide, shared by every interpreter of every thread that uses the
// command; both guarded by registryMutex (RegistryLock).  Names are never
// reused: the counter only moves forward, and only on success.  A deleted
// handle's key stays in the registry with no record (keyed arrays keep their
// keys), so a later lookup fails just as for a name never given out, until
// compactRegistry leaves such keys behind.
Arr *pixmapRegistry = nullptr;
int pixmapCount = 0;
int liveHandles = 0;     // keys with a record
int deletedHandles = 0;  // keys left without one by "pixmap delete"

// Recursive, so that a caller may hold RegistryLock across lookUpRecord and
// holdRecord, which take it themselves.  Made once (pthread_once).
pthread_mutex_t registryMutex;
pthread_once_t registryMutexMade = PTHREAD_ONCE_INIT;

void makeRegistryMutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&registryMutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

constexpr const char kUsage[] =
    "Usage: pixmap create giffile\n"
    "   or  pixmap name width\n"
    "   or  pixmap name height\n"
    "   or  pixmap name ncolors\n";

}  // namespace

void releaseServerResources(PixmapRecord *record) {
  const XlibFunctions *x11 = resolvedXlib();
  if (record->display == nullptr) return;
  // The build's error handler writes into the record until the server has
  // handled its requests.
  awaitBuild(record);
  // Freeing what the server never made (a refused build's ids) or cells of
  // a colour map that went with its window raises errors, which must not
  // reach Tk's default handler: it ends the process.  A confirmed build's
  // pixmaps and GC live until freed here, so freeing them needs no guard,
  // whose deletion costs a round trip every tenth time (Tk's clean-up).
  IgnoredErrors quiet(record->display, record->buildError != Success || record->cellCount > 0);
  if (record->mask != kNoPixmap) Tk_FreePixmap(record->display, record->mask);
  if (record->pixmap != kNoPixmap) Tk_FreePixmap(record->display, record->pixmap);
  if (x11 != nullptr && record->gc != nullptr) x11->FreeGC(record->display, record->gc);
  if (x11 != nullptr && record->cellCount > 0)
    x11->FreeColors(record->display, record->colormap, record->cells, record->cellCount, 0);
  // A large pixmap's memory and 8-bit cells (shared with every client of
  // the colour map) go back at once.  An icon's few freeing requests wait
  // for Xlib's next flush, as Tk's own do (it flushes whenever it waits for
  // events): a flush each made deleting 500 icons cost more than loading
  // and showing them.
  if (x11 != nullptr &&
      (record->cellCount > 0 || isLargePixmap(record->width, record->height, record->depth)))
    x11->Flush(record->display);
  free(record->cells);
  record->mask = kNoPixmap;
  record->pixmap = kNoPixmap;
  record->gc = nullptr;
  record->cells = nullptr;
  record->cellCount = 0;
}

namespace {

void freeRecord(PixmapRecord *record) {
  releasePixels(record);
  releaseServerResources(record);
  record->~PixmapRecord();
  free(record);
}

// Opens the file for reading as a C stream.  The open itself must not wait:
// a FIFO without a writer would block fopen forever, so the descriptor is
// opened non-blocking (such a FIFO then reads as empty) and made blocking
// again for the reads.  The name is Tcl's (UTF-8) and goes to the system
// in the system encoding, as Tcl's own file commands do; it is otherwise
// used as given (no tilde substitution).  Null with errno set on failure.
// A regular file of modest size is read whole with one read and handed out
// as a stream over that copy (*contents, to be freed after the stream is
// closed): a stdio stream over the descriptor costs four more system calls
// per file, which for small icons is most of the load.  Anything else (a
// FIFO, a device, a file whose read falls short or fails) is read through
// the descriptor, which reports its errors as before.
FILE *openForReading(const char *fileName, char **contents) {
  *contents = nullptr;
  Tcl_DString nativeName;
  Tcl_UtfToExternalDString(nullptr, fileName, -1, &nativeName);
  int fd = open(Tcl_DStringValue(&nativeName), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int openError = errno;
  Tcl_DStringFree(&nativeName);
  if (fd < 0) {
    errno = openError;
    return nullptr;
  }
  // Most files are small: one positioned read tries them whole before
  // anything else is asked.  Only a seekable file reads at an offset (a
  // FIFO, pipe or terminal refuses, and gives up nothing), and a read that
  // comes back short has seen the end of the file.
  constexpr size_t kFirstRead = 64 * 1024;
  auto *first = static_cast<char *>(malloc(kFirstRead));
  const ssize_t head = first != nullptr ? pread(fd, first, kFirstRead, 0) : -1;
  FILE *small = head > 0 && static_cast<size_t>(head) < kFirstRead
                    ? fmemopen(first, static_cast<size_t>(head), "r")
                    : nullptr;
  if (small != nullptr) {
    close(fd);
    *contents = first;
    return small;
  }
  free(first);
  constexpr off_t kWholeReadLimit = 16 * 1024 * 1024;
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
      status.st_size <= kWholeReadLimit) {
    const size_t size = static_cast<size_t>(status.st_size);
    auto *bytes = static_cast<char *>(malloc(size + 1));
    // One byte more than the file holds: a read that fills it means the
    // file grew, and the descriptor is read from the start instead.
    const ssize_t got = bytes != nullptr ? read(fd, bytes, size + 1) : -1;
    FILE *file = got == static_cast<ssize_t>(size) ? fmemopen(bytes, size, "r") : nullptr;
    if (file != nullptr) {
      close(fd);
      *contents = bytes;
      return file;
    }
    free(bytes);
    if (got > 0) lseek(fd, 0, SEEK_SET);
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE *file = fdopen(fd, "r");
  if (file == nullptr) {
    const int streamError = errno;
    close(fd);
    errno = streamError;
  }
  return file;
}

// Replaces the reader's message with the command's own, keeping the error
// code the reader gave (a failed read, say) or else calling it a format error.
void reportReadFailure(Tcl_Interp *interp) {
  Tcl_Obj *options = Tcl_GetReturnOptions(interp, TCL_ERROR);
  Tcl_IncrRefCount(options);
  Tcl_Obj *key = Tcl_NewStringObj("-errorcode", -1);
  Tcl_IncrRefCount(key);
  Tcl_Obj *code = nullptr;
  Tcl_DictObjGet(nullptr, options, key, &code);
  if (code != nullptr) Tcl_IncrRefCount(code);
  Tcl_DecrRefCount(key);
  Tcl_DecrRefCount(options);

  Tcl_ResetResult(interp);  // also drops the reader's error information
  if (code != nullptr && strcmp(Tcl_GetString(code), "NONE") != 0) {
    setMessage(interp, "pixmap: ReadGIF() error");
    Tcl_SetObjErrorCode(interp, code);
  } else {
    failWith(interp, "pixmap: ReadGIF() error", "PIXMAP", "GIF", "FORMAT");
  }
  if (code != nullptr) Tcl_DecrRefCount(code);
}

int loadImage(Tcl_Interp *interp, const char *fileName) {
  char *contents = nullptr;
  FILE *file = openForReading(fileName, &contents);
  if (file == nullptr) {
    Tcl_SetErrno(errno);
    Tcl_PosixError(interp);  // sets the error code POSIX ENOENT {...} and the like
    setMessage(interp, "pixmap: fopen() error");
    return TCL_ERROR;
  }

  int width = 0;  // 0 asks the reader for the whole logical screen
  int height = 0;
  PixelBlock block;
  memset(&block, 0, sizeof block);

  // Decoded without the lock: loads in several threads run side by side.
  int status = myReadGIF(interp, file, fileName, "gif", &block, 0, 0, &width, &height, 0, 0);
  fclose(file);
  free(contents);
  if (status == TCL_ERROR) {
    if (block.pixelPtr != nullptr) Tcl_Free(reinterpret_cast<char *>(block.pixelPtr));
    reportReadFailure(interp);
    return TCL_ERROR;
  }

  auto *record = static_cast<PixmapRecord *>(malloc(sizeof(PixmapRecord)));
  if (record == nullptr) {
    if (block.pixelPtr != nullptr) Tcl_Free(reinterpret_cast<char *>(block.pixelPtr));
    return failWith(interp, "pixmap: malloc() error", "PIXMAP", "NOMEM");
  }
  new (record) PixmapRecord{};
  record->width = width;
  record->height = height;
  record->block = block;

  char handle[TCL_INTEGER_SPACE + 8];
  {
    RegistryLock lock;
    snprintf(handle, sizeof handle, "pixmap%d", pixmapCount);
    setarr(pixmapRegistry, handle, record);
    ++pixmapCount;
    ++liveHandles;
  }
  Tcl_SetResult(interp, handle, TCL_VOLATILE);
  return TCL_OK;
}

int query(Tcl_Interp *interp, const char *handle, const char *what) {
  int value;
  {
    RegistryLock lock;
    const PixmapRecord *record = lookUpRecord(interp, handle);
    if (record == nullptr) return TCL_ERROR;
    if (strcmp(what, "width") == 0) {
      value = record->width;
    } else if (strcmp(what, "height") == 0) {
      value = record->height;
    } else if (strcmp(what, "ncolors") == 0) {
      value = record->ncolors;
    } else {
      return failWith(interp, "Unrecognized argument", "PIXMAP", "LOOKUP", "QUERY", what);
    }
  }
  char text[TCL_INTEGER_SPACE];
  snprintf(text, sizeof text, "%d", value);
  Tcl_SetResult(interp, text, TCL_VOLATILE);
  return TCL_OK;
}

// Keyed arrays never drop a key: once most keys name deleted images, the
// live ones move to a fresh array, so that a program that loads and deletes
// images for ever keeps a registry of at most about twice its live images.
// Called with the lock held.
void compactRegistry() {
  constexpr int kWorthCompacting = 1024;
  if (deletedHandles < kWorthCompacting || deletedHandles < liveHandles) return;
  Arr *fresh = newarr(nullptr);
  Tbl *keys = fresh != nullptr ? keysarr(pixmapRegistry) : nullptr;
  if (keys == nullptr) {
    freearr(fresh, nullptr);
    return;  // memory is short: the old array serves as well
  }
  for (intptr_t i = 0; i < keys->count; ++i) {
    const char *key = static_cast<const char *>(keys->entries[i]);
    void *record = getarr(pixmapRegistry, key);
    if (record != nullptr) setarr(fresh, key, record);
  }
  freetbl(keys, nullptr);  // its entries are the old array's keys
  freearr(pixmapRegistry, nullptr);
  pixmapRegistry = fresh;
  deletedHandles = 0;
}

// "pixmap delete name": the name goes at once and for good, and so do the
// pixels; what the server holds goes with the last item showing the image.
int deleteImage(Tcl_Interp *interp, const char *handle) {
  RegistryLock lock;
  PixmapRecord *record = lookUpRecord(interp, handle);
  if (record == nullptr) return TCL_ERROR;
  setarr(pixmapRegistry, handle, nullptr);
  --liveHandles;
  ++deletedHandles;
  compactRegistry();
  record->deleted = true;
  releasePixels(record);
  if (record->users == 0) freeRecord(record);
  return TCL_OK;
}

}  // namespace

void releasePixels(PixmapRecord *record) {
  if (record->block.pixelPtr == nullptr) return;
  Tcl_Free(reinterpret_cast<char *>(record->block.pixelPtr));
  record->block.pixelPtr = nullptr;
}

RegistryLock::RegistryLock() {
  pthread_once(&registryMutexMade, makeRegistryMutex);
  pthread_mutex_lock(&registryMutex);
}
RegistryLock::~RegistryLock() { pthread_mutex_unlock(&registryMutex); }

PixmapRecord *lookUpRecord(Tcl_Interp *interp, const char *handle) {
  RegistryLock lock;
  if (pixmapRegistry == nullptr) {
    Tcl_AppendResult(interp, "There are no pixmaps available", nullptr);
  } else {
    PixmapRecord *record = findRecord(handle);
    if (record != nullptr) return record;
    Tcl_AppendResult(interp, "Cannot find pixmap", nullptr);
  }
  Tcl_SetErrorCode(interp, "PIXMAP", "LOOKUP", "HANDLE", handle != nullptr ? handle : "",
                   nullptr);
  return nullptr;
}

void holdRecord(PixmapRecord *record) {
  RegistryLock lock;
  ++record->users;
}

void releaseRecord(PixmapRecord *record) {
  RegistryLock lock;
  if (--record->users == 0 && record->deleted) freeRecord(record);
}

Arr *registry() {
  RegistryLock lock;
  return pixmapRegistry;
}

PixmapRecord *findRecord(const char *handle) {
  RegistryLock lock;
  if (pixmapRegistry == nullptr || handle == nullptr) return nullptr;
  return static_cast<PixmapRecord *>(getarr(pixmapRegistry, handle));
}

}  // namespace tkpixmap

extern "C" int Tcl_pixmap(void *, Tcl_Interp *interp, int argc, const char **argv) {
  using namespace tkpixmap;
  if (argc != 3) {
    return failWith(interp, kUsage, "TCL", "WRONGARGS");
  }
  // Any well-formed call sets up the registry and the item type, before the
  // second word is looked at.
  {
    RegistryLock lock;
    if (pixmapRegistry == nullptr) pixmapRegistry = newarr(nullptr);
    registerItemTypeIfTk(interp);
  }

  if (strcmp(argv[1], "create") == 0) return loadImage(interp, argv[2]);
  if (strcmp(argv[1], "delete") == 0) return deleteImage(interp, argv[2]);
  return query(interp, argv[1], argv[2]);
}
