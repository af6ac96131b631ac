// load.h - reading an image for the pixmap command and the Tk image type:
// the bytes of a GIF file, decoded into a new loaded image.  Talks to Tcl
// (names, errors) but not to X.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <tcl.h>

#include "tkpixmap/image/image.h"

namespace tkpixmap {

// Where an image comes from: a file (native, or served by a Tcl file
// system such as zipfs), or inline data (base64 text as Tk's photo images
// take it, or the bytes of the file).
struct ImageSource {
  Tcl_Obj *file = nullptr;  // a file name, or
  Tcl_Obj *data = nullptr;  // the data
};

// The bytes of a source: malloc'd, or (`stream`) a stream for what is no
// regular file.  False with the command's message and error code set.
struct SourceBytes {
  uint8_t *data = nullptr;
  size_t size = 0;
  FILE *stream = nullptr;
};
bool readSource(Tcl_Interp *interp, const ImageSource &source, SourceBytes *out);
void freeSource(SourceBytes *bytes);

// The first image of the source as a new image whose one owner is the
// caller.  Null on failure, with the command's message ("pixmap: fopen()
// error", "pixmap: ReadGIF() error", ...) and an error code a script can
// test (POSIX ..., PIXMAP GIF FORMAT, PIXMAP NOMEM) in interp.
Image *loadImage(Tcl_Interp *interp, const ImageSource &source);

}  // namespace tkpixmap
