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
// bytes (the reader's alpha) are ignored.  Or, when `palette` is set, each
// pixel is one byte naming one of its paletteSize RGBA words (a loaded
// image's kept form): the functions below that say so take that form too.
struct PixelSource {
  const unsigned char *pixels;
  int width;
  int height;
  int pitch;      // bytes from one row to the next
  int pixelSize;  // bytes from one pixel to the next (1 with a palette)
  const uint32_t *palette = nullptr;
  int paletteSize = 0;
};

// The palette of a one-byte source as a source of its own: one row of
// paletteSize RGBA pixels.  Packing the palette and then looking each pixel
// up (lookUpIndices) packs the image at the cost of a table load a pixel.
PixelSource paletteRow(const PixelSource &indexed);

// Writes each pixel of a one-byte source as the table's entry for its
// index, `bytesPerPixel` (1, 2, 3 or 4) bytes each, into `out`, rows
// `rowBytes` apart; the bytes a longer row pads with are zeroed.
void lookUpIndices(const PixelSource &indexed, const unsigned char *table, int bytesPerPixel,
                   unsigned char *out, size_t rowBytes);

// ---------------------------------------------------------------- PseudoColor

// An 8-bit colour map has room for this many of our colours; one more and
// the image is refused.
inline constexpr int kMaxColours = 128;

// The distinct colours of an image, keyed by their packed 24 bits in an
// open-addressing table (no text per pixel; the key is the pixel's own word
// without alpha where pixels are 4 bytes), remembered as 0xRRGGBB in the
// order first seen, each with the pixel value the colour map gave it.  The table is sparse enough that
// almost every colour sits in its first slot, so a lookup is one hash and
// one well-predicted compare even in dithered images, where the colour
// changes at nearly every pixel.
struct ColourTable {
  static constexpr int kSlotBits = 11;
  static constexpr int kSlots = 1 << kSlotBits;  // 16 slots per colour
  static constexpr uint32_t kEmpty = 0xffffffffu;
  uint32_t slotColour[kSlots];  // key, or kEmpty
  uint8_t slotIndex[kSlots];    // its place in colours
  uint32_t colours[kMaxColours + 1];  // 0xRRGGBB, first-seen order
  unsigned long pixels[kMaxColours + 1];
  int count;
};

void clearColourTable(ColourTable &table);

// Counts the distinct colours, rows top to bottom, each row left to right.
// Stops at kMaxColours + 1: beyond that the exact number does not matter.
int countColours(const PixelSource &source, ColourTable &table);

// countColours that also writes each pixel's colour number (its place in
// table.colours) to `indices`, width·height bytes, rows back to back, so
// that the pixels need not be looked up a second time once the colours have
// cells (indicesToPixels).  When it stops early the indices are incomplete.
int indexColours(const PixelSource &source, ColourTable &table, unsigned char *indices);

// Turns the colour numbers of indexColours into the low 8 bits of each
// colour's allocated pixel value, in place.
void indicesToPixels(const ColourTable &table, unsigned char *data, size_t count);

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

// Where one component's value lands in a pixel: ((value & keep) << left)
// >> right, then, when exchange is 0xffff, the two bytes of that 16-bit
// contribution swapped.  Contributions are little numbers whose lowest byte
// is the pixel's first byte in memory.
struct ComponentPlace {
  uint32_t keep;
  uint32_t left;
  uint32_t right;
  uint32_t exchange;  // 0 or 0xffff
};

// The pixel layout resolved once per image from the masks and byte order,
// so that packing is one loop of shifts and ors, the same for every pixel
// (compilers turn it into vector code).
struct TrueColorLayout {
  int bytesPerPixel;  // 2 at depth 16, 4 at depths 24 and 32
  ComponentPlace red;
  ComponentPlace green;
  ComponentPlace blue;
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

// Packs every pixel into `out`, rows `rowBytes` apart (at least the width
// times the pixel's bytes); the bytes a longer row pads with are zeroed.
void packTrueColor(const PixelSource &source, const TrueColorLayout &layout, unsigned char *out,
                   size_t rowBytes);

// ---------------------------------------------------------------- opacity

// (Both take the one-byte form too.)
// Writes which pixels are opaque as a bitmap for an X XYBitmap image with
// LSBFirst bit and byte order: bit x % 8 of byte x / 8 of each row is 1 where
// the pixel's alpha (byte 3; pixelSize is 4) is not 0.  Rows are
// bytesPerRow >= (width + 7) / 8 bytes apart; padding bits are 0.  Returns
// whether any pixel is transparent (the bitmap is then worth sending).
bool packOpacity(const PixelSource &source, unsigned char *bits, size_t bytesPerRow);

// Whether any pixel's alpha (byte 3; pixelSize is 4) is 0: the quick look
// that spares opaque images the bitmap.
bool hasTransparentPixel(const PixelSource &source);

// Bytes of image data a build needs, width·height·bytesPerPixel, into
// *bytes; false when a dimension is negative or the product does not fit a
// size_t (a 32-bit host cannot hold every image a GIF can describe).
bool imageBytes(int width, int height, int bytesPerPixel, size_t *bytes);

}  // namespace tkpixmap::pack
