// myreadgif.cc - the Tcl edge of the GIF reader: runs the reader on a C
// stream and reports its outcome in the interpreter.

#include <errno.h>
#include <stdint.h>
#include <stdio.h>

#include <tcl.h>

#include "tkpixmap.h"
#include "tkpixmap/gif/reader.h"
#include "tkpixmap/result.h"

namespace {

using tkpixmap::setMessage;
using tkpixmap::gif::ReadStatus;

void *attemptAlloc(size_t size) {
  // Tcl_AttemptAlloc takes an unsigned int: anything larger cannot be had.
  if (size > 0xFFFFFFFFu) return nullptr;
  return Tcl_AttemptAlloc(static_cast<unsigned int>(size));
}

void release(void *memory) { Tcl_Free(static_cast<char *>(memory)); }

// Puts the reader's failure into the interpreter: some messages replace the
// result, others are appended to it.
void report(Tcl_Interp *interp, ReadStatus status, const char *path, int errorNumber,
            const tkpixmap::gif::ReadRequest &request) {
  switch (status) {
    case ReadStatus::badHeader:
      Tcl_AppendResult(interp, "couldn't read GIF header from file \"", path, "\"", nullptr);
      break;
    case ReadStatus::badDimensions:
      Tcl_AppendResult(interp, "GIF image file \"", path, "\" has dimension(s) <= 0", nullptr);
      break;
    case ReadStatus::badColorMap:
      Tcl_AppendResult(interp, "error reading color map", nullptr);
      break;
    case ReadStatus::missingExtensionLabel:
      setMessage(interp, "error reading extension function code in GIF image");
      break;
    case ReadStatus::badExtension:
      setMessage(interp, "error reading extension in GIF image");
      break;
    case ReadStatus::badImageDescriptor:
      setMessage(interp, "couldn't read left/top/width/height in GIF image");
      break;
    case ReadStatus::missingCodeSize:
      Tcl_SetErrno(errorNumber);
      Tcl_AppendResult(interp, "error reading GIF image: ", Tcl_PosixError(interp), nullptr);
      break;
    case ReadStatus::badCodeSize:
      setMessage(interp, "format error in GIF image");
      break;
    case ReadStatus::tooLarge: {
      char size[64];
      snprintf(size, sizeof size, "%d x %d", request.width, request.height);
      Tcl_AppendResult(interp, "GIF image file \"", path, "\" is too large (", size,
                       " pixels)", nullptr);
      break;
    }
    case ReadStatus::noMemory:
      Tcl_AppendResult(interp, "not enough memory for GIF image file \"", path, "\"", nullptr);
      break;
    case ReadStatus::badOrigin:
      setMessage(interp, "negative origin requested from GIF image");
      break;
    case ReadStatus::ok:
    case ReadStatus::okNoPixels:
      break;
  }
}

void fillBlock(PixelBlock *block, uint8_t *pixels, const tkpixmap::gif::ReadRequest &request) {
  block->pixelPtr = pixels;
  block->width = request.width;
  block->height = request.height;
  block->pixelSize = 4;
  block->pitch = 4 * request.width;
  block->offset[0] = 0;  // red, green, blue; alpha is byte 3
  block->offset[1] = 1;
  block->offset[2] = 2;
}

}  // namespace

extern "C" int myReadGIF(Tcl_Interp *interp, FILE *file, const char *path, const char *,
                         PixelBlock *block, int, int, int *width, int *height, int originX,
                         int originY) {
  using namespace tkpixmap::gif;
  ReadRequest request;
  request.originX = originX;
  request.originY = originY;
  request.width = *width;
  request.height = *height;

  ReadState state;
  ReadResult result;
  flockfile(file);
  ByteSource source(file);
  errno = 0;
  ReadStatus status = readFirstImage(source, request, attemptAlloc, release, state, result);
  int errorNumber = errno;
  funlockfile(file);

  // The clip rectangle's size is reported back whenever the reader got that far.
  if (status == ReadStatus::ok || status == ReadStatus::okNoPixels ||
      status == ReadStatus::tooLarge) {
    *width = request.width;
    *height = request.height;
  }
  if (status == ReadStatus::okNoPixels) return TCL_OK;
  if (status != ReadStatus::ok) {
    report(interp, status, path, errorNumber, request);
    // A failure after the buffer was made leaves the block describing the
    // clip rectangle, with no pixels; earlier failures leave the block untouched.
    if (result.bufferAllocated) fillBlock(block, nullptr, request);
    return TCL_ERROR;
  }
  fillBlock(block, result.pixels, request);
  return TCL_OK;
}
