// xbuild.cc - create_pixmap: the X side of turning a loaded image into a
// server pixmap.  The pixel arithmetic lives in pack.cc; this file asks the
// window what it is, allocates colours, and moves the result to the server.

#include "tkpixmap/xbuild.h"

#include <stdlib.h>

#include "byteorder.h"

#include "tkpixmap/colours.h"
#include "tkpixmap/pack.h"
#include "tkpixmap/xlib.h"

namespace tkpixmap {
namespace {

// The canvas window an image is built for.
struct Target {
  Display *display;
  Window window;
  int depth;
  Visual *visual;
  Colormap colormap;
};

void setResult(Tcl_Interp *interp, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_STATIC);
}

void releasePixels(PixmapRecord *record) {
  if (record->block.pixelPtr == nullptr) return;
  Tcl_Free(reinterpret_cast<char *>(record->block.pixelPtr));
  record->block.pixelPtr = nullptr;
}

pack::PixelSource sourceOf(const PixmapRecord *record) {
  return {record->block.pixelPtr, record->width, record->height, record->block.pitch,
          record->block.pixelSize};
}

// Xlib works out bytes_per_line itself; a server whose image rows are wider
// than the packed rows (say 3-byte pixels at depth 24, or more than 8 bits
// per pixel at depth 8) would make XPutImage read past the buffer.
bool rowsFit(const XImage *image, int height, size_t bufferBytes) {
  return image->bytes_per_line >= 0 &&
         static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height) <= bufferBytes;
}

// 8-bit PseudoColor: every distinct colour gets a colour-map cell and the
// image becomes one cell index per pixel.  Null on failure, message set.
XImage *buildPseudoColor(PixmapRecord *record, Tcl_Interp *interp, const Target &target,
                         const XlibFunctions &x11, int *ncolors) {
  if (target.visual->c_class != PseudoColor) {
    releasePixels(record);
    setResult(interp, "pixmap: only support 8-bit PseudoColor visual");
    return nullptr;
  }
  const pack::PixelSource source = sourceOf(record);
  pack::ColourTable table;
  // With the image data in hand first, one pass over the pixels both counts
  // the colours and numbers each pixel, and the cells are filled in after
  // allocation.  Without it the colours are counted alone and the data is
  // asked for again after allocation, so that failures come in their usual
  // order (too many colours, no cells, then no memory).
  size_t bytes = 0;
  char *data = nullptr;
  if (pack::imageBytes(record->width, record->height, 1, &bytes))
    data = static_cast<char *>(malloc(bytes));
  const int count = data != nullptr
                        ? pack::indexColours(source, table, reinterpret_cast<unsigned char *>(data))
                        : pack::countColours(source, table);
  if (count > pack::kMaxColours) {
    free(data);
    releasePixels(record);
    setResult(interp, "pixmap: too many colors");
    return nullptr;
  }

  int order[pack::kMaxColours];
  pack::allocationOrder(table, order);
  XColor requests[pack::kMaxColours];
  for (int i = 0; i < count; ++i) {
    const uint32_t colour = table.colours[order[i]];
    requests[i] = XColor{};
    requests[i].red = pack::colourRequest(colour >> 16);
    requests[i].green = pack::colourRequest(colour >> 8 & 0xff);
    requests[i].blue = pack::colourRequest(colour & 0xff);
  }
  unsigned long pixels[pack::kMaxColours];
  const colours::PipelineCalls *pipeline = colours::pipelineCalls();
  const int taken =
      pipeline != nullptr
          ? colours::allocatePipelined(*pipeline, target.display, target.colormap, requests,
                                       count, pixels)
          : colours::allocateInTurn(x11.AllocColor, target.display, target.colormap, requests,
                                    count, pixels);
  // Cells already taken for this image stay taken: colours are never freed.
  if (taken < count) {
    free(data);
    releasePixels(record);
    setResult(interp, "pixmap: ran out of color allocations");
    return nullptr;
  }
  for (int i = 0; i < count; ++i) table.pixels[order[i]] = pixels[i];

  if (data != nullptr) {
    pack::indicesToPixels(table, reinterpret_cast<unsigned char *>(data), bytes);
  } else {
    if (pack::imageBytes(record->width, record->height, 1, &bytes))
      data = static_cast<char *>(malloc(bytes));
    if (data == nullptr) {
      releasePixels(record);
      setResult(interp, "pixmap: malloc() error");
      return nullptr;
    }
    pack::mapToPixels(source, table, reinterpret_cast<unsigned char *>(data));
  }
  releasePixels(record);

  XImage *image = x11.CreateImage(target.display, target.visual, 8, ZPixmap, 0, data,
                                  static_cast<unsigned>(record->width),
                                  static_cast<unsigned>(record->height), 8, 0);
  if (image == nullptr || !rowsFit(image, record->height, bytes)) {
    if (image != nullptr) {
      XDestroyImage(image);  // frees data too
    } else {
      free(data);
    }
    setResult(interp, "pixmap: XCreateImage() error");
    return nullptr;
  }
  *ncolors = count;
  return image;
}

void setMaskFault(Tcl_Interp *interp, pack::MaskFault fault, const XImage *image) {
  const pack::TrueColorMasks masks{image->red_mask, image->green_mask, image->blue_mask};
  const pack::ImageFormat format{image->byte_order, image->bitmap_unit, image->bitmap_bit_order,
                                 image->bitmap_pad, image->depth, image->bytes_per_line,
                                 image->bits_per_pixel};
  char text[400];
  pack::describeMaskFault(fault, masks, format, text, sizeof text);
  Tcl_SetResult(interp, text, TCL_VOLATILE);
}

// 16-, 24- and 32-bit TrueColor: each pixel packed by the image's masks and
// byte order.  Null on failure, message set.
XImage *buildTrueColor(PixmapRecord *record, Tcl_Interp *interp, const Target &target,
                       const XlibFunctions &x11) {
  if (target.visual->c_class != TrueColor) {
    releasePixels(record);
    setResult(interp, "pixmap: only support 16/24/32-bit TrueColor visual");
    return nullptr;
  }
  const int bytesPerPixel = target.depth == 16 ? 2 : 4;
  size_t bytes = 0;
  char *data = nullptr;
  if (pack::imageBytes(record->width, record->height, bytesPerPixel, &bytes))
    data = static_cast<char *>(malloc(bytes));
  if (data == nullptr) {
    releasePixels(record);
    setResult(interp, "pixmap: malloc() error");
    return nullptr;
  }
  XImage *image = x11.CreateImage(target.display, target.visual,
                                  static_cast<unsigned>(target.depth), ZPixmap, 0, data,
                                  static_cast<unsigned>(record->width),
                                  static_cast<unsigned>(record->height), bytesPerPixel * 8, 0);
  if (image == nullptr || !rowsFit(image, record->height, bytes)) {
    if (image != nullptr) {
      XDestroyImage(image);
    } else {
      free(data);
    }
    setResult(interp, "pixmap: XCreateImage() error");
    return nullptr;
  }

  const pack::TrueColorMasks masks{image->red_mask, image->green_mask, image->blue_mask};
  const bool msbFirst = image->byte_order == MSBFirst;
  pack::TrueColorLayout layout;
  if (target.depth == 16) {
    pack::MaskFault fault = pack::resolveLayout16(masks, msbFirst, layout);
    // Judged at the first pixel: an image without pixels is never refused.
    if (fault != pack::MaskFault::none && record->width > 0 && record->height > 0) {
      setMaskFault(interp, fault, image);
      XDestroyImage(image);
      return nullptr;  // pixels kept
    }
  } else {
    pack::resolveLayout32(masks, msbFirst, swap4, layout);
  }
  pack::packTrueColor(sourceOf(record), layout, reinterpret_cast<unsigned char *>(data));
  releasePixels(record);
  return image;
}

}  // namespace

int create_pixmap(PixmapRecord *record, Tcl_Interp *interp, Tk_Canvas canvas) {
  if (record->block.pixelPtr == nullptr) return TCL_OK;
  if (record->width <= 0 || record->height <= 0) {
    // X has no empty pixmaps; such an image is kept as one without pixels,
    // which the canvas item refuses to show.
    releasePixels(record);
    return TCL_OK;
  }

  Tk_Window tkwin = Tk_CanvasTkwin(canvas);
  if (tkwin == nullptr) {
    setResult(interp, "create_pixmap: Cannot find canvas window");
    return TCL_ERROR;
  }
  const XlibFunctions *x11 = xlib(interp);
  if (x11 == nullptr) return TCL_ERROR;  // message set; pixels kept

  Tk_MakeWindowExist(tkwin);
  const Target target{Tk_Display(tkwin), Tk_WindowId(tkwin), Tk_Depth(tkwin), Tk_Visual(tkwin),
                      Tk_Colormap(tkwin)};
  record->display = target.display;
  record->window = target.window;
  record->depth = target.depth;

  XImage *image = nullptr;
  int ncolors = 0;  // a TrueColor build allocates no colour-map cells
  switch (target.depth) {
    case 8:
      image = buildPseudoColor(record, interp, target, *x11, &ncolors);
      break;
    case 16:
    case 24:
    case 32:
      image = buildTrueColor(record, interp, target, *x11);
      break;
    default:
      setResult(interp, "create_pixmap: unsupported window depth");
      return TCL_ERROR;  // pixels kept: another canvas may still serve
  }
  if (image == nullptr) return TCL_ERROR;

  Pixmap pixmap = Tk_GetPixmap(target.display, target.window, record->width, record->height,
                               target.depth);
  if (pixmap == 0) {
    XDestroyImage(image);
    releasePixels(record);
    setResult(interp, "pixmap: Tk_GetPixmap() error");
    return TCL_ERROR;
  }
  // Items copy from the pixmap with this GC at every redraw.  A copy never
  // needs to know about unavailable source areas (the pixmap is whole), so
  // the server is spared a NoExpose event back to the client per copy.
  XGCValues values{};
  values.graphics_exposures = False;
  GC gc = x11->CreateGC(target.display, pixmap, GCGraphicsExposures, &values);
  x11->PutImage(target.display, pixmap, gc, image, 0, 0, 0, 0,
                static_cast<unsigned>(record->width), static_cast<unsigned>(record->height));
  x11->Flush(target.display);
  XDestroyImage(image);

  record->pixmap = pixmap;
  record->ncolors = ncolors;
  record->gc = gc;
  releasePixels(record);
  return TCL_OK;
}

}  // namespace tkpixmap
