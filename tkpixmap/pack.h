// pack.h - turns decoded RGB pixels into the byte layouts an X server
// expects: colour-map indices for 8-bit PseudoColor windows, and 2- or
// 4-byte TrueColor pixels placed by the visual's masks and byte order.
//
// Nothing here knows X or Tcl, so the unit tests can drive every mask and
// both byte orders, including MSBFirst, which a local server never offers.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tkpixmap::pack {

// Red, green and blue are the first three bytes of each pixel; further
// bytes (the reader's alpha) are ignored.
struct PixelSource {
  const unsigned char *pixels;
  int width;
  int height;
  int pitch;      // bytes from one row to the next
  int pixelSize;  // bytes from one pixel to the next
};

// ---------------------------------------------------------------- PseudoColor

// An 8-bit colour map has room for this many of our colours; one more and
// the image is refused.
inline constexpr int kMaxColours = 128;

// The distinct colours of an image, keyed by 0xRRGGBB in an open-addressing
// table (one probe sequence per pixel, no text), remembered in the order
// first seen, each with the pixel value the colour map gave it.
struct ColourTable {
  static constexpr int kSlots = 512;  // power of two, under half full at most
  static constexpr uint32_t kEmpty = 0xffffffffu;
  uint32_t slotColour[kSlots];
  uint8_t slotIndex[kSlots];
  uint32_t colours[kMaxColours + 1];  // 0xRRGGBB, first-seen order
  unsigned long pixels[kMaxColours + 1];
  int count;
};

void clearColourTable(ColourTable &table);

// Counts the distinct colours, rows top to bottom, each row left to right.
// Stops at kMaxColours + 1: beyond that the exact number does not matter.
int countColours(const PixelSource &source, ColourTable &table);

// The order in which colours are allocated: ascending by the colour's
// decimal text "R G B" compared as plain strings (so "10 0 0" comes before
// "9 0 0").  Allocation order decides which colours are taken before a full
// colour map refuses one, and which cells they get, so it is kept stable.
// Writes table.count indices into `order`.
void allocationOrder(const ColourTable &table, int *order);

// A component as an X colour request: 255 asks for 0xff00, not 0xffff.
constexpr unsigned short colourRequest(unsigned component) {
  return static_cast<unsigned short>((component << 8) & 0xff00u);
}

// Writes the low 8 bits of each pixel's allocated value, width·height bytes,
// rows back to back.  Every colour of the source must be in the table.
void mapToPixels(const PixelSource &source, const ColourTable &table, unsigned char *out);

// ---------------------------------------------------------------- TrueColor

// Which colour mask a 16-bit layout does not provide for.
enum class MaskFault { none, red, green, blue };

// Reverses the bytes of n 4-byte items (the byte-order service's swap4).
using Reverse4 = void (*)(const void *from, void *to, int n);

struct TrueColorMasks {
  unsigned long red;
  unsigned long green;
  unsigned long blue;
};

// The pixel layout resolved once per image: for each component value, the
// bits it contributes to a pixel, as a little number whose lowest byte is
// the pixel's first byte in memory.  Packing is then three lookups and an or.
struct TrueColorLayout {
  int bytesPerPixel;  // 2 at depth 16, 4 at depths 24 and 32
  uint32_t red[256];
  uint32_t green[256];
  uint32_t blue[256];
};

// Depth 16, 5-6-5: each mask is the usual one (0xf800, 0x07e0, 0x001f) or
// the same with its two bytes exchanged; only the low 16 bits of a mask
// count.  Masks are judged red, then green, then blue; the first one not
// provided for is reported and the layout is left unusable.
MaskFault resolveLayout16(const TrueColorMasks &masks, bool msbFirst, TrueColorLayout &layout);

// The parts of an X image's format that the message about a refused mask
// shows, so that a server's report can be read without a debugger.
struct ImageFormat {
  int byteOrder;
  int bitmapUnit;
  int bitmapBitOrder;
  int bitmapPad;
  int depth;
  int bytesPerLine;
  int bitsPerPixel;
};

// The message for a refused 16-bit mask (MaskFault::none formats nothing and
// leaves an empty text).  Each mask is shown by its low 16 bits.
void describeMaskFault(MaskFault fault, const TrueColorMasks &masks, const ImageFormat &format,
                       char *text, size_t size);

// Depths 24 and 32: LSBFirst masks are first byte-reversed with `reverse4`,
// after which 0xff000000 names the pixel's first byte in memory and
// 0x000000ff its fourth.  A component whose mask names no single byte is
// dropped without complaint.
void resolveLayout32(const TrueColorMasks &masks, bool msbFirst, Reverse4 reverse4,
                     TrueColorLayout &layout);

// Packs every pixel into `out`, rows back to back without padding.
void packTrueColor(const PixelSource &source, const TrueColorLayout &layout, unsigned char *out);

// Bytes of image data a build needs, width·height·bytesPerPixel, into
// *bytes; false when a dimension is negative or the product does not fit a
// size_t (a 32-bit host cannot hold every image a GIF can describe).
bool imageBytes(int width, int height, int bytesPerPixel, size_t *bytes);

}  // namespace tkpixmap::pack
