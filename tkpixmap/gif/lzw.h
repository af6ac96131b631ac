// lzw.h - the GIF image-data decoder: variable-width LZW codes read from
// data sub-blocks, expanded into colour-map indices and written as RGBA
// pixels into the caller's clip rectangle of the logical screen.
//
// What it does with data that is not well formed is named in policies.h:
// codeSizeUpToEleven, shortDataKeepsDecoded, selfReferringEntryEndsData,
// codeAfterClearIsPixel, codeAboveNextFreeRepeatsPrevious,
// fullTableKeepsTwelveBits, cutCodeCompletedWithZeros and, for pixel values
// beyond the colour maps, valueWithoutColourIsClear.  An image's pixels do
// not depend on where it lies: one code-to-string step serves the image
// written in order and the clipped one.
#pragma once

#include <stdint.h>
#include <string.h>

#include "tkpixmap/gif/policies.h"
#include "tkpixmap/gif/source.h"

namespace tkpixmap::gif {

constexpr int kMaxCodes = 4096;
constexpr int kMaxMinCodeSize = 11;

// RGBA colours in memory order, indexed by pixel value.  Pixel values reach
// 4095 in malformed data; entries from 256 up to the largest value a code
// size allows are 0 (transparent black), so out-of-range values need no test
// in the inner loop.
struct Palette {
  uint32_t colour[kMaxCodes];

  // Entries 0 to 255: what no colour map supplies.
  void clearColourMapEntries() { memset(colour, 0, 256 * sizeof colour[0]); }
  // Entries from 256 up to the largest pixel value of data at minCodeSize
  // (the first code after a clear code, one bit wider than the literals).
  // Clearing only these keeps the cost of small images down.
  void clearBeyondColourMap(int minCodeSize) {
    const int values = 2 << minCodeSize;
    if (values > 256) memset(colour + 256, 0, size_t(values - 256) * sizeof colour[0]);
  }
};

// Where the image lands: its rectangle on the logical screen, and the clip
// rectangle of the screen that the output buffer holds (already clipped to
// the screen; Policy::imageClippedToScreen).
struct RasterGeometry {
  int imageLeft, imageTop, imageWidth, imageHeight;
  int clipX, clipY, clipWidth, clipHeight;
  bool interlaced;
};

// Result of decoding one image's data.
enum class RasterStatus {
  complete,     // every row was decoded
  endedEarly,   // the data ended first (end code, end of data, bad entry)
  badCodeSize,  // minimum code size out of range: nothing decoded
};

// All decoder state lives here, one object per decode, so decodes may run in
// several threads.  About 80 KiB, of which a decode touches only what its
// data uses: fine on the stack of a Tcl command.
class LzwDecoder {
 public:
  // Reads the data sub-blocks from `source` (positioned after the minimum
  // code size byte) and writes the pixels of `geometry`'s clip rectangle
  // into `pixels` (clipWidth x clipHeight RGBA pixels, 4 bytes each).
  // The pixels must start cleared unless writesWholeClip(geometry): then
  // decode writes or clears every pixel itself.  With skipRest the source
  // is left after the data's terminator however the data ended (the frame
  // decoder reads on); without, after the data consumed.
  RasterStatus decode(ByteSource &source, int minCodeSize, const Palette &palette,
                      const RasterGeometry &geometry, uint8_t *pixels, bool skipRest = false);

  // True when the image is exactly the clip rectangle: its pixels then fill
  // the buffer in order (an interlaced image's rows are put in place after).
  static bool fillsClip(const RasterGeometry &g) {
    return g.imageLeft == g.clipX && g.imageTop == g.clipY &&
           g.imageWidth == g.clipWidth && g.imageHeight == g.clipHeight;
  }

  // True when the image lies wholly inside the clip rectangle: it is then
  // decoded in order (at the start of the buffer, its rows moved to their
  // places after), and decode writes or clears every pixel of the buffer.
  static bool writesWholeClip(const RasterGeometry &g) {
    return g.imageWidth > 0 && g.imageHeight > 0 && g.imageLeft >= g.clipX &&
           g.imageTop >= g.clipY &&
           int64_t{g.imageLeft} + g.imageWidth <= int64_t{g.clipX} + g.clipWidth &&
           int64_t{g.imageTop} + g.imageHeight <= int64_t{g.clipY} + g.clipHeight;
  }

 private:
  // Moves the rows of an interlaced image, stored in the order they came,
  // to their places.
  static void placeInterlacedRows(uint32_t *pixels, int width, int height);
  // Moves an image decoded in order at the start of the buffer to its
  // place inside the clip rectangle, and clears the rest.
  static void placeInsideClip(uint32_t *pixels, const RasterGeometry &g);

 public:
  // One table entry: its string is the string of `prefix` followed by the
  // pixel `suffix`; `first` is the string's first pixel and `length` its
  // length (0 marks an entry that refers to itself).  One 64-bit word, so
  // that defining an entry is one store and each step of an expansion one
  // load.
  class Entry {
   public:
    Entry() = default;
    static constexpr Entry make(int prefix, int suffix, int first, int length) {
      return Entry(uint64_t(uint16_t(prefix)) | uint64_t(uint16_t(suffix)) << 16 |
                   uint64_t(uint16_t(first)) << 32 | uint64_t(uint16_t(length)) << 48);
    }
    // The entry for this string (table entry `ownCode`) followed by `suffix`.
    Entry extended(int ownCode, int suffix) const {
      return Entry(uint64_t(uint16_t(ownCode)) | uint64_t(uint16_t(suffix)) << 16 |
                   (bits_ & kFirstMask) | ((bits_ + kLengthOne) & kLengthMask));
    }
    int prefix() const { return int(bits_ & 0xFFFF); }
    int suffix() const { return int(bits_ >> 16 & 0xFFFF); }
    int first() const { return int(bits_ >> 32 & 0xFFFF); }
    int length() const { return int(bits_ >> 48); }

   private:
    static constexpr uint64_t kFirstMask = uint64_t{0xFFFF} << 32;
    static constexpr uint64_t kLengthMask = uint64_t{0xFFFF} << 48;
    static constexpr uint64_t kLengthOne = uint64_t{1} << 48;
    explicit constexpr Entry(uint64_t bits) : bits_(bits) {}
    uint64_t bits_;
  };

  // A string of the in-order decoder: where it was last written, and its
  // length (0 for an entry that refers to itself).
  struct Copy {
    const uint32_t *source;
    uint32_t length;
  };

  // Past the table: entry kMaxCodes takes the entries defined once the
  // table is full (never read); kPixelEntry the pixel that follows a clear
  // code, as a string of its own when its value is no literal; and
  // kRepeatedPixelEntry that pixel twice, when it was the next free entry
  // and a code above the table repeated it.
  static constexpr int kPixelEntry = kMaxCodes + 1;
  static constexpr int kRepeatedPixelEntry = kMaxCodes + 2;

 private:
  // The in-order decoder keeps copies_, the clipping one table_.
  union {
    Entry table_[kMaxCodes + 3];
    Copy copies_[kMaxCodes + 1];
  };
  uint16_t scratch_[kMaxCodes + 1];
};

}  // namespace tkpixmap::gif
