// xbuild.h - builds the X server pixmap of a loaded image for the canvas
// window that first shows it: colour-map indices on an 8-bit PseudoColor
// window, packed pixels on a 16-, 24- or 32-bit TrueColor one.
#pragma once

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/record.h"

namespace tkpixmap {

// Builds record's pixmap for `canvas` the first time it is called for that
// record, then releases the decoded pixels; any later call (no pixels left)
// returns TCL_OK at once.  On TCL_ERROR the interpreter result holds the
// reason.  Records whose build failed after the pixels were released come
// back from later calls with TCL_OK and no pixmap: callers check
// record->pixmap before they draw.
int buildPixmap(PixmapRecord *record, Tcl_Interp *interp, Tk_Canvas canvas);

// A small build is not waited for: the server's refusal of one of its
// requests (say BadAlloc) is caught and noted in the record, and this call,
// made before the pixmap is first read, waits for the server if it has not
// handled the build yet (one round trip confirms every earlier build too).
// False when there is no pixmap to read, a refused build's server resources
// then being released.
bool confirmBuild(PixmapRecord *record);

// Whether a pixmap of this size and depth is large enough that its requests
// are worth a round trip or a flush of their own: its build waits for the
// server's answer, and freeing it is sent at once.
bool isLargePixmap(int width, int height, int depth);

}  // namespace tkpixmap
