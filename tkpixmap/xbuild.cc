// xbuild.cc - buildPixmap: the X side of turning a loaded image into a
// server pixmap.  The pixel arithmetic lives in pack.cc; this file asks the
// window what it is, allocates colours, and moves the result to the server.

#include "tkpixmap/xbuild.h"

#include <stdlib.h>

#include "byteorder.h"

#include "tkpixmap/buildtrap.h"
#include "tkpixmap/colours.h"
#include "tkpixmap/pack.h"
#include "tkpixmap/result.h"
#include "tkpixmap/shmring.h"
#include "tkpixmap/xlib.h"

namespace tkpixmap {
namespace {

// Servers refuse pixmap sides beyond this (the protocol's signed 16 bits).
constexpr int kMaxPixmapSide = 32767;

// The canvas window an image is built for.
struct Target {
  Display *display;
  Window window;
  int depth;
  Visual *visual;
  Colormap colormap;
};

// A failed build's message and its error code: PIXMAP X <what>, or
// PIXMAP NOMEM when `what` is null (memory ran out).
void setFailure(Tcl_Interp *interp, const char *text, const char *what) {
  if (what == nullptr) {
    failWith(interp, text, "PIXMAP", "NOMEM");
  } else {
    failWith(interp, text, "PIXMAP", "X", what);
  }
}

// The colour-map cells an 8-bit build took, so that they can be given back
// if the build fails later and when the image is freed.
struct Cells {
  unsigned long pixels[pack::kMaxColours];
  int count = 0;
  void taken(const unsigned long *from, int n) {
    for (int i = 0; i < n; ++i) pixels[i] = from[i];
    count = n;
  }
};

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

// Hands `data`, a ZPixmap of `bytes` bytes with rows `rowBytes` apart, to a
// new XImage, which then owns it: malloc'd, or (`shared`) a place in the
// display's shared segment, which the image is then marked with
// (shmring::adopt).  Null on failure, with malloc'd data freed and the
// message set.
XImage *wrapImage(Tcl_Interp *interp, const Target &target, const XlibFunctions &x11,
                  unsigned depth, char *data, size_t bytes, int width, int height,
                  int bitsPerPixel, size_t rowBytes, bool shared = false) {
  XImage *image = x11.CreateImage(target.display, target.visual, depth, ZPixmap, 0, data,
                                  static_cast<unsigned>(width), static_cast<unsigned>(height),
                                  bitsPerPixel, static_cast<int>(rowBytes));
  if (image != nullptr && rowsFit(image, height, bytes)) {
    if (shared) shmring::adopt(target.display, image);
    return image;
  }
  if (image != nullptr) {
    if (shared) image->data = nullptr;
    XDestroyImage(image);  // frees malloc'd data too
  } else if (!shared) {
    free(data);
  }
  setFailure(interp, "pixmap: XCreateImage() error", "CREATEIMAGE");
  return nullptr;
}

// 8-bit PseudoColor: every distinct colour gets a colour-map cell and the
// image becomes one cell index per pixel.  Null on failure, message set.
XImage *buildPseudoColor(PixmapRecord *record, Tcl_Interp *interp, const Target &target,
                         const XlibFunctions &x11, Cells *cells) {
  if (target.visual->c_class != PseudoColor) {
    releasePixels(record);
    setFailure(interp, "pixmap: only support 8-bit PseudoColor visual", "VISUAL");
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
    setFailure(interp, "pixmap: too many colors", "TOOMANYCOLORS");
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
    setFailure(interp, "pixmap: ran out of color allocations", "NOCOLORS");
    return nullptr;
  }
  for (int i = 0; i < count; ++i) table.pixels[order[i]] = pixels[i];
  cells->taken(pixels, count);

  if (data == nullptr) {
    // Memory was short before the cells were taken; asked once more now.
    if (pack::imageBytes(record->width, record->height, 1, &bytes))
      data = static_cast<char *>(malloc(bytes));
    if (data == nullptr) {
      releasePixels(record);
      setFailure(interp, "pixmap: malloc() error", nullptr);
      return nullptr;
    }
    // The same scan numbers the colours as the count did.
    pack::ColourTable renumbered;
    pack::indexColours(source, renumbered, reinterpret_cast<unsigned char *>(data));
  }
  pack::indicesToPixels(table, reinterpret_cast<unsigned char *>(data), bytes);

  XImage *image = wrapImage(interp, target, x11, 8, data, bytes, record->width, record->height, 8,
                            static_cast<size_t>(record->width));
  if (image == nullptr) releasePixels(record);
  return image;
}

void setMaskFault(Tcl_Interp *interp, pack::MaskFault fault, const XImage *image) {
  const pack::TrueColorMasks masks{image->red_mask, image->green_mask, image->blue_mask};
  const pack::ImageFormat format{image->byte_order, image->bitmap_unit, image->bitmap_bit_order,
                                 image->bitmap_pad, image->depth, image->bytes_per_line,
                                 image->bits_per_pixel};
  char text[400];
  pack::describeMaskFault(fault, masks, format, text, sizeof text);
  failWith(interp, text, "PIXMAP", "X", "MASKS");
}

// 16-, 24- and 32-bit TrueColor: each pixel packed by the image's masks and
// byte order.  Null on failure, message set.
XImage *buildTrueColor(PixmapRecord *record, Tcl_Interp *interp, const Target &target,
                       const XlibFunctions &x11) {
  if (target.visual->c_class != TrueColor) {
    releasePixels(record);
    setFailure(interp, "pixmap: only support 16/24/32-bit TrueColor visual", "VISUAL");
    return nullptr;
  }
  const int bytesPerPixel = target.depth == 16 ? 2 : 4;
  size_t bytes = 0;
  size_t rowBytes = static_cast<size_t>(record->width) * static_cast<size_t>(bytesPerPixel);
  char *data = nullptr;
  bool shared = false;
  if (pack::imageBytes(record->width, record->height, bytesPerPixel, &bytes)) {
    // Packed straight into the memory the server reads, when it has some,
    // with rows as long as the server's own.
    data = shmring::reserve(target.display, target.depth, bytesPerPixel * 8, record->width,
                            record->height, &rowBytes);
    shared = data != nullptr;
    if (shared) bytes = rowBytes * static_cast<size_t>(record->height);
    else data = static_cast<char *>(malloc(bytes));
  }
  if (data == nullptr) {
    releasePixels(record);
    setFailure(interp, "pixmap: malloc() error", nullptr);
    return nullptr;
  }
  XImage *image = wrapImage(interp, target, x11, static_cast<unsigned>(target.depth), data, bytes,
                            record->width, record->height, bytesPerPixel * 8, rowBytes, shared);
  if (image == nullptr) return nullptr;

  const pack::TrueColorMasks masks{image->red_mask, image->green_mask, image->blue_mask};
  const bool msbFirst = image->byte_order == MSBFirst;
  pack::TrueColorLayout layout;
  if (target.depth == 16) {
    pack::MaskFault fault = pack::resolveLayout16(masks, msbFirst, layout);
    // Judged at the first pixel: an image without pixels is never refused.
    if (fault != pack::MaskFault::none && record->width > 0 && record->height > 0) {
      setMaskFault(interp, fault, image);
      shmring::release(image);
      return nullptr;  // pixels kept
    }
  } else {
    pack::resolveLayout32(masks, msbFirst, swap4, layout);
  }
  pack::packTrueColor(sourceOf(record), layout, reinterpret_cast<unsigned char *>(data), rowBytes);
  return image;
}

// The error code word for an X error of a failed build.
const char *xErrorWord(int error) {
  switch (error) {
    case BadAlloc: return "BADALLOC";
    case BadMatch: return "BADMATCH";
    case BadValue: return "BADVALUE";
    case BadDrawable: return "BADDRAWABLE";
    default: return "ERROR";
  }
}

// Sends the 1-bit mask of the opaque pixels, made while the pixels are at
// hand, when the image has a transparent pixel; kNoPixmap otherwise (or when
// memory for the bitmap is short: the image is then drawn whole, as it is
// without a mask).
Pixmap sendOpacityMask(const PixmapRecord *record, const Target &target, const XlibFunctions &x11) {
  if (!pack::hasTransparentPixel(sourceOf(record))) return kNoPixmap;
  const size_t bytesPerRow = (static_cast<size_t>(record->width) + 7) / 8;
  size_t bytes = 0;
  if (!pack::imageBytes(static_cast<int>(bytesPerRow), record->height, 1, &bytes))
    return kNoPixmap;
  auto *bits = static_cast<char *>(malloc(bytes));
  if (bits == nullptr) return kNoPixmap;
  if (!pack::packOpacity(sourceOf(record), reinterpret_cast<unsigned char *>(bits), bytesPerRow)) {
    free(bits);
    return kNoPixmap;
  }
  XImage *image = x11.CreateImage(target.display, target.visual, 1, XYBitmap, 0, bits,
                                  static_cast<unsigned>(record->width),
                                  static_cast<unsigned>(record->height), 8,
                                  static_cast<int>(bytesPerRow));
  if (image == nullptr) {
    free(bits);
    return kNoPixmap;
  }
  image->byte_order = LSBFirst;  // Xlib reorders for the server as needed
  image->bitmap_bit_order = LSBFirst;
  Pixmap mask = Tk_GetPixmap(target.display, target.window, record->width, record->height, 1);
  XGCValues values{};
  values.foreground = 1;  // an XYBitmap draws its 1 bits in the foreground
  values.background = 0;
  GC gc = x11.CreateGC(target.display, mask, GCForeground | GCBackground, &values);
  x11.PutImage(target.display, mask, gc, image, 0, 0, 0, 0, static_cast<unsigned>(record->width),
               static_cast<unsigned>(record->height));
  x11.FreeGC(target.display, gc);
  XDestroyImage(image);
  return mask;
}

}  // namespace

int buildPixmap(PixmapRecord *record, Tcl_Interp *interp, Tk_Canvas canvas) {
  if (record->block.pixelPtr == nullptr) return TCL_OK;
  if (record->width <= 0 || record->height <= 0) {
    // X has no empty pixmaps; such an image is kept as one without pixels,
    // which the canvas item refuses to show.
    releasePixels(record);
    return TCL_OK;
  }

  Tk_Window tkwin = Tk_CanvasTkwin(canvas);
  if (tkwin == nullptr) {
    setFailure(interp, "create_pixmap: Cannot find canvas window", "NOWINDOW");
    return TCL_ERROR;
  }
  const XlibFunctions *x11 = xlib(interp);
  if (x11 == nullptr) return TCL_ERROR;  // message set; pixels kept

  // Built again only after the last build was confirmed; a caller that
  // skipped that (one that put pixels back itself) has it done here, while
  // the record still names the display of that build.
  awaitBuild(record);
  Tk_MakeWindowExist(tkwin);
  const Target target{Tk_Display(tkwin), Tk_WindowId(tkwin), Tk_Depth(tkwin), Tk_Visual(tkwin),
                      Tk_Colormap(tkwin)};
  record->display = target.display;
  record->window = target.window;
  record->depth = target.depth;
  record->screen = Tk_Screen(tkwin);
  record->visual = target.visual;
  record->colormap = target.colormap;

  if (target.depth != 8 && target.depth != 16 && target.depth != 24 && target.depth != 32) {
    setFailure(interp, "create_pixmap: unsupported window depth", "DEPTH");
    return TCL_ERROR;  // pixels kept: another canvas may still serve
  }
  // The protocol carries a pixmap's sides in 16 bits, and servers refuse
  // sides above 32767; asking would end the process through Tk's error
  // handler.  Pixels kept, like any failure of the server's own.
  if (record->width > kMaxPixmapSide || record->height > kMaxPixmapSide) {
    setFailure(interp, "pixmap: Tk_GetPixmap() error", "TOOLARGE");
    return TCL_ERROR;
  }

  XImage *image = nullptr;
  Cells cells;
  if (target.depth == 8) {
    image = buildPseudoColor(record, interp, target, *x11, &cells);
  } else {
    image = buildTrueColor(record, interp, target, *x11);
  }
  if (image == nullptr) return TCL_ERROR;

  // Tk_GetPixmap never reports a failure (it returns an id whatever the
  // server answers), and the server's errors arrive later: every request of
  // the build goes out under the display's build trap.  A large build waits
  // for the answer; a small one is confirmed before its first use
  // (confirmBuild).
  const bool waited = isLargePixmap(record->width, record->height, target.depth);
  if (!buildtrap::open(record)) {
    shmring::release(image);
    if (cells.count > 0)
      x11->FreeColors(target.display, target.colormap, cells.pixels, cells.count, 0);
    setFailure(interp, "pixmap: malloc() error", nullptr);
    return TCL_ERROR;  // pixels kept
  }
  Pixmap pixmap = Tk_GetPixmap(target.display, target.window, record->width, record->height,
                               target.depth);
  // Items copy from the pixmap with this GC at every redraw.  A copy never
  // needs to know about unavailable source areas (the pixmap is whole), so
  // the server is spared a NoExpose event back to the client per copy.
  XGCValues values{};
  values.graphics_exposures = False;
  GC gc = x11->CreateGC(target.display, pixmap, GCGraphicsExposures, &values);
  if (shmring::adopted(image)) {
    shmring::put(target.display, pixmap, gc, image);
  } else {
    x11->PutImage(target.display, pixmap, gc, image, 0, 0, 0, 0,
                  static_cast<unsigned>(record->width), static_cast<unsigned>(record->height));
  }
  shmring::release(image);
  Pixmap mask = sendOpacityMask(record, target, *x11);
  buildtrap::close(record);
  if (waited) awaitBuild(record);

  if (record->buildError != Success || pixmap == 0) {
    // Given back under a handler of their own: freeing what the server
    // never made raises errors of its own.  Waited for, so that the build's
    // errors are all in before the record is built again from the kept pixels.
    awaitBuild(record);
    {
      IgnoredErrors quiet(target.display);
      if (mask != kNoPixmap) Tk_FreePixmap(target.display, mask);
      x11->FreeGC(target.display, gc);
      if (pixmap != 0) Tk_FreePixmap(target.display, pixmap);
      if (cells.count > 0)
        x11->FreeColors(target.display, target.colormap, cells.pixels, cells.count, 0);
      x11->Sync(target.display, False);
    }
    setFailure(interp, "pixmap: Tk_GetPixmap() error",
               pixmap == 0 ? "BADALLOC" : xErrorWord(record->buildError));
    return TCL_ERROR;  // pixels kept: the server may have room later
  }

  if (cells.count > 0) {
    record->cells = static_cast<unsigned long *>(malloc(sizeof(unsigned long) * cells.count));
    if (record->cells != nullptr) {
      for (int i = 0; i < cells.count; ++i) record->cells[i] = cells.pixels[i];
      record->cellCount = cells.count;
    }
  }
  record->pixmap = pixmap;
  record->mask = mask;
  record->ncolors = cells.count;  // a TrueColor build allocates no colour-map cells
  record->gc = gc;
  releasePixels(record);
  return TCL_OK;
}

bool isLargePixmap(int width, int height, int depth) {
  // Builds of at least this many bytes wait for the server's answer and
  // report its refusal as the Tcl error.  Below it a refusal means a server
  // already out of memory, and the round trip (a client and server idle in
  // turn) would cost more than the whole build: a 64 x 64 icon is 16 KiB.
  // At this size the transfer of the pixels outweighs one round trip.
  constexpr size_t kLargeBytes = 256 * 1024;
  const size_t bytesPerPixel = depth == 8 ? 1 : depth == 16 ? 2 : 4;
  return static_cast<size_t>(width) * static_cast<size_t>(height) * bytesPerPixel >= kLargeBytes;
}

bool confirmBuild(PixmapRecord *record) {
  if (record->buildRequest != 0) {
    awaitBuild(record);
    if (record->buildError != Success) releaseServerResources(record);
  }
  return record->pixmap != kNoPixmap;
}

}  // namespace tkpixmap
