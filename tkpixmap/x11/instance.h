// instance.h - what is built for a loaded image where it is shown: one
// server pixmap (with its GC, the mask of its opaque pixels and, at 8 bits,
// its colour cells) per display, screen, visual and, for colour-map
// visuals, colour map.  Every canvas item and Tk image widget there shares
// it.  An instance is made on the first show there and freed when its
// last user lets go of an image that has no owner left (or when the last
// owner goes while nobody shows it), always by the thread whose Tk opened
// the display, and at the latest as that display closes.
#pragma once

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/image/image.h"

namespace tkpixmap {

// Who asks, which decides what is refused.
enum class Client {
  // The canvas item: 8-bit PseudoColor with every colour its own cell (at
  // most 128), 5-6-5 at 16 bits, byte-wide components at 24 and 32 bits;
  // anything else is refused with a message.
  item,
  // A Tk image in a widget: any TrueColor visual; any colour-map visual of
  // at most 8 bits, taking the cells the map gives and the nearest of
  // those for the rest.  Never refused for colours.
  widget,
};

// The reasons a show is refused, each with its message and error code
// (instance.cc's one table).
enum class Refusal {
  none,
  noPixels,        // the image has no pixels to show
  noXlib,          // libX11 is not in the process
  depth,           // depth other than 8, 16, 24, 32 (item)
  tooLarge,        // a side above 32767
  pseudoVisual,    // 8 bits, not PseudoColor (item)
  trueVisual,      // 16, 24 or 32 bits, not TrueColor (item)
  visual,          // a visual no build serves (widget: DirectColor, a colour map not 8 bits deep)
  tooManyColours,  // more than 128 colours for an 8-bit item
  noColours,       // the colour map ran out (item)
  noMemory,
  createImage,     // XCreateImage failed
  masks,           // a 16-bit mask no layout serves (item); detail holds the text
  serverRefused,   // the server refused the build: Failure::xError says how
};

struct Failure {
  Refusal refusal = Refusal::none;
  int xError = 0;         // serverRefused: the X error code (BadAlloc, ...)
  char detail[400] = {};  // the message, where it is more than the table's words
};

// Sets the failure's message and error code as interp's result; TCL_ERROR.
int reportFailure(Tcl_Interp *interp, const Failure &failure);

struct Instance {
  Image *image;        // a reference held
  Display *display;    // null once the display has closed (nothing is left on the server)
  int screen;
  Visual *visual;
  Colormap colormap;   // None for visuals without a colour map to match
  int depth;
  Tcl_ThreadId thread;  // the thread whose Tk opened the display
  Pixmap pixmap;        // None once a build the server refused is found out
  Pixmap mask;          // 1-bit, 1 where opaque; None for an image without a transparent pixel
  GC gc;
  unsigned long *cells;  // malloc'd colour cells to give back; cellCount of them
  int cellCount;
  Refusal inexact;       // why some colours are the nearest (Refusal::none when exact)
  // Guarded by imageMutex():
  int users;
  Instance *next;           // the image's next instance
  Instance *nextOnDisplay;  // the display's next instance
  // A small build is not waited for: its requests stay under the
  // display's error trap until the server has handled them (trap.h).
  unsigned long buildFirst;    // serial of the build's first request
  unsigned long buildRequest;  // serial of its last request; 0 once confirmed
  int buildError;              // its first X error (Success when none)
  Instance *nextUnconfirmed;   // the display's next build awaiting the server
};

// The image's instance for `tkwin`'s display, screen, visual and colour map,
// made if there is none yet; the caller becomes one of its users.  Null,
// with `failure` filled in, when it cannot be shown there.
Instance *acquireInstance(Image *image, Tk_Window tkwin, Client client, Failure *failure);

// A user lets go (in the display's thread).
void releaseInstance(Instance *instance);

// Made before the pixmap is first read: waits, if it has not happened yet,
// for the server to handle a small build, and gives up a build it refused.
// False when there is no pixmap to read.
bool confirmInstance(Instance *instance);

// Copies part of the instance's pixmap into `drawable`, through the mask
// of its opaque pixels when `clipped` (the GC is shared: the clip is taken
// off again at once).
void copyFromInstance(const Instance *instance, Display *display, Drawable drawable, int sourceX,
                      int sourceY, int width, int height, int drawableX, int drawableY,
                      bool clipped);

// Gives back the instance's pixmap, mask and GC and `cells` of its colour
// map, under a handler that swallows the errors of freeing what the server
// never made when `guarded` (a refused build's ids, cells of a colour map
// gone with its window): Tk's default handler would end the process.
void giveBack(Instance *instance, unsigned long *cells, int cellCount, bool guarded);

// An owner of the image lets go (a handle deleted, a Tk image deleted).
// When it was the last, the pixels go and so does every instance nobody
// shows, each in its display's thread (another thread's are handed to it).
void releaseOwner(Image *image);

// Whether a pixmap of this size and depth is large enough that its requests
// are worth a round trip or a flush of their own: its build waits for the
// server's answer, and freeing it is sent at once.
bool isLargePixmap(int width, int height, int depth);

}  // namespace tkpixmap
