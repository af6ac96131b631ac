// command.cc - the "pixmap" command: loads GIF files into records under
// generated handle names and answers size and colour-count queries.

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include <tcl.h>

#include "tkpixmap/record.h"

namespace tkpixmap {
namespace {

// Process-wide, shared by every interpreter that uses the command.  Names are
// never reused: the counter only moves forward, and only on success.
Arr *pixmapRegistry = nullptr;
int pixmapCount = 0;

constexpr const char kUsage[] =
    "Usage: pixmap create giffile\n"
    "   or  pixmap name width\n"
    "   or  pixmap name height\n"
    "   or  pixmap name ncolors\n";

// Tcl_SetResult with a static text.
void setResult(Tcl_Interp *interp, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_STATIC);
}

// Opens the file for reading as a C stream.  The open itself must not wait:
// a FIFO without a writer would block fopen forever, so the descriptor is
// opened non-blocking (such a FIFO then reads as empty) and made blocking
// again for the reads.
FILE *openForReading(const char *fileName) {
  int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE *file = fdopen(fd, "r");
  if (file == nullptr) close(fd);
  return file;
}

int loadImage(Tcl_Interp *interp, const char *fileName) {
  FILE *file = openForReading(fileName);
  if (file == nullptr) {
    setResult(interp, "pixmap: fopen() error");
    return TCL_ERROR;
  }

  int width = 0;  // 0 asks the reader for the whole logical screen
  int height = 0;
  PixelBlock block;
  memset(&block, 0, sizeof block);

  int status = myReadGIF(interp, file, fileName, "gif", &block, 0, 0, &width, &height, 0, 0);
  fclose(file);
  if (status == TCL_ERROR) {
    if (block.pixelPtr != nullptr) Tcl_Free(reinterpret_cast<char *>(block.pixelPtr));
    setResult(interp, "pixmap: ReadGIF() error");
    return TCL_ERROR;
  }

  auto *record = static_cast<PixmapRecord *>(malloc(sizeof(PixmapRecord)));
  if (record == nullptr) {
    if (block.pixelPtr != nullptr) Tcl_Free(reinterpret_cast<char *>(block.pixelPtr));
    setResult(interp, "pixmap: malloc() error");
    return TCL_ERROR;
  }
  new (record) PixmapRecord{};
  record->width = width;
  record->height = height;
  record->block = block;

  char handle[TCL_INTEGER_SPACE + 8];
  snprintf(handle, sizeof handle, "pixmap%d", pixmapCount);
  setarr(pixmapRegistry, handle, record);
  ++pixmapCount;

  Tcl_SetResult(interp, handle, TCL_VOLATILE);
  return TCL_OK;
}

int query(Tcl_Interp *interp, const char *handle, const char *what) {
  if (pixmapRegistry == nullptr) {
    Tcl_AppendResult(interp, "There are no pixmaps available", nullptr);
    return TCL_ERROR;
  }
  auto *record = static_cast<PixmapRecord *>(getarr(pixmapRegistry, handle));
  if (record == nullptr) {
    Tcl_AppendResult(interp, "Cannot find pixmap", nullptr);
    return TCL_ERROR;
  }
  int value;
  if (strcmp(what, "width") == 0) {
    value = record->width;
  } else if (strcmp(what, "height") == 0) {
    value = record->height;
  } else if (strcmp(what, "ncolors") == 0) {
    value = record->ncolors;
  } else {
    setResult(interp, "Unrecognized argument");
    return TCL_ERROR;
  }
  char text[TCL_INTEGER_SPACE];
  snprintf(text, sizeof text, "%d", value);
  Tcl_SetResult(interp, text, TCL_VOLATILE);
  return TCL_OK;
}

pthread_mutex_t registryMutex = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

RegistryLock::RegistryLock() { pthread_mutex_lock(&registryMutex); }
RegistryLock::~RegistryLock() { pthread_mutex_unlock(&registryMutex); }

PixmapRecord *lookUpRecord(Tcl_Interp *interp, const char *handle) {
  if (registry() == nullptr) {
    Tcl_AppendResult(interp, "There are no pixmaps available", nullptr);
    return nullptr;
  }
  PixmapRecord *record = findRecord(handle);
  if (record == nullptr) Tcl_AppendResult(interp, "Cannot find pixmap", nullptr);
  return record;
}

void holdRecord(PixmapRecord *record) { ++record->users; }

void releaseRecord(PixmapRecord *record) { --record->users; }

Arr *registry() { return pixmapRegistry; }

PixmapRecord *findRecord(const char *handle) {
  if (pixmapRegistry == nullptr || handle == nullptr) return nullptr;
  return static_cast<PixmapRecord *>(getarr(pixmapRegistry, handle));
}

}  // namespace tkpixmap

extern "C" int Tcl_pixmap(void *, Tcl_Interp *interp, int argc, const char **argv) {
  using namespace tkpixmap;
  if (argc != 3) {
    setResult(interp, kUsage);
    return TCL_ERROR;
  }
  // Any well-formed call sets up the registry and the item type, before the
  // second word is looked at.
  if (pixmapRegistry == nullptr) pixmapRegistry = newarr(nullptr);
  registerItemTypeIfTk(interp);

  if (strcmp(argv[1], "create") == 0) return loadImage(interp, argv[2]);
  return query(interp, argv[1], argv[2]);
}
