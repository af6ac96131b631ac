// record.h - the loaded-image record shared by the pixmap command, the X
// pixmap builder and the canvas item, and the process-wide registry of them.
#pragma once

#include <X11/Xlib.h>

#include "baseutil.h"
#include "tkpixmap.h"

struct Tcl_Interp;

namespace tkpixmap {

// One per loaded image; never freed (records live as long as the process).
// Field order is fixed: display, depth, width, height, ncolors, window,
// pixmap, gc, block.
struct PixmapRecord {
  Display *display;  // display of the canvas the image was first built for
  int depth;         // depth of that canvas window, -1 until built
  int width;         // image size in pixels
  int height;
  int ncolors;       // colours allocated by an 8-bit PseudoColor build, else -1
  Window window;     // window of that canvas, (Window)-1 until built
  Pixmap pixmap;     // the server pixmap, (Pixmap)-1 until built
  GC gc;             // GC for copying from the pixmap, null until built
  PixelBlock block;  // decoded pixels; pixelPtr is null once released
};

// The registry of loaded images, keyed by handle name ("pixmap0", ...).
// Null until the command's first three-word call.
Arr *registry();

// Looks a handle up; null when there is no registry or no such handle.
PixmapRecord *findRecord(const char *handle);

// Ensures the canvas item type is registered once Tk is present in `interp`.
// Quietly does nothing (and retries on a later call) in an interpreter
// without Tk.
void registerItemTypeIfTk(Tcl_Interp *interp);

}  // namespace tkpixmap
