// build.cc - the X side of turning a loaded image into a server pixmap.
// The pixel arithmetic lives in pack.cc and colourmap.cc; this file asks
// the window what it is and moves the result to the server.

#include "tkpixmap/x11/build.h"

#include <stdlib.h>

#include "byteorder.h"

#include "tkpixmap/x11/colourmap.h"
#include "tkpixmap/x11/pack.h"
#include "tkpixmap/x11/shmring.h"
#include "tkpixmap/x11/trap.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {
namespace {

// Servers refuse pixmap sides beyond this (the protocol's signed 16 bits).
constexpr int kMaxPixmapSide = 32767;

// What a build has made so far.  Whatever step fails, abandon() gives all
// of it back: the one failure path of a build.
struct Build {
  Build(const Target &t, const XlibFunctions &x, Instance *i, Client c)
      : target(t), x11(x), instance(i), client(c) {}
  const Target &target;
  const XlibFunctions &x11;
  Instance *instance;        // its pixmap, mask and GC once sent
  Client client;
  XImage *image = nullptr;   // the packed pixels, until sent
  MappedPixels mapped;       // 8-bit colour cells taken
  bool sent = false;         // requests went out under the display's trap
};

pack::PixelSource sourceOf(const ImagePixels &p) {
  if (p.bytesPerPixel == 1)
    return {p.pixels, p.width, p.height, p.width, 1, p.palette, p.paletteSize};
  return {p.pixels, p.width, p.height, p.width * 4, 4};
}

bool isColourMapVisual(const Visual *visual) {
  return visual->c_class == PseudoColor || visual->c_class == StaticColor ||
         visual->c_class == GrayScale || visual->c_class == StaticGray;
}

// Xlib works out bytes_per_line itself; a server whose image rows are wider
// than the packed rows would make XPutImage read past the buffer.
bool rowsFit(const XImage *image, int height, size_t bufferBytes) {
  return image->bytes_per_line >= 0 &&
         static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height) <= bufferBytes;
}

// Hands `data`, a ZPixmap of `bytes` bytes with rows `rowBytes` apart, to a
// new XImage, which then owns it: malloc'd, or (`shared`) a place in the
// display's shared segment, which the image is then marked with.  Null on
// failure, with malloc'd data freed.
XImage *wrapImage(const Target &target, const XlibFunctions &x11, unsigned depth, char *data,
                  size_t bytes, int width, int height, int pad, size_t rowBytes, bool shared,
                  Failure *failure) {
  XImage *image = x11.CreateImage(target.display, target.visual, depth, ZPixmap, 0, data,
                                  static_cast<unsigned>(width), static_cast<unsigned>(height),
                                  pad, static_cast<int>(rowBytes));
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
  failure->refusal = Refusal::createImage;
  return nullptr;
}

bool buildColourMapped(Build &b, const pack::PixelSource &source, Failure *failure) {
  if (!mapColours(source, b.target.display, b.target.visual, b.target.colormap, b.client, b.x11,
                  &b.mapped, failure))
    return false;
  const size_t bytes = static_cast<size_t>(source.width) * static_cast<size_t>(source.height);
  b.image = wrapImage(b.target, b.x11, static_cast<unsigned>(b.target.depth),
                      reinterpret_cast<char *>(b.mapped.data), bytes, source.width, source.height,
                      8, static_cast<size_t>(source.width), false, failure);
  return b.image != nullptr;
}

// ---------------------------------------------------------------- TrueColor

// How a TrueColor build packs its pixels: one of the tuned layouts the item
// serves, or any masks at all (widgets on other visuals).
struct Packing {
  bool tuned;
  pack::TrueColorLayout layout;  // when tuned
  int bytesPerPixel;
};

bool isByteMask(unsigned long mask) {
  return mask == 0xff || mask == 0xff00 || mask == 0xff0000 || mask == 0xff000000ul;
}

// A pixel's value under the visual's masks: each component's top bits, as
// many as its mask has (the tuned layouts keep the top bits too), or
// repeated to fill a field wider than 8 bits.
uint32_t valueByMasks(const Visual *visual, uint32_t rgb) {
  const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
  const uint32_t components[3] = {rgb >> 16, rgb >> 8 & 0xff, rgb & 0xff};
  uint32_t value = 0;
  for (int c = 0; c < 3; ++c) {
    const uint32_t mask = static_cast<uint32_t>(masks[c]);
    if (mask == 0) continue;
    const int shift = __builtin_ctz(mask);
    const int bits = __builtin_popcount(mask);
    uint32_t field = 0;
    for (int have = 0; have < bits; have += 8)  // MSB first: 8 bits at a time
      field = field << 8 | components[c];
    field >>= (bits + 7) / 8 * 8 - bits;
    value |= field << shift & mask;
  }
  return value;
}

void writeValue(uint32_t value, int bytesPerPixel, bool msbFirst, unsigned char *to) {
  for (int i = 0; i < bytesPerPixel; ++i) {
    const int shift = 8 * (msbFirst ? bytesPerPixel - 1 - i : i);
    to[i] = static_cast<unsigned char>(value >> shift);
  }
}

// The bytes a pixel of `depth` takes on this display (a probe image tells).
int bytesPerPixelOf(const Target &target, const XlibFunctions &x11) {
  XImage *probe = x11.CreateImage(target.display, target.visual,
                                  static_cast<unsigned>(target.depth), ZPixmap, 0, nullptr, 1, 1,
                                  32, 0);
  if (probe == nullptr) return 0;
  const int bits = probe->bits_per_pixel;
  XDestroyImage(probe);
  return bits % 8 == 0 && bits >= 8 && bits <= 32 ? bits / 8 : 0;
}

bool choosePacking(const Target &target, Client client, const XlibFunctions &x11,
                   Packing *packing) {
  const Visual *v = target.visual;
  const bool msbFirst = ImageByteOrder(target.display) == MSBFirst;
  const pack::TrueColorMasks masks{v->red_mask, v->green_mask, v->blue_mask};
  packing->tuned = true;
  if (target.depth == 16) {
    packing->bytesPerPixel = 2;
    if (pack::resolveLayout16(masks, msbFirst, packing->layout) == pack::MaskFault::none ||
        client == Client::item)
      return true;  // the item's refusal comes with the image's format in hand
  } else if (target.depth == 24 || target.depth == 32) {
    packing->bytesPerPixel = 4;
    pack::resolveLayout32(masks, msbFirst, swap4, packing->layout);
    if (client == Client::item ||
        (isByteMask(v->red_mask) && isByteMask(v->green_mask) && isByteMask(v->blue_mask)))
      return true;
  }
  packing->tuned = false;
  packing->bytesPerPixel = bytesPerPixelOf(target, x11);
  return packing->bytesPerPixel != 0;
}

void packByMasks(const pack::PixelSource &source, const Target &target, int bytesPerPixel,
                 unsigned char *out, size_t rowBytes) {
  const bool msbFirst = ImageByteOrder(target.display) == MSBFirst;
  for (int y = 0; y < source.height; ++y) {
    const unsigned char *row = source.pixels + static_cast<size_t>(y) * source.pitch;
    unsigned char *to = out + static_cast<size_t>(y) * rowBytes;
    for (int x = 0; x < source.width; ++x, to += bytesPerPixel) {
      const unsigned char *p = row + static_cast<size_t>(x) * 4;
      const uint32_t rgb = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
      writeValue(valueByMasks(target.visual, rgb), bytesPerPixel, msbFirst, to);
    }
    const size_t used = static_cast<size_t>(source.width) * static_cast<size_t>(bytesPerPixel);
    for (size_t i = used; i < rowBytes; ++i) to[i - used] = 0;
  }
}

void packPixels(const pack::PixelSource &source, const Target &target, const Packing &packing,
                unsigned char *out, size_t rowBytes) {
  if (source.palette == nullptr) {
    if (packing.tuned) pack::packTrueColor(source, packing.layout, out, rowBytes);
    else packByMasks(source, target, packing.bytesPerPixel, out, rowBytes);
    return;
  }
  // A kept palette is packed once; each pixel is then a table load.
  unsigned char table[256 * 4];
  const pack::PixelSource palette = pack::paletteRow(source);
  const size_t tableRow = static_cast<size_t>(source.paletteSize) * packing.bytesPerPixel;
  if (packing.tuned) pack::packTrueColor(palette, packing.layout, table, tableRow);
  else packByMasks(palette, target, packing.bytesPerPixel, table, tableRow);
  pack::lookUpIndices(source, table, packing.bytesPerPixel, out, rowBytes);
}

void describeMasks(const XImage *image, Failure *failure) {
  const pack::TrueColorMasks masks{image->red_mask, image->green_mask, image->blue_mask};
  const pack::ImageFormat format{image->byte_order, image->bitmap_unit, image->bitmap_bit_order,
                                 image->bitmap_pad, image->depth, image->bytes_per_line,
                                 image->bits_per_pixel};
  const bool msbFirst = image->byte_order == MSBFirst;
  pack::TrueColorLayout unused;
  pack::describeMaskFault(pack::resolveLayout16(masks, msbFirst, unused), masks, format,
                          failure->detail, sizeof failure->detail);
  failure->refusal = Refusal::masks;
}

// Each pixel packed by the visual's masks and the server's byte order.
bool buildTrueColor(Build &b, const pack::PixelSource &source, Failure *failure) {
  const Target &target = b.target;
  Packing packing;
  if (!choosePacking(target, b.client, b.x11, &packing)) {
    failure->refusal = Refusal::visual;
    return false;
  }
  const int bytesPerPixel = packing.bytesPerPixel;
  size_t bytes = 0;
  size_t rowBytes = static_cast<size_t>(source.width) * static_cast<size_t>(bytesPerPixel);
  char *data = nullptr;
  bool shared = false;
  if (pack::imageBytes(source.width, source.height, bytesPerPixel, &bytes)) {
    // Packed straight into the memory the server reads, when it has some,
    // with rows as long as the server's own.
    data = shmring::reserve(target.display, target.depth, bytesPerPixel * 8, source.width,
                            source.height, &rowBytes);
    shared = data != nullptr;
    if (shared) bytes = rowBytes * static_cast<size_t>(source.height);
    else data = static_cast<char *>(malloc(bytes));
  }
  if (data == nullptr) {
    failure->refusal = Refusal::noMemory;
    return false;
  }
  b.image = wrapImage(target, b.x11, static_cast<unsigned>(target.depth), data, bytes,
                      source.width, source.height, bytesPerPixel * 8, rowBytes, shared, failure);
  if (b.image == nullptr) return false;
  if (b.client == Client::item && target.depth == 16 &&
      pack::resolveLayout16({b.image->red_mask, b.image->green_mask, b.image->blue_mask},
                            b.image->byte_order == MSBFirst, packing.layout) !=
          pack::MaskFault::none) {
    describeMasks(b.image, failure);
    return false;
  }
  packPixels(source, target, packing, reinterpret_cast<unsigned char *>(data), rowBytes);
  return true;
}

// ---------------------------------------------------------------- to the server

// Sends the 1-bit mask of the opaque pixels when the image has a
// transparent pixel; None otherwise (or when memory for the bitmap is
// short: the image is then drawn whole, as it is without a mask).
Pixmap sendOpacityMask(const pack::PixelSource &source, const Target &target,
                       const XlibFunctions &x11) {
  if (!pack::hasTransparentPixel(source)) return None;
  const size_t bytesPerRow = (static_cast<size_t>(source.width) + 7) / 8;
  size_t bytes = 0;
  if (!pack::imageBytes(static_cast<int>(bytesPerRow), source.height, 1, &bytes)) return None;
  auto *bits = static_cast<char *>(malloc(bytes));
  if (bits == nullptr) return None;
  pack::packOpacity(source, reinterpret_cast<unsigned char *>(bits), bytesPerRow);
  XImage *image = x11.CreateImage(target.display, target.visual, 1, XYBitmap, 0, bits,
                                  static_cast<unsigned>(source.width),
                                  static_cast<unsigned>(source.height), 8,
                                  static_cast<int>(bytesPerRow));
  if (image == nullptr) {
    free(bits);
    return None;
  }
  image->byte_order = LSBFirst;  // Xlib reorders for the server as needed
  image->bitmap_bit_order = LSBFirst;
  Pixmap mask = Tk_GetPixmap(target.display, target.root, source.width, source.height, 1);
  XGCValues values{};
  values.foreground = 1;  // an XYBitmap draws its 1 bits in the foreground
  values.background = 0;
  GC gc = x11.CreateGC(target.display, mask, GCForeground | GCBackground, &values);
  x11.PutImage(target.display, mask, gc, image, 0, 0, 0, 0, static_cast<unsigned>(source.width),
               static_cast<unsigned>(source.height));
  x11.FreeGC(target.display, gc);
  XDestroyImage(image);
  return mask;
}

// The one failure path: gives back whatever the build made.  What went to
// the server is freed after the build's errors are all in, under a handler
// of its own (freeing what the server never made raises errors too); cells
// a colour map gave are given back in any case.
void abandon(Build &b) {
  if (b.image != nullptr) shmring::release(b.image);
  b.image = nullptr;
  if (b.sent) awaitBuild(b.instance);
  giveBack(b.instance, b.mapped.cells, b.mapped.cellCount, b.sent);
  if (b.sent) b.x11.Sync(b.target.display, False);
  b.mapped.cellCount = 0;
}

// Moves the packed image (with its mask) to a new pixmap under the
// display's build trap.  Tk_GetPixmap never reports a failure (it returns
// an id whatever the server answers), and the server's errors arrive later:
// a large build waits for the answer; a small one is confirmed before its
// first use.
bool sendToServer(Build &b, const pack::PixelSource &source, Failure *failure) {
  const Target &target = b.target;
  Instance *instance = b.instance;
  const int width = source.width;
  const int height = source.height;
  if (!trap::open(instance)) {
    failure->refusal = Refusal::noMemory;
    return false;
  }
  b.sent = true;
  instance->pixmap = Tk_GetPixmap(target.display, target.root, width, height, target.depth);
  // Items copy from the pixmap with this GC at every redraw.  A copy never
  // needs to know about unavailable source areas (the pixmap is whole), so
  // the server is spared a NoExpose event back to the client per copy.
  XGCValues values{};
  values.graphics_exposures = False;
  instance->gc = b.x11.CreateGC(target.display, instance->pixmap, GCGraphicsExposures, &values);
  if (shmring::adopted(b.image)) {
    shmring::put(target.display, instance->pixmap, instance->gc, b.image);
  } else {
    b.x11.PutImage(target.display, instance->pixmap, instance->gc, b.image, 0, 0, 0, 0,
                   static_cast<unsigned>(width), static_cast<unsigned>(height));
  }
  shmring::release(b.image);
  b.image = nullptr;
  instance->mask = sendOpacityMask(source, target, b.x11);
  trap::close(instance);
  if (isLargePixmap(width, height, target.depth)) awaitBuild(instance);
  if (instance->buildError == Success && instance->pixmap != None) return true;
  failure->refusal = Refusal::serverRefused;
  failure->xError = instance->pixmap == None ? BadAlloc : instance->buildError;
  return false;
}

}  // namespace

// Whether `client` can be served on `target` at all; the item's refusals
// come in the order they always have.
bool canServe(const Target &target, Client client, int width, int height, Failure *failure) {
  const int depth = target.depth;
  const int visualClass = target.visual->c_class;
  Refusal refusal = Refusal::none;
  if (client == Client::item && depth != 8 && depth != 16 && depth != 24 && depth != 32) {
    refusal = Refusal::depth;  // another canvas may still serve
  } else if (width > kMaxPixmapSide || height > kMaxPixmapSide) {
    // The protocol carries a pixmap's sides in 16 bits; asking would end
    // the process through Tk's error handler.
    refusal = Refusal::tooLarge;
  } else if (client == Client::item) {
    if (depth == 8 && visualClass != PseudoColor) refusal = Refusal::pseudoVisual;
    if (depth != 8 && visualClass != TrueColor) refusal = Refusal::trueVisual;
  } else if (!(visualClass == TrueColor || (isColourMapVisual(target.visual) && depth == 8))) {
    refusal = Refusal::visual;
  }
  failure->refusal = refusal;
  return refusal == Refusal::none;
}

Target targetOf(Tk_Window tkwin) {
  return {Tk_Display(tkwin), Tk_ScreenNumber(tkwin),
          RootWindow(Tk_Display(tkwin), Tk_ScreenNumber(tkwin)), Tk_Visual(tkwin),
          Tk_Colormap(tkwin), Tk_Depth(tkwin)};
}

Colormap matchedColormap(const Target &target) {
  return target.visual->c_class == TrueColor ? None : target.colormap;
}

bool buildInstance(Instance *instance, const ImagePixels &pixels, const Target &target,
                   Client client, Failure *failure, int *colourCount) {
  const XlibFunctions *x11 = resolvedXlib();
  if (x11 == nullptr) {
    failure->refusal = Refusal::noXlib;
    return false;
  }
  const pack::PixelSource source = sourceOf(pixels);
  Build b(target, *x11, instance, client);
  const bool built = (target.visual->c_class == TrueColor ? buildTrueColor(b, source, failure)
                                                          : buildColourMapped(b, source, failure)) &&
                     sendToServer(b, source, failure);
  if (!built) {
    abandon(b);
    return false;
  }
  if (b.mapped.cellCount > 0) {
    instance->cells =
        static_cast<unsigned long *>(malloc(sizeof(unsigned long) * b.mapped.cellCount));
    // Without memory to remember them the cells stay taken until the
    // display closes; the image is shown all the same.
    if (instance->cells != nullptr) {
      for (int i = 0; i < b.mapped.cellCount; ++i) instance->cells[i] = b.mapped.cells[i];
      instance->cellCount = b.mapped.cellCount;
    }
  }
  instance->inexact = b.mapped.inexact;
  *colourCount = target.visual->c_class == TrueColor ? 0 : b.mapped.colourCount;
  return true;
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

}  // namespace tkpixmap
