// record.h - the loaded-image record shared by the pixmap command, the X
// pixmap builder and the canvas item, and the process-wide registry of them.
#pragma once

#include <X11/Xlib.h>

#include "baseutil.h"
#include "tkpixmap.h"

struct Tcl_Interp;

namespace tkpixmap {

// The value a pixmap field holds until the image is built.
inline constexpr Pixmap kNoPixmap = static_cast<Pixmap>(-1);

// One per loaded image.  The first nine fields keep their historical order:
// display, depth, width, height, ncolors, window, pixmap, gc, block.
struct PixmapRecord {
  Display *display = nullptr;                     // display of the canvas the image was built for
  int depth = -1;                                 // depth of that canvas window, -1 until built
  int width = 0;                                  // image size in pixels
  int height = 0;
  int ncolors = -1;                               // cells allocated by an 8-bit build, else -1
  Window window = static_cast<Window>(-1);        // window of that canvas, until built -1
  Pixmap pixmap = kNoPixmap;                      // the server pixmap
  GC gc = nullptr;                                // GC for copying from the pixmap
  PixelBlock block{};                             // decoded pixels; pixelPtr null once released

  // Where the pixmap was built: an item shows the image only on a canvas of
  // the same screen and visual (and, at 8 bits, the same colour map).
  Screen *screen = nullptr;
  Visual *visual = nullptr;
  Colormap colormap = 0;
  Pixmap mask = kNoPixmap;  // 1-bit mask of the opaque pixels; only for images with a transparent one
  int users = 0;            // items showing the image (guarded by RegistryLock)
  bool deleted = false;     // "pixmap delete" ran: freed when the last user lets go
  unsigned long *cells = nullptr;  // malloc'd colour-map cells an 8-bit build took, for XFreeColors
  int cellCount = 0;               // entries of cells
  // A small build is not waited for: its requests stay under an X error
  // handler until the server has handled them (see xbuild.h, buildtrap.h).
  unsigned long buildFirst = 0;    // serial of the build's first request
  unsigned long buildRequest = 0;  // serial of such a build's last request; 0 once confirmed
  int buildError = 0;              // first X error of the build (Success when none)
  PixmapRecord *nextUnconfirmed = nullptr;  // its display's next build awaiting the server
};

// Guards the registry, the handle counter and the item type's registration,
// and every record's users and deleted fields: several threads, each with its
// own interpreter, may load images at once.  The lock is recursive: findRecord,
// lookUpRecord, holdRecord and releaseRecord take it themselves, and a caller
// that holds it across lookUpRecord and holdRecord keeps a "pixmap delete" in
// another thread from freeing the record in between.
class RegistryLock {
 public:
  RegistryLock();
  ~RegistryLock();
  RegistryLock(const RegistryLock &) = delete;
  RegistryLock &operator=(const RegistryLock &) = delete;
};

// The registry of loaded images, keyed by handle name ("pixmap0", ...).
// Null until the command's first three-word call.  "pixmap delete" may
// replace the array (to shed deleted names): the pointer is good only while
// RegistryLock is held.
Arr *registry();

// Looks a handle up; null when there is no registry or no such handle.
PixmapRecord *findRecord(const char *handle);

// Looks a handle up for a command or an item: on failure null, with the
// result "There are no pixmaps available" or "Cannot find pixmap" and the
// error code PIXMAP LOOKUP ... set in interp.
PixmapRecord *lookUpRecord(Tcl_Interp *interp, const char *handle);

// Frees the decoded pixels, once: pixelPtr is null afterwards.
void releasePixels(PixmapRecord *record);

// An item starts or stops showing record.  When the last user lets go of a
// deleted image, its server pixmap, mask, GC and colour cells are freed
// along with the record (in the calling thread: the X requests go through
// record->display).  "pixmap delete" of an image nobody shows frees it at once.
void holdRecord(PixmapRecord *record);
void releaseRecord(PixmapRecord *record);

// Gives back the record's server pixmap, mask, GC and colour cells, waiting
// first for a build the server may not have handled yet.
void releaseServerResources(PixmapRecord *record);

// Ensures the canvas item type is registered once Tk is present in `interp`.
// Quietly does nothing (and retries on a later call) in an interpreter
// without Tk.
void registerItemTypeIfTk(Tcl_Interp *interp);

}  // namespace tkpixmap
