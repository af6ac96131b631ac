// pack.cc - pixel packing for X server images, free of X and Tcl.

#include "tkpixmap/pack.h"

#include <stdio.h>
#include <string.h>


namespace tkpixmap::pack {
namespace {

inline uint32_t colourAt(const unsigned char *pixel) {
  return static_cast<uint32_t>(pixel[0]) << 16 | static_cast<uint32_t>(pixel[1]) << 8 |
         static_cast<uint32_t>(pixel[2]);
}

inline const unsigned char *rowAt(const PixelSource &source, int row) {
  return source.pixels + static_cast<ptrdiff_t>(row) * source.pitch;
}

// Fibonacci hashing spreads nearby colours (gradients) over the table.
inline unsigned firstSlot(uint32_t colour) {
  constexpr int kSlotBits = 9;
  static_assert(ColourTable::kSlots == 1 << kSlotBits);
  return (colour * 0x9e3779b1u) >> (32 - kSlotBits);
}

inline unsigned slotOf(const ColourTable &table, uint32_t colour) {
  unsigned slot = firstSlot(colour);
  while (table.slotColour[slot] != colour && table.slotColour[slot] != ColourTable::kEmpty)
    slot = (slot + 1) & (ColourTable::kSlots - 1);
  return slot;
}

inline uint32_t swapBytes16(uint32_t value) { return (value & 0xff) << 8 | (value >> 8 & 0xff); }

template <int kBytes>
void packRows(const PixelSource &source, const TrueColorLayout &layout, unsigned char *out) {
  for (int row = 0; row < source.height; ++row) {
    const unsigned char *pixel = rowAt(source, row);
    for (int column = 0; column < source.width; ++column, pixel += source.pixelSize) {
      uint32_t value = layout.red[pixel[0]] | layout.green[pixel[1]] | layout.blue[pixel[2]];
      for (int i = 0; i < kBytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
      out += kBytes;
    }
  }
}

}  // namespace

void clearColourTable(ColourTable &table) {
  for (uint32_t &colour : table.slotColour) colour = ColourTable::kEmpty;
  table.count = 0;
}

int countColours(const PixelSource &source, ColourTable &table) {
  clearColourTable(table);
  uint32_t previous = ColourTable::kEmpty;  // runs of one colour skip the probe
  for (int row = 0; row < source.height; ++row) {
    const unsigned char *pixel = rowAt(source, row);
    for (int column = 0; column < source.width; ++column, pixel += source.pixelSize) {
      uint32_t colour = colourAt(pixel);
      if (colour == previous) continue;
      previous = colour;
      unsigned slot = slotOf(table, colour);
      if (table.slotColour[slot] == colour) continue;
      table.slotColour[slot] = colour;
      table.slotIndex[slot] = static_cast<uint8_t>(table.count);
      table.colours[table.count] = colour;
      table.pixels[table.count] = 0;
      if (++table.count > kMaxColours) return table.count;
    }
  }
  return table.count;
}

void allocationOrder(const ColourTable &table, int *order) {
  char text[kMaxColours + 1][12];  // "255 255 255" and its terminator
  for (int i = 0; i < table.count; ++i) {
    uint32_t colour = table.colours[i];
    snprintf(text[i], sizeof text[i], "%u %u %u", colour >> 16 & 0xff, colour >> 8 & 0xff,
             colour & 0xff);
  }
  // Insertion sort: at most 128 short keys, and it keeps the code small.
  for (int i = 0; i < table.count; ++i) {
    int j = i;
    for (; j > 0 && strcmp(text[order[j - 1]], text[i]) > 0; --j) order[j] = order[j - 1];
    order[j] = i;
  }
}

void mapToPixels(const PixelSource &source, const ColourTable &table, unsigned char *out) {
  uint32_t previous = ColourTable::kEmpty;
  unsigned char previousPixel = 0;
  for (int row = 0; row < source.height; ++row) {
    const unsigned char *pixel = rowAt(source, row);
    for (int column = 0; column < source.width; ++column, pixel += source.pixelSize) {
      uint32_t colour = colourAt(pixel);
      if (colour != previous) {
        previous = colour;
        unsigned slot = slotOf(table, colour);
        previousPixel = static_cast<unsigned char>(table.pixels[table.slotIndex[slot]] & 0xff);
      }
      *out++ = previousPixel;
    }
  }
}

MaskFault resolveLayout16(const TrueColorMasks &masks, bool msbFirst, TrueColorLayout &layout) {
  // Each mask is the usual 5-6-5 one or the same with its bytes exchanged;
  // an exchanged mask is served by writing each byte to the other place.
  struct Accepted {
    uint32_t usual, exchanged;
    MaskFault fault;
  };
  constexpr Accepted kAccepted[3] = {{0xf800, 0x00f8, MaskFault::red},
                                     {0x07e0, 0xe007, MaskFault::green},
                                     {0x001f, 0x1f00, MaskFault::blue}};
  const unsigned long given[3] = {masks.red, masks.green, masks.blue};
  bool exchange[3];
  for (int c = 0; c < 3; ++c) {
    uint32_t mask = static_cast<uint32_t>(given[c] & 0xffff);
    if (mask == kAccepted[c].usual) {
      exchange[c] = msbFirst;
    } else if (mask == kAccepted[c].exchanged) {
      exchange[c] = !msbFirst;
    } else {
      return kAccepted[c].fault;
    }
  }
  layout.bytesPerPixel = 2;
  // Contributions as 16-bit pixel values in the usual layout, whose low
  // byte is the first in memory for LSBFirst.
  for (uint32_t v = 0; v < 256; ++v) {
    uint32_t red = (v & 0xf8) << 8;
    uint32_t green = (v >> 5) << 8 | (v & 0x1c) << 3;
    uint32_t blue = v >> 3;
    layout.red[v] = exchange[0] ? swapBytes16(red) : red;
    layout.green[v] = exchange[1] ? swapBytes16(green) : green;
    layout.blue[v] = exchange[2] ? swapBytes16(blue) : blue;
  }
  return MaskFault::none;
}

void describeMaskFault(MaskFault fault, const TrueColorMasks &masks, const ImageFormat &format,
                       char *text, size_t size) {
  if (size == 0) return;
  text[0] = '\0';
  switch (fault) {
    case MaskFault::none:
      break;
    case MaskFault::red:
      snprintf(text, size,
               "pixmap: no support for redmask 0x%x for 16-bit TrueColor visual\n"
               "byte_order=%d,unit=%d,bit_order=%d,pad=%d,depth=%d,bytes_per_line=%d,"
               "bits_per_pixel=%d",
               static_cast<unsigned>(masks.red & 0xffff), format.byteOrder, format.bitmapUnit,
               format.bitmapBitOrder, format.bitmapPad, format.depth, format.bytesPerLine,
               format.bitsPerPixel);
      break;
    case MaskFault::green:
      snprintf(text, size, "pixmap: no support for greenmask 0x%x for 16-bit TrueColor visual",
               static_cast<unsigned>(masks.green & 0xffff));
      break;
    case MaskFault::blue:
      snprintf(text, size, "pixmap: no support for bluemask 0x%x for 16-bit TrueColor visual",
               static_cast<unsigned>(masks.blue & 0xffff));
      break;
  }
}

void resolveLayout32(const TrueColorMasks &masks, bool msbFirst, Reverse4 reverse4,
                     TrueColorLayout &layout) {
  const unsigned long given[3] = {masks.red, masks.green, masks.blue};
  uint32_t *tables[3] = {layout.red, layout.green, layout.blue};
  layout.bytesPerPixel = 4;
  for (int c = 0; c < 3; ++c) {
    uint32_t mask = static_cast<uint32_t>(given[c]);
    if (!msbFirst) {
      uint32_t reversed;
      reverse4(&mask, &reversed, 1);
      mask = reversed;
    }
    int shift = -1;  // where the component lands in the little number
    switch (mask) {
      case 0xff000000u: shift = 0; break;
      case 0x00ff0000u: shift = 8; break;
      case 0x0000ff00u: shift = 16; break;
      case 0x000000ffu: shift = 24; break;
      default: break;  // no single byte: the component is dropped
    }
    for (uint32_t v = 0; v < 256; ++v) tables[c][v] = shift < 0 ? 0 : v << shift;
  }
}

void packTrueColor(const PixelSource &source, const TrueColorLayout &layout, unsigned char *out) {
  if (layout.bytesPerPixel == 2) {
    packRows<2>(source, layout, out);
  } else {
    packRows<4>(source, layout, out);
  }
}

bool imageBytes(int width, int height, int bytesPerPixel, size_t *bytes) {
  if (width < 0 || height < 0 || bytesPerPixel < 0) return false;
  size_t product;
  if (__builtin_mul_overflow(static_cast<size_t>(width), static_cast<size_t>(height), &product) ||
      __builtin_mul_overflow(product, static_cast<size_t>(bytesPerPixel), &product))
    return false;
  *bytes = product;
  return true;
}

}  // namespace tkpixmap::pack
