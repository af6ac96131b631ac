// build.h - builds the server side of a loaded image for one display,
// screen, visual and colour map: colour-map cells on 8-bit windows, packed
// pixels on TrueColor ones, the pixmap and the mask of the opaque pixels.
#pragma once

#include <tk.h>

#include "tkpixmap/image/pixels.h"
#include "tkpixmap/x11/instance.h"

namespace tkpixmap {

// What a window gives a build: where the pixmap goes and what it holds.
struct Target {
  Display *display;
  int screen;
  Window root;        // the screen's root window: pixmaps are made on it
  Visual *visual;
  Colormap colormap;
  int depth;
};

Target targetOf(Tk_Window tkwin);

// The colour map an instance must share with a window to serve it: the
// window's for colour-map visuals, None for TrueColor ones (their pixels
// mean the same in every colour map).
Colormap matchedColormap(const Target &target);

// Whether `client` can be served on `target` at all (an image of width x
// height); the item's refusals come in the order they always have.
bool canServe(const Target &target, Client client, int width, int height, Failure *failure);

// Builds into `instance` (whose display, screen, visual, colour map and
// depth are the target's): its pixmap, GC, mask, colour cells and inexact.
// False with `failure` set, and nothing left on the server; the image's
// pixels are never touched.  *colourCount is the image's distinct colours
// after an 8-bit build, 0 after a TrueColor one.
bool buildInstance(Instance *instance, const ImagePixels &pixels, const Target &target,
                   Client client, Failure *failure, int *colourCount);

}  // namespace tkpixmap
