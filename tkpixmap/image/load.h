// load.h - reading an image for the pixmap command and the Tk image type:
// the bytes of a GIF file, decoded into a new loaded image.  Talks to Tcl
// (names, errors) but not to X.
#pragma once

#include <tcl.h>

#include "tkpixmap/image/image.h"

namespace tkpixmap {

// Where an image comes from.
struct ImageSource {
  Tcl_Obj *file = nullptr;  // a file name
};

// The first image of the source as a new image whose one owner is the
// caller.  Null on failure, with the command's message ("pixmap: fopen()
// error", "pixmap: ReadGIF() error", ...) and an error code a script can
// test (POSIX ..., PIXMAP GIF FORMAT, PIXMAP NOMEM) in interp.
Image *loadImage(Tcl_Interp *interp, const ImageSource &source);

}  // namespace tkpixmap
