// lzw.cc - GIF LZW decoding into RGBA pixels.
//
// Speed comes from three things: codes are taken from a 64-bit bit buffer
// refilled several bytes at a time; every table entry keeps its string's
// length and first pixel, so a code expands with one backward walk straight
// into the output row (no stack of pending pixels); and colours go from the
// palette straight into the row.  Strings that cross a row end or the edge
// of the window take a slower pixel-at-a-time path.

#include "tkpixmap/gif/lzw.h"

#include <bit>
#include <stddef.h>
#include <string.h>

namespace tkpixmap::gif {
namespace {

// Codes, least significant bit first, out of the data sub-blocks.
class BitReader {
 public:
  explicit BitReader(ByteSource &source) : source_(source) {}

  // The next code of `width` bits, or -1 once the data has ended.  A code
  // that starts before the end of the data but is cut by it is completed
  // with zero bits.
  int read(int width) {
    if (count_ < width && !fill(width)) return -1;
    int code = static_cast<int>(bits_ & ((uint64_t{1} << width) - 1));
    bits_ >>= width;
    count_ -= width;
    return code;
  }

  // After the end code: consume the remaining sub-blocks up to the
  // terminator, so a stream is left just after the image data.
  void skipRest() {
    while (!ended_) {
      int length = source_.readByte();
      if (length <= 0 || source_.view(static_cast<size_t>(length), block_) == nullptr) {
        ended_ = true;
      }
    }
  }

 private:
  bool fill(int width) {
    for (;;) {
      if (end_ - next_ >= 8) {
        // Load 8 bytes and keep as many whole ones as fit; the surplus bits
        // above count_ are the same bytes the next load brings again.
        uint64_t word;
        memcpy(&word, next_, sizeof word);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        bits_ |= word << count_;
        int taken = (63 - count_) >> 3;
        next_ += taken;
        count_ += taken * 8;
      }
      while (count_ <= 56 && next_ < end_) {
        bits_ |= uint64_t{*next_++} << count_;
        count_ += 8;
      }
      if (count_ >= width) return true;
      if (ended_) {
        if (count_ == 0) return false;
        count_ = width;  // the bits above are zero
        return true;
      }
      int length = source_.readByte();  // 0: the terminator; -1: end of input
      if (length <= 0) {
        ended_ = true;
        continue;
      }
      const uint8_t *data = source_.view(static_cast<size_t>(length), block_);
      if (data == nullptr) {  // a cut sub-block is unusable as a whole
        ended_ = true;
        continue;
      }
      next_ = data;
      end_ = data + length;
    }
  }

  ByteSource &source_;
  uint64_t bits_ = 0;
  int count_ = 0;  // valid bits in bits_
  const uint8_t *next_ = nullptr;
  const uint8_t *end_ = nullptr;
  bool ended_ = false;  // terminator seen or the data could not be read
  uint8_t block_[256];
};

// Walks the image's rows (plain or interlaced) and stores the pixels that
// fall inside the window.
class RasterWriter {
 public:
  RasterWriter(const RasterGeometry &g, uint8_t *pixels, const Palette &palette)
      : g_(g), out_(reinterpret_cast<uint32_t *>(pixels)), colour_(palette.colour) {
    int64_t from = int64_t{g.windowX} - g.imageLeft;
    int64_t to = from + g.windowWidth;
    x0_ = static_cast<int>(from < 0 ? 0 : from);
    x1_ = static_cast<int>(to > g.imageWidth ? g.imageWidth : to);
    enterRow();
  }

  bool done() const { return done_; }

  // One pixel.  False once the raster is full.
  bool put(int pixel) {
    if (visible_ && x_ >= x0_ && x_ < x1_) out_[rowBase_ + x_] = colour_[pixel];
    if (++x_ == g_.imageWidth) nextRow();
    return !done_;
  }

  // `length` pixels given by walking the tables back from `code`, then the
  // pixel `tail` when hasTail.  The common case, a string wholly inside the
  // visible part of the current row, is written backwards in place.
  bool putString(const uint16_t *prefix, const uint16_t *suffix, int code, int length,
                 bool hasTail, int tail, uint16_t *scratch) {
    int total = length + (hasTail ? 1 : 0);
    if (visible_ && x_ >= x0_ && x_ + total <= x1_) {
      uint32_t *dst = out_ + rowBase_ + x_;
      int i = length;
      if (hasTail) dst[length] = colour_[tail];
      while (i > 0) {
        dst[--i] = colour_[suffix[code]];
        code = prefix[code];
      }
      x_ += total;
      if (x_ == g_.imageWidth) nextRow();
      return !done_;
    }
    for (int i = length; i > 0;) {
      scratch[--i] = suffix[code];
      code = prefix[code];
    }
    if (hasTail) scratch[length] = static_cast<uint16_t>(tail);
    for (int i = 0; i < total; ++i) {
      if (!put(scratch[i])) return false;
    }
    return true;
  }

 private:
  void nextRow() {
    x_ = 0;
    if (!g_.interlaced) {
      ++y_;
      if (y_ >= g_.imageHeight) done_ = true;
    } else {
      // The four passes: every 8th row from 0, every 8th from 4, every 4th
      // from 2, every 2nd from 1.
      static constexpr int kStart[4] = {0, 4, 2, 1};
      static constexpr int kStep[4] = {8, 8, 4, 2};
      y_ += kStep[pass_];
      while (y_ >= g_.imageHeight) {
        if (++pass_ > 3) {
          done_ = true;
          break;
        }
        y_ = kStart[pass_];
      }
    }
    if (!done_) enterRow();
  }

  void enterRow() {
    int64_t screenY = int64_t{g_.imageTop} + y_;
    visible_ = x0_ < x1_ && screenY >= g_.windowY && screenY < int64_t{g_.windowY} + g_.windowHeight;
    rowBase_ = visible_ ? static_cast<ptrdiff_t>((screenY - g_.windowY) * g_.windowWidth +
                                                 (int64_t{g_.imageLeft} - g_.windowX))
                        : 0;
  }

  const RasterGeometry &g_;
  uint32_t *out_;
  const uint32_t *colour_;
  int x0_ = 0, x1_ = 0;   // visible image columns [x0_, x1_)
  int x_ = 0, y_ = 0;     // position in the image
  int pass_ = 0;
  bool visible_ = false;  // the current row lies in the window
  bool done_ = false;
  ptrdiff_t rowBase_ = 0;  // out_[rowBase_ + x] is image column x of this row
};

}  // namespace

RasterStatus LzwDecoder::decode(ByteSource &source, int minCodeSize, const Palette &palette,
                                const RasterGeometry &geometry, uint8_t *pixels) {
  if (minCodeSize < 0 || minCodeSize > kMaxMinCodeSize) return RasterStatus::badCodeSize;
  if (geometry.imageWidth <= 0 || geometry.imageHeight <= 0) return RasterStatus::complete;

  const int clearCode = 1 << minCodeSize;
  const int endCode = clearCode + 1;
  // Literal entries are one pixel each.  Entries not yet defined (and the
  // clear and end codes) read, when a string refers to them, as two pixels
  // of value 0: the effect of all-zero table links.
  for (int e = 0; e < clearCode; ++e) {
    prefix_[e] = 0;
    suffix_[e] = static_cast<uint16_t>(e);
    first_[e] = static_cast<uint16_t>(e);
    length_[e] = 1;
  }
  auto resetEntries = [this](int from, int to) {
    for (int e = from; e < to; ++e) {
      prefix_[e] = 0;
      suffix_[e] = 0;
      first_[e] = 0;
      length_[e] = 2;
    }
  };
  resetEntries(clearCode, kMaxCodes);

  int codeWidth = minCodeSize + 1;
  int widthLimit = 2 * clearCode;
  int nextFree = clearCode + 2;

  BitReader bits(source);
  RasterWriter raster(geometry, pixels, palette);

  int code;
  do {
    code = bits.read(codeWidth);
  } while (code == clearCode);
  if (code < 0) return RasterStatus::endedEarly;
  if (!raster.put(code)) return RasterStatus::complete;
  int previous = code;
  int firstPixel = code;

  for (;;) {
    code = bits.read(codeWidth);
    if (code < 0) return RasterStatus::endedEarly;

    if (code == clearCode) {
      resetEntries(clearCode + 2, nextFree);
      codeWidth = minCodeSize + 1;
      widthLimit = 2 * clearCode;
      nextFree = clearCode + 2;
      // Whatever follows a clear code is a pixel, even another clear code.
      code = bits.read(codeWidth);
      if (code < 0) return RasterStatus::endedEarly;
      if (!raster.put(code)) return RasterStatus::complete;
      previous = code;
      firstPixel = code;
      continue;
    }
    if (code == endCode) {
      bits.skipRest();
      return RasterStatus::endedEarly;
    }

    int incoming;
    if (code >= nextFree) {
      // Not yet defined: the previous string followed by its first pixel.
      if (length_[previous] == 0) return RasterStatus::endedEarly;
      if (!raster.putString(prefix_, suffix_, previous, length_[previous], true, firstPixel,
                            scratch_)) {
        return RasterStatus::complete;
      }
      firstPixel = first_[previous];
      incoming = nextFree < kMaxCodes ? nextFree : code;
    } else {
      if (length_[code] == 0) return RasterStatus::endedEarly;  // refers to itself
      if (!raster.putString(prefix_, suffix_, code, length_[code], false, 0, scratch_)) {
        return RasterStatus::complete;
      }
      firstPixel = first_[code];
      incoming = code;
    }

    if (nextFree < kMaxCodes) {
      prefix_[nextFree] = static_cast<uint16_t>(previous);
      suffix_[nextFree] = static_cast<uint16_t>(firstPixel);
      first_[nextFree] = first_[previous];
      bool selfReferring = previous == nextFree || length_[previous] == 0;
      length_[nextFree] = selfReferring ? 0 : static_cast<uint16_t>(length_[previous] + 1);
      ++nextFree;
      if (nextFree >= widthLimit && widthLimit < kMaxCodes) {
        widthLimit *= 2;
        ++codeWidth;
      }
    }
    previous = incoming;
  }
}

}  // namespace tkpixmap::gif
