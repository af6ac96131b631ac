// registry.h - the handle names the pixmap command gives out ("pixmap0",
// "pixmap1", ...), process-wide, shared by every interpreter of every
// thread.  Names are never reused.  Free of Tcl and X; guarded by imageMutex().
#pragma once

#include <stddef.h>

#include "tkpixmap/image/image.h"

namespace tkpixmap {

// Room for any handle name and its terminator.
inline constexpr size_t kHandleNameSize = 32;

// Gives `image` the next name (written to `name`) and the registry an
// owner's hold on it (the caller's first hold becomes the name's).  False
// when the registry itself cannot be made; the image is then the caller's
// as before.  (A name that cannot be stored ends the process, as every
// keyed array of the base library does when memory runs out.)
bool registerImage(Image *image, char (&name)[kHandleNameSize]);

// The image a name stands for, or null.  Good while imageMutex() is held.
Image *findImage(const char *name);

// Takes the name out of the registry for good and hands its hold on the
// image to the caller; null when there is no such name.
Image *unregisterImage(const char *name);

}  // namespace tkpixmap
