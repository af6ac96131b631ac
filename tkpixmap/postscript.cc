// postscript.cc - the PostScript of a shown image: read back from its server
// pixmap, written as hexadecimal RGB rows for colorimage, with a grey (or
// black and white) reading of the same rows for the other colour modes.

#include "tkpixmap/postscript.h"

#include <stdio.h>
#include <string.h>

#include "tkpixmap/result.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {
namespace {

// 0..255 from the bits of `pixel` under a TrueColor mask, scaled so that a
// full field gives 255.
unsigned channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  const unsigned long full = mask >> shift;
  const unsigned long value = (pixel & mask) >> shift;
  return static_cast<unsigned>((value * 255 + full / 2) / full);
}

// The colour of every pixel value the image can hold: colour-map cells of an
// 8-bit build, or the visual's masks of a TrueColor one.
struct PixelColours {
  const Visual *visual;
  bool mapped;
  XColor cells[256];

  void rgb(unsigned long pixel, unsigned char out[3]) const {
    if (mapped) {
      const XColor &cell = cells[pixel & 0xff];
      out[0] = static_cast<unsigned char>(cell.red >> 8);
      out[1] = static_cast<unsigned char>(cell.green >> 8);
      out[2] = static_cast<unsigned char>(cell.blue >> 8);
      return;
    }
    out[0] = static_cast<unsigned char>(channel(pixel, visual->red_mask));
    out[1] = static_cast<unsigned char>(channel(pixel, visual->green_mask));
    out[2] = static_cast<unsigned char>(channel(pixel, visual->blue_mask));
  }
};

// Under colour mode "color" (CL 2) the rows go to colorimage as they are;
// otherwise each row is turned into grey levels (and, for CL 0, into black
// or white at half grey, as the canvas's own AdjustColor does).
constexpr const char kPaint[] =
    "/pixmapRow %d string def /pixmapGrey %d string def\n"
    "%d %d 8 [%d 0 0 %d 0 %d]\n"
    "CL 2 ge {{currentfile pixmapRow readhexstring pop} false 3 colorimage} {{\n"
    "  currentfile pixmapRow readhexstring pop pop\n"
    "  0 1 %d {dup 3 mul pixmapRow exch 3 getinterval\n"
    "    dup 0 get .30 mul exch dup 1 get .59 mul exch 2 get .11 mul add add\n"
    "    CL 0 eq {127.5 lt {0} {255} ifelse} if\n"
    "    round cvi pixmapGrey 3 1 roll put} for pixmapGrey} image} ifelse\n";

}  // namespace

int appendImagePostscript(Tcl_Interp *interp, Tk_Canvas canvas, const Instance *instance,
                          int left, int top) {
  const XlibFunctions *x11 = xlib(interp);
  if (x11 == nullptr) return TCL_ERROR;
  const int width = instance->image->width;
  const int height = instance->image->height;
  XImage *image = x11->GetImage(instance->display, instance->pixmap, 0, 0,
                                static_cast<unsigned>(width), static_cast<unsigned>(height),
                                AllPlanes, ZPixmap);
  if (image == nullptr) {
    return failWith(interp, "pixmap: cannot read the image back from the server", "PIXMAP",
                    "ITEM", "READBACK");
  }

  PixelColours colours{};
  colours.visual = instance->visual;
  colours.mapped = instance->visual->c_class == PseudoColor;
  if (colours.mapped) {
    const int cells = instance->visual->map_entries < 256 ? instance->visual->map_entries : 256;
    for (int i = 0; i < cells; ++i) colours.cells[i].pixel = static_cast<unsigned long>(i);
    x11->QueryColors(instance->display, instance->colormap, colours.cells, cells);
  }

  Tcl_Obj *ps = Tcl_NewObj();
  Tcl_IncrRefCount(ps);
  char text[sizeof kPaint + 160];
  snprintf(text, sizeof text, "gsave\n%d %.15g translate %d %d scale\n", left,
           Tk_CanvasPsY(canvas, static_cast<double>(top + height)), width, height);
  Tcl_AppendToObj(ps, text, -1);
  snprintf(text, sizeof text, kPaint, width * 3, width, width, height, width, -height, height,
           width - 1);
  Tcl_AppendToObj(ps, text, -1);

  // Two hexadecimal digits per byte, three bytes per pixel; lines are cut
  // at 60 pixels, which PostScript's hex reader skips over.
  static const char kHex[] = "0123456789abcdef";
  char line[60 * 6 + 2];
  for (int y = 0; y < height; ++y) {
    int used = 0;
    for (int x = 0; x < width; ++x) {
      unsigned char rgb[3];
      colours.rgb(XGetPixel(image, x, y), rgb);
      for (unsigned char byte : rgb) {
        line[used++] = kHex[byte >> 4];
        line[used++] = kHex[byte & 15];
      }
      if (used == 60 * 6 || x == width - 1) {
        line[used++] = '\n';
        Tcl_AppendToObj(ps, line, used);
        used = 0;
      }
    }
  }
  Tcl_AppendToObj(ps, "grestore\n", -1);
  XDestroyImage(image);

  Tcl_Obj *result = Tcl_GetObjResult(interp);
  if (Tcl_IsShared(result)) {
    result = Tcl_DuplicateObj(result);
    Tcl_SetObjResult(interp, result);
  }
  Tcl_AppendObjToObj(result, ps);
  Tcl_DecrRefCount(ps);
  return TCL_OK;
}

}  // namespace tkpixmap
