// postscript.h - the PostScript of a shown image, for the canvas's
// postscript command, read back from the server pixmap as it is shown.
#pragma once

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/x11/instance.h"

namespace tkpixmap {

// Appends to interp's result the PostScript that paints the instance's image with
// its top-left corner at canvas point (left, top).  The colours follow the
// canvas's -colormode when the PostScript runs (the prolog's CL: colour,
// grey or black and white).  TCL_ERROR, with a message and the error code
// PIXMAP ITEM READBACK, when the server does not give the image back.
int appendImagePostscript(Tcl_Interp *interp, Tk_Canvas canvas, const Instance *instance,
                          int left, int top);

}  // namespace tkpixmap
