// pack.cc - pixel packing for X server images, free of X and Tcl.

#include "tkpixmap/x11/pack.h"

#include <stdio.h>
#include <string.h>

#include <bit>

namespace tkpixmap::pack {
namespace {

inline uint32_t colourAt(const unsigned char *pixel) {
  return static_cast<uint32_t>(pixel[0]) << 16 | static_cast<uint32_t>(pixel[1]) << 8 |
         static_cast<uint32_t>(pixel[2]);
}

// The colour table's key of a pixel.  For the reader's 4-byte pixels it is
// the pixel's word without the alpha byte, one load instead of three (on a
// little-endian host that reads as 0xBBGGRR); other pixel sizes use
// 0xRRGGBB.  Counting and mapping one source use the same form.
template <int kStride>
inline uint32_t keyAt(const unsigned char *pixel) {
  if constexpr (kStride == 4) {
    uint32_t word;
    memcpy(&word, pixel, sizeof word);
    return std::endian::native == std::endian::little ? word & 0xffffffu : word >> 8;
  } else {
    return colourAt(pixel);
  }
}

template <int kStride>
inline uint32_t colourOfKey(uint32_t key) {
  if constexpr (kStride == 4 && std::endian::native == std::endian::little) {
    return (key & 0xff) << 16 | (key & 0xff00) | key >> 16;
  } else {
    return key;
  }
}

inline const unsigned char *rowAt(const PixelSource &source, int row) {
  return source.pixels + static_cast<ptrdiff_t>(row) * source.pitch;
}

// Fibonacci hashing spreads nearby colours (gradients) over the table.
inline unsigned firstSlot(uint32_t colour) {
  return (colour * 0x9e3779b1u) >> (32 - ColourTable::kSlotBits);
}

inline unsigned slotOf(const ColourTable &table, uint32_t colour) {
  unsigned slot = firstSlot(colour);
  while (table.slotColour[slot] != colour && table.slotColour[slot] != ColourTable::kEmpty)
    slot = (slot + 1) & (ColourTable::kSlots - 1);
  return slot;
}

// The colour number of a key, entering its colour if it is new; -1 once
// the table holds more than kMaxColours colours.
template <int kStride>
inline int numberOf(ColourTable &table, uint32_t key) {
  const unsigned home = firstSlot(key);
  if (table.slotColour[home] == key) return table.slotIndex[home];  // the usual case
  const unsigned slot = slotOf(table, key);
  if (table.slotColour[slot] == key) return table.slotIndex[slot];
  const int number = table.count++;
  table.slotColour[slot] = key;
  table.slotIndex[slot] = static_cast<uint8_t>(number);
  table.colours[number] = colourOfKey<kStride>(key);
  table.pixels[number] = 0;
  return table.count > kMaxColours ? -1 : number;
}

// One pass over the pixels, entering their colours; with kWrite, each
// pixel's colour number goes to `indices`.
template <bool kWrite, int kStride>
int scanRows(const PixelSource &source, ColourTable &table, unsigned char *indices) {
  const int stride = kStride > 0 ? kStride : source.pixelSize;
  const int width = source.width;
  const int height = source.height;
  for (int row = 0; row < height; ++row) {
    const unsigned char *pixel = rowAt(source, row);
    int column = 0;
    // Four colours already in their first slots, the usual case, cost one
    // branch between them.
    for (; column + 4 <= width; column += 4, pixel += 4 * stride) {
      uint32_t key[4];
      unsigned home[4];
      bool known = true;
      for (int i = 0; i < 4; ++i) {
        key[i] = keyAt<kStride>(pixel + i * stride);
        home[i] = firstSlot(key[i]);
        known &= table.slotColour[home[i]] == key[i];
      }
      if (known) {
        if constexpr (kWrite) {
          for (int i = 0; i < 4; ++i) indices[i] = table.slotIndex[home[i]];
          indices += 4;
        }
        continue;
      }
      for (int i = 0; i < 4; ++i) {
        const int number = numberOf<kStride>(table, key[i]);
        if (number < 0) return table.count;
        if constexpr (kWrite) *indices++ = static_cast<unsigned char>(number);
      }
    }
    for (; column < width; ++column, pixel += stride) {
      const int number = numberOf<kStride>(table, keyAt<kStride>(pixel));
      if (number < 0) return table.count;
      if constexpr (kWrite) *indices++ = static_cast<unsigned char>(number);
    }
  }
  return table.count;
}

template <bool kWrite>
int scanColours(const PixelSource &source, ColourTable &table, unsigned char *indices) {
  clearColourTable(table);
  return source.pixelSize == 4 ? scanRows<kWrite, 4>(source, table, indices)
                               : scanRows<kWrite, 0>(source, table, indices);
}

inline uint32_t bitsOf(const ComponentPlace &at, uint32_t value) {
  return ((value & at.keep) << at.left) >> at.right;
}

inline uint32_t exchangeBytes16(uint32_t value) { return (value & 0xff) << 8 | (value >> 8 & 0xff); }

// Where red, green and blue go in a 16-bit pixel value of the usual 5-6-5
// layout.  Every 16-bit layout served is this one, some components with
// their two bytes exchanged; as constants, the packing loop's shifts are
// immediate (several times faster in vector code).
constexpr ComponentPlace kRed565{0xf8, 8, 0, 0};
constexpr ComponentPlace kGreen565{0xfc, 3, 0, 0};
constexpr ComponentPlace kBlue565{0xf8, 0, 3, 0};

// One pixel's value in the image's layout, bytes least significant first.
template <int kBytes>
inline uint32_t packedValue(const TrueColorLayout &layout, uint32_t r, uint32_t g, uint32_t b) {
  const ComponentPlace &red = layout.red, &green = layout.green, &blue = layout.blue;
  if constexpr (kBytes == 4) {  // 24- and 32-bit layouts exchange no bytes
    return ((r & red.keep) << red.left) | ((g & green.keep) << green.left) |
           ((b & blue.keep) << blue.left);
  } else {
    // Exchanging bytes distributes over or: one exchange for all the
    // components that want it.
    r = bitsOf(kRed565, r);
    g = bitsOf(kGreen565, g);
    b = bitsOf(kBlue565, b);
    return ((r & ~red.exchange) | (g & ~green.exchange) | (b & ~blue.exchange)) |
           exchangeBytes16((r & red.exchange) | (g & green.exchange) | (b & blue.exchange));
  }
}

// The reader's 4-byte pixels on a little-endian host: a word in and a word
// (or half word) out per pixel, the same shifts for every pixel, which
// compilers turn into vector code.
template <int kBytes>
void packRowOfWords(const unsigned char *pixels, int width, const TrueColorLayout layout,
                    unsigned char *out) {
  for (int column = 0; column < width; ++column) {
    uint32_t word;
    memcpy(&word, pixels + static_cast<ptrdiff_t>(column) * 4, sizeof word);
    const uint32_t value = packedValue<kBytes>(layout, word & 0xff, word >> 8 & 0xff,
                                               word >> 16 & 0xff);
    if constexpr (kBytes == 4) {
      memcpy(out + static_cast<ptrdiff_t>(column) * 4, &value, 4);
    } else {
      const uint16_t half = static_cast<uint16_t>(value);
      memcpy(out + static_cast<ptrdiff_t>(column) * 2, &half, 2);
    }
  }
}

// One loop per pixel size and source stride.  Sizes are copied out of the
// source first: the output is bytes, which the compiler must assume could
// overwrite them.
template <int kBytes, int kStride>
void packRows(const PixelSource &source, const TrueColorLayout &layout, unsigned char *out,
              size_t rowBytes) {
  const int stride = kStride > 0 ? kStride : source.pixelSize;
  const int width = source.width;
  const int height = source.height;
  const size_t padding = rowBytes - static_cast<size_t>(width) * kBytes;
  for (int row = 0; row < height; ++row) {
    const unsigned char *pixels = rowAt(source, row);
    if constexpr (kStride == 4 && std::endian::native == std::endian::little) {
      packRowOfWords<kBytes>(pixels, width, layout, out);
    } else {
      for (int column = 0; column < width; ++column) {
        const unsigned char *pixel = pixels + static_cast<ptrdiff_t>(column) * stride;
        const uint32_t value = packedValue<kBytes>(layout, pixel[0], pixel[1], pixel[2]);
        unsigned char *to = out + static_cast<ptrdiff_t>(column) * kBytes;
        for (int i = 0; i < kBytes; ++i) to[i] = static_cast<unsigned char>(value >> (8 * i));
      }
    }
    out += static_cast<ptrdiff_t>(width) * kBytes;
    if (padding > 0) {
      memset(out, 0, padding);
      out += padding;
    }
  }
}

}  // namespace

void clearColourTable(ColourTable &table) {
  for (uint32_t &colour : table.slotColour) colour = ColourTable::kEmpty;
  table.count = 0;
}

int countColours(const PixelSource &source, ColourTable &table) {
  return scanColours<false>(source, table, nullptr);
}

int indexColours(const PixelSource &source, ColourTable &table, unsigned char *indices) {
  return scanColours<true>(source, table, indices);
}

void indicesToPixels(const ColourTable &table, unsigned char *data, size_t count) {
  unsigned char cell[256] = {};
  for (int i = 0; i < table.count && i < kMaxColours; ++i)
    cell[i] = static_cast<unsigned char>(table.pixels[i] & 0xff);
  // Eight at a time: one load and one store per eight pixels.  Each byte
  // goes back where it came from, whatever the host's byte order.
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t numbers;
    memcpy(&numbers, data + i, sizeof numbers);
    uint64_t cells = 0;
    for (int k = 0; k < 8; ++k) cells |= uint64_t{cell[numbers >> (8 * k) & 0xff]} << (8 * k);
    memcpy(data + i, &cells, sizeof cells);
  }
  for (; i < count; ++i) data[i] = cell[data[i]];
}

namespace {

// A colour's decimal text "R G B" as a number that orders like the text
// under strcmp: its bytes, zero-padded to 16, read most significant first.
// (Padding with zeros is what the terminator does to a shorter text.)
struct TextKey {
  uint64_t high, low;
  bool operator>(const TextKey &other) const {
    return high != other.high ? high > other.high : low > other.low;
  }
};

TextKey textKeyOf(uint32_t colour) {
  unsigned char text[16] = {};
  size_t length = 0;
  const unsigned components[3] = {colour >> 16 & 0xff, colour >> 8 & 0xff, colour & 0xff};
  for (int c = 0; c < 3; ++c) {
    if (c > 0) text[length++] = ' ';
    const unsigned value = components[c];
    if (value >= 100) text[length++] = static_cast<unsigned char>('0' + value / 100);
    if (value >= 10) text[length++] = static_cast<unsigned char>('0' + value / 10 % 10);
    text[length++] = static_cast<unsigned char>('0' + value % 10);
  }
  TextKey key{0, 0};
  for (int i = 0; i < 8; ++i) key.high = key.high << 8 | text[i];
  for (int i = 8; i < 16; ++i) key.low = key.low << 8 | text[i];
  return key;
}

}  // namespace

void allocationOrder(const ColourTable &table, int *order) {
  TextKey keys[kMaxColours + 1];
  for (int i = 0; i < table.count; ++i) keys[i] = textKeyOf(table.colours[i]);
  // Insertion sort: at most 129 keys, and it keeps the code small.
  for (int i = 0; i < table.count; ++i) {
    int j = i;
    for (; j > 0 && keys[order[j - 1]] > keys[i]; --j) order[j] = order[j - 1];
    order[j] = i;
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
  // Contributions as 16-bit pixel values in the usual layout, whose low
  // byte is the first in memory for LSBFirst.
  layout.bytesPerPixel = 2;
  const ComponentPlace *usual[3] = {&kRed565, &kGreen565, &kBlue565};
  ComponentPlace *place[3] = {&layout.red, &layout.green, &layout.blue};
  for (int c = 0; c < 3; ++c) {
    *place[c] = *usual[c];
    place[c]->exchange = exchange[c] ? 0xffffu : 0;
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
  ComponentPlace *places[3] = {&layout.red, &layout.green, &layout.blue};
  layout.bytesPerPixel = 4;
  for (int c = 0; c < 3; ++c) {
    uint32_t mask = static_cast<uint32_t>(given[c]);
    if (!msbFirst) {
      uint32_t reversed;
      reverse4(&mask, &reversed, 1);
      mask = reversed;
    }
    ComponentPlace &at = *places[c];
    at = {0xff, 0, 0, 0};
    switch (mask) {  // where the byte lands in the little number
      case 0xff000000u: at.left = 0; break;
      case 0x00ff0000u: at.left = 8; break;
      case 0x0000ff00u: at.left = 16; break;
      case 0x000000ffu: at.left = 24; break;
      default: at.keep = 0; break;  // no single byte: the component is dropped
    }
  }
}

void packTrueColor(const PixelSource &source, const TrueColorLayout &layout, unsigned char *out,
                   size_t rowBytes) {
  const bool rgba = source.pixelSize == 4;
  if (layout.bytesPerPixel == 2) {
    rgba ? packRows<2, 4>(source, layout, out, rowBytes)
         : packRows<2, 0>(source, layout, out, rowBytes);
  } else {
    rgba ? packRows<4, 4>(source, layout, out, rowBytes)
         : packRows<4, 0>(source, layout, out, rowBytes);
  }
}

namespace {

// Whether each palette entry is opaque (alpha, byte 3, not 0).
void opaqueEntries(const PixelSource &indexed, bool (&opaque)[256]) {
  for (bool &o : opaque) o = false;
  for (int i = 0; i < indexed.paletteSize && i < 256; ++i) {
    unsigned char rgba[4];
    memcpy(rgba, &indexed.palette[i], 4);
    opaque[i] = rgba[3] != 0;
  }
}

}  // namespace

bool packOpacity(const PixelSource &source, unsigned char *bits, size_t bytesPerRow) {
  bool opaqueEntry[256];
  if (source.palette != nullptr) opaqueEntries(source, opaqueEntry);
  bool allOpaque = true;
  for (int y = 0; y < source.height; ++y) {
    const unsigned char *pixel = rowAt(source, y);
    unsigned char *row = bits + static_cast<size_t>(y) * bytesPerRow;
    memset(row, 0, bytesPerRow);
    // A byte of the bitmap at a time, eight pixels' opacity into eight bits.
    for (int x = 0; x < source.width; x += 8) {
      const int n = source.width - x < 8 ? source.width - x : 8;
      unsigned byte = 0;
      for (int k = 0; k < n; ++k, pixel += source.pixelSize) {
        const bool opaque = source.palette != nullptr ? opaqueEntry[*pixel] : pixel[3] != 0;
        byte |= (opaque ? 1u : 0u) << k;
      }
      row[x >> 3] = static_cast<unsigned char>(byte);
      allOpaque = allOpaque && byte == (1u << n) - 1;
    }
  }
  return !allOpaque;
}

bool hasTransparentPixel(const PixelSource &source) {
  if (source.palette != nullptr) {
    // A kept palette holds only the colours the pixels use.
    bool opaque[256];
    opaqueEntries(source, opaque);
    for (int i = 0; i < source.paletteSize; ++i)
      if (!opaque[i]) return true;
    return false;
  }
  // Whole pixels as words, so that the loop runs in vector registers.
  constexpr uint32_t kAlpha = std::endian::native == std::endian::little ? 0xff000000u : 0xffu;
  for (int y = 0; y < source.height; ++y) {
    const unsigned char *row = rowAt(source, y);
    uint32_t clear = 0;
    for (int x = 0; x < source.width; ++x) {
      uint32_t pixel;
      memcpy(&pixel, row + static_cast<size_t>(x) * 4, sizeof pixel);
      clear |= (pixel & kAlpha) == 0;
    }
    if (clear != 0) return true;
  }
  return false;
}

PixelSource paletteRow(const PixelSource &indexed) {
  return {reinterpret_cast<const unsigned char *>(indexed.palette), indexed.paletteSize, 1,
          indexed.paletteSize * 4, 4};
}

namespace {

template <int kBytes>
void lookUpRows(const PixelSource &indexed, const unsigned char *table, unsigned char *out,
                size_t rowBytes) {
  const int width = indexed.width;
  const int height = indexed.height;
  const size_t padding = rowBytes - static_cast<size_t>(width) * kBytes;
  for (int row = 0; row < height; ++row) {
    const unsigned char *index = rowAt(indexed, row);
    for (int column = 0; column < width; ++column, out += kBytes)
      memcpy(out, table + static_cast<size_t>(index[column]) * kBytes, kBytes);
    if (padding > 0) {
      memset(out, 0, padding);
      out += padding;
    }
  }
}

}  // namespace

void lookUpIndices(const PixelSource &indexed, const unsigned char *table, int bytesPerPixel,
                   unsigned char *out, size_t rowBytes) {
  switch (bytesPerPixel) {
    case 1: lookUpRows<1>(indexed, table, out, rowBytes); break;
    case 2: lookUpRows<2>(indexed, table, out, rowBytes); break;
    case 3: lookUpRows<3>(indexed, table, out, rowBytes); break;
    default: lookUpRows<4>(indexed, table, out, rowBytes); break;
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
