// colourmap.h - the pixels of a build for a colour-map visual of at most 8
// bits: each colour of the image gets a cell of the window's colour map,
// and each pixel becomes its cell's number.
#pragma once

#include "tkpixmap/x11/instance.h"
#include "tkpixmap/x11/pack.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {

struct MappedPixels {
  unsigned char *data = nullptr;  // malloc'd, one byte a pixel, rows back to back
  unsigned long cells[256];       // the cells taken, to be given back with the image
  int cellCount = 0;
  int colourCount = 0;            // the image's distinct colours (at most 129 counted)
  Refusal inexact = Refusal::none;  // why some colours are only the nearest the map had
};

// For Client::item every distinct colour must get a cell of its own, at
// most 128 of them, asked for in the order the colours' texts sort;
// anything less refuses the build (with the cells already taken given
// back).  For Client::widget the 128 most used colours are asked for, and
// every colour without a cell of its own takes the nearest one that was
// taken (or, when the map gave none, the nearest cell it holds).  False
// with `failure` set and nothing held.
bool mapColours(const pack::PixelSource &source, Display *display, Visual *visual,
                Colormap colormap, Client client, const XlibFunctions &x11, MappedPixels *out,
                Failure *failure);

}  // namespace tkpixmap
