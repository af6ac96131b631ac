// command.h - what the pixmap command shares with the Tk face (the canvas
// item and the Tk image type): looking a handle up, and registering the
// Tk types.
#pragma once

#include <tcl.h>

#include "tkpixmap/image/image.h"

namespace tkpixmap {

// The image a handle names, for a command, an item or a Tk image: null with
// "Cannot find pixmap" and the error code PIXMAP LOOKUP HANDLE name
// appended in interp.  Hold imageMutex() across this and taking hold of the
// image, so that a "pixmap delete" in another thread cannot free it between.
Image *lookUpImage(Tcl_Interp *interp, const char *handle);

// The command procedure behind "pixmap" (the exported Tcl_pixmap is its
// string-argument form).
int pixmapObjCmd(void *, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]);

// Registers the canvas item type (once per process) and the Tk image type
// (once per thread: Tk keeps image types per thread) when Tk is present
// in `interp`; quietly does nothing otherwise, to be tried again later.
void registerTkTypesIfTk(Tcl_Interp *interp);

// The two halves of that (item.cc, imagetype.cc), called with Tk's stubs
// ready.
void registerItemType();
void registerImageType();

}  // namespace tkpixmap
