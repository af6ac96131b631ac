// lzw.cc - GIF LZW decoding into RGBA pixels.
//
// One loop (decodeCodes) turns codes into strings for both ways of writing
// rows, so an image's pixels never depend on where it lies.  Speed comes
// from: codes taken from 64 pending bits kept in registers and refilled
// with one 8-byte load from gathered sub-blocks; for an image that lies
// inside the clip rectangle, strings copied from where they were last written (a literal
// from the palette), so a code costs one table load and one copy: of 16
// bytes while most strings are up to 4 pixels long, else in 8-pixel
// blocks; otherwise table entries that keep their string's length and
// first pixel, expanded with one backward walk straight into the row.
// Strings that cross a row end or the edge of the clip rectangle take a slower
// pixel-at-a-time path.

#include "tkpixmap/gif/lzw.h"

#include <algorithm>
#include <bit>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace tkpixmap::gif {
namespace {

// What BitReader::read gives once the data has ended: above every code, so
// the loop meets it only off its common path.
constexpr int kDataEnded = 1 << 16;

// The bits not yet used as codes: kept in the decoding loop's registers,
// and handed to the reader by value when they run short.
struct PendingBits {
  uint64_t bits = 0;
  int count = 0;  // valid bits in `bits`
};

// Codes, least significant bit first, out of the data sub-blocks.  Whole
// sub-blocks are gathered, several at a time, into one buffer (never past
// the terminator), so that the pending bits are nearly always refilled with one
// 8-byte load inside the loop.
class BitReader {
 public:
  explicit BitReader(ByteSource &source) : source_(source) {}

  // The next code of `width` bits (`mask` holds that many one bits, kept
  // by the caller so that no code pays for making it), or kDataEnded once
  // the data has ended.  A code that starts before the end of the data but
  // is cut by it is completed with zero bits.
  [[gnu::always_inline]] int read(PendingBits &w, int width, uint32_t mask) {
    if (w.count < width) [[unlikely]] {
      if (end_ - next_ >= 8) [[likely]] {
        // Keep as many whole bytes as fit; the surplus bits above w.count
        // are the same bytes the next load brings again.
        uint64_t word;
        memcpy(&word, next_, sizeof word);
        if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
        w.bits |= word << w.count;
        const int taken = (63 - w.count) >> 3;
        next_ += taken;
        w.count += taken * 8;
      } else {
        w = fill(w, width);
        if (w.count < width) return kDataEnded;
      }
    }
    int code = static_cast<int>(w.bits & mask);
    w.bits >>= width;
    w.count -= width;
    return code;
  }

  // After the end code: consume the remaining sub-blocks up to the
  // terminator, so a stream is left just after the image data.
  void skipRest() {
    while (!ended_) {
      int length = source_.readByte();
      if (length <= 0 || source_.view(static_cast<size_t>(length), buffer_) == nullptr) {
        ended_ = true;
      }
    }
  }

 private:
  // The pending bits with at least `width` of them, or fewer once the data has ended.
  [[gnu::noinline]] PendingBits fill(PendingBits w, int width) {
    for (;;) {
      while (w.count <= 56 && next_ < end_) {
        w.bits |= uint64_t{*next_++} << w.count;
        w.count += 8;
      }
      if (w.count >= width) return w;
      if (ended_) {
        if (w.count > 0) w.count = width;  // the bits above are zero
        return w;
      }
      gather();
    }
  }

  // Reads the following sub-blocks into the buffer, as many as fit.
  void gather() {
    size_t filled = 0;
    while (!ended_ && filled + 255 <= sizeof buffer_) {
      int length = source_.readByte();  // 0: the terminator; -1: end of input
      if (length <= 0) {
        ended_ = true;
        break;
      }
      uint8_t *to = buffer_ + filled;
      const uint8_t *data = source_.view(static_cast<size_t>(length), to);
      if (data == nullptr) {  // a cut sub-block is unusable as a whole
        ended_ = true;
        break;
      }
      if (data != to) memcpy(to, data, static_cast<size_t>(length));
      filled += static_cast<size_t>(length);
    }
    next_ = buffer_;
    end_ = buffer_ + filled;
  }

  ByteSource &source_;
  const uint8_t *next_ = nullptr;
  const uint8_t *end_ = nullptr;
  bool ended_ = false;  // terminator seen or the data could not be read
  uint8_t buffer_[16 * 255];
};

// Walks the image's rows (plain or interlaced) and stores the pixels that
// fall inside the clip rectangle.
template <typename Entry>
class RasterWriter {
 public:
  RasterWriter(const RasterGeometry &g, uint8_t *pixels, const Palette &palette)
      : g_(g), out_(reinterpret_cast<uint32_t *>(pixels)), colour_(palette.colour) {
    int64_t from = int64_t{g.clipX} - g.imageLeft;
    int64_t to = from + g.clipWidth;
    x0_ = static_cast<int>(from < 0 ? 0 : from);
    x1_ = static_cast<int>(to > g.imageWidth ? g.imageWidth : to);
    enterRow();
  }

  // One pixel.  False once the raster is full.
  [[gnu::always_inline]] bool put(int pixel) {
    if (x_ < fastEnd_) {
      out_[rowBase_ + x_] = colour_[pixel];
      if (++x_ == g_.imageWidth) nextRow();
      return !done_;
    }
    return putSlow(pixel);
  }

  // The string of table entry `code` (`length` pixels), then the pixel
  // `tail` when hasTail.  The common case, a string wholly inside the
  // visible part of the current row, is written backwards in place.
  [[gnu::always_inline]] bool putString(const Entry *table, int code, int length, bool hasTail,
                                        int tail, uint16_t *scratch) {
    int total = length + (hasTail ? 1 : 0);
    if (x_ + total <= fastEnd_) [[likely]] {
      uint32_t *dst = out_ + rowBase_ + x_;
      if (hasTail) dst[length] = colour_[tail];
      for (int i = length; i > 0;) {
        const Entry e = table[code];
        dst[--i] = colour_[e.suffix()];
        code = e.prefix();
      }
      x_ += total;
      if (x_ == g_.imageWidth) nextRow();
      return !done_;
    }
    return putStringSlow(table, code, length, hasTail, tail, scratch);
  }

 private:
  [[gnu::noinline]] bool putSlow(int pixel) {
    if (visible_ && x_ >= x0_ && x_ < x1_) out_[rowBase_ + x_] = colour_[pixel];
    if (++x_ == g_.imageWidth) nextRow();
    return !done_;
  }

  [[gnu::noinline]] bool putStringSlow(const Entry *table, int code, int length, bool hasTail,
                                       int tail, uint16_t *scratch) {
    for (int i = length; i > 0;) {
      scratch[--i] = static_cast<uint16_t>(table[code].suffix());
      code = table[code].prefix();
    }
    int total = length;
    if (hasTail) scratch[total++] = static_cast<uint16_t>(tail);
    for (int i = 0; i < total; ++i) {
      if (!putSlow(scratch[i])) return false;
    }
    return true;
  }

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
    visible_ = x0_ < x1_ && screenY >= g_.clipY && screenY < int64_t{g_.clipY} + g_.clipHeight;
    rowBase_ = visible_ ? static_cast<ptrdiff_t>((screenY - g_.clipY) * g_.clipWidth +
                                                 (int64_t{g_.imageLeft} - g_.clipX))
                        : 0;
    // Pixels before fastEnd_ go straight to the row; a row cut on its left
    // takes the checked path throughout.
    fastEnd_ = visible_ && x0_ == 0 ? x1_ : 0;
  }

  const RasterGeometry &g_;
  uint32_t *out_;
  const uint32_t *colour_;
  int x0_ = 0, x1_ = 0;   // visible image columns [x0_, x1_)
  int x_ = 0, y_ = 0;     // position in the image
  int fastEnd_ = 0;       // columns below this are visible without a check
  int pass_ = 0;
  bool visible_ = false;  // the current row lies in the clip rectangle
  bool done_ = false;
  ptrdiff_t rowBase_ = 0;  // out_[rowBase_ + x] is image column x of this row
};

}  // namespace

namespace {

// The image row that the k-th stored row of an interlaced image is.
int interlacedRow(int k, int height) {
  const int pass0 = (height + 7) / 8;      // rows 0, 8, 16, ...
  const int pass1 = (height + 3) / 8;      // rows 4, 12, 20, ...
  const int pass2 = (height + 1) / 4;      // rows 2, 6, 10, ...
  if (k < pass0) return 8 * k;
  k -= pass0;
  if (k < pass1) return 8 * k + 4;
  k -= pass1;
  if (k < pass2) return 4 * k + 2;
  return 2 * (k - pass2) + 1;
}

void swapRows(uint32_t *a, uint32_t *b, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    uint32_t t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

}  // namespace

void LzwDecoder::placeInterlacedRows(uint32_t *pixels, int width, int height) {
  // Follow each cycle of the row permutation, swapping rows into place, so
  // no second buffer is needed.  65536 rows at most: the marks fit here.
  uint64_t placed[65536 / 64] = {};
  auto mark = [&placed](int row) { placed[row / 64] |= uint64_t{1} << (row % 64); };
  auto isPlaced = [&placed](int row) { return (placed[row / 64] >> (row % 64) & 1) != 0; };
  const size_t w = size_t(width);
  for (int start = 0; start < height; ++start) {
    if (isPlaced(start)) continue;
    mark(start);
    // Row `start` holds stored row `start`; it belongs at interlacedRow(start).
    for (int k = start;;) {
      int target = interlacedRow(k, height);
      if (target == start) break;
      swapRows(pixels + size_t(start) * w, pixels + size_t(target) * w, w);
      mark(target);
      k = target;
    }
  }
}

namespace {

// What writing one code's string led to.
enum class Put {
  more,  // room for more pixels
  full,  // the raster is complete
  dead,  // the code's entry refers to itself: the data ends
};

// The one code-to-string step of both decoders: which string each code
// stands for and which entry it defines.  `Strings` keeps the strings and
// writes them (in buffer order, or clipped into any clip rectangle); it has
//   putPixel(p, refersToItself)
//                    the code after a clear code, a string of one pixel p
//                    whatever its value; refersToItself when p is the next
//                    free entry: the entry defined next then refers to
//                    itself
//   putCode(c, slot) the string of entry c below the next free one;
//                    defines entry `slot` as the previous string plus c's
//                    first pixel.  The clear and end codes read as entries
//                    that refer to themselves (Put::dead, nothing written),
//                    so the common path needs one test to tell them apart
//   putPreviousAndItsFirst(slot)
//                    a code at or above the next free entry: the previous
//                    string plus its own first pixel, which it also defines
//                    as entry `slot`
//   reconsider(codes) at each width change and clear code: `codes` codes
//                    came since the last call, should the way strings are
//                    written depend on them
// and keeps the previous string for the next step.  Once the table is full
// `slot` is kMaxCodes, a spare entry never read.
//
// The code width and the next free entry live in locals (and the pending bits
// in registers) so that nothing of the loop's own state goes through memory.
template <typename Strings>
RasterStatus decodeCodes(BitReader &reader, int minCodeSize, Strings &strings) {
  const int clearCode = 1 << minCodeSize;
  const int endCode = clearCode + 1;
  // The width grows by one bit when the next free entry reaches widenAt
  // (2^width), up to 12 bits; past that widenAt lies beyond the table.
  int width, nextFree, widenAt;
  uint32_t mask;  // width one bits
  auto reset = [&] {
    width = minCodeSize + 1;
    mask = (2u << minCodeSize) - 1;
    nextFree = clearCode + 2;
    widenAt = 2 * clearCode < kMaxCodes ? 2 * clearCode : kMaxCodes + 1;
  };
  reset();
  int countedFrom = nextFree;  // the next free entry at the last reconsider
  PendingBits pending;

  int code;
  do {
    code = reader.read(pending, width, mask);
  } while (code == clearCode);
  if (code == kDataEnded) return RasterStatus::endedEarly;
  if (!strings.putPixel(code, code == nextFree)) return RasterStatus::complete;
  for (;;) {
    code = reader.read(pending, width, mask);
    Put put;
    if (code < nextFree) [[likely]] {
      put = strings.putCode(code, nextFree);
      if (put == Put::dead) [[unlikely]] {
        if (code == clearCode) {
          strings.reconsider(nextFree - countedFrom);
          reset();
          countedFrom = nextFree;
          code = reader.read(pending, width, mask);  // whatever follows is a pixel
          if (code == kDataEnded) return RasterStatus::endedEarly;
          if (!strings.putPixel(code, code == nextFree)) return RasterStatus::complete;
          continue;
        }
        if (code == endCode) reader.skipRest();
        return RasterStatus::endedEarly;
      }
    } else if (code == kDataEnded) {
      return RasterStatus::endedEarly;
    } else {
      put = strings.putPreviousAndItsFirst(nextFree);
    }
    if (put == Put::full) [[unlikely]] return RasterStatus::complete;
    if (++nextFree >= widenAt) [[unlikely]] {
      strings.reconsider(nextFree - countedFrom);
      countedFrom = nextFree;
      if (nextFree > kMaxCodes) {
        nextFree = kMaxCodes;  // full: codes stay 12 bits until a clear code
      } else {
        ++width;
        mask = mask << 1 | 1;
        // Doubling the limit, not the entry: at code size 0 the width grows
        // at two entries in a row.
        widenAt = 2 * widenAt < kMaxCodes ? 2 * widenAt : kMaxCodes + 1;
      }
    }
  }
}

// Copies the first `length` pixels of `from` to `to` in blocks of 8, which
// may write up to 7 pixels past `length` (they are written again later).
// Every block is read whole before it is stored, and the pixels needed lie
// before `to`, so source and destination may overlap.
[[gnu::always_inline]] inline void copyBlocks(uint32_t *to, const uint32_t *from, uint32_t length) {
  // Two register-sized halves: a plain array would be staged on the stack.
  typedef uint32_t Half __attribute__((vector_size(16)));
  const uint32_t *const stop = to + length;
  do {
    Half low, high;
    memcpy(&low, from, sizeof low);
    memcpy(&high, from + 4, sizeof high);
    memcpy(to, &low, sizeof low);
    memcpy(to + 4, &high, sizeof high);
    from += 8;
    to += 8;
  } while (to < stop);
}

// Copies a string as copyBlocks does, but the commonest strings (up to 4
// pixels: literals, and nearly every code of noisy images) take one 16-byte
// load and store, with no loop.
[[gnu::always_inline]] inline void copyString(uint32_t *to, const uint32_t *from, uint32_t length) {
  typedef uint32_t Quad __attribute__((vector_size(16)));
  Quad head;
  memcpy(&head, from, sizeof head);
  memcpy(to, &head, sizeof head);
  if (length > 4) [[unlikely]] copyBlocks(to + 4, from + 4, length - 4);
}

// Strings for an image that fills the buffer in order: each string is
// copied from where it was last written (or from the palette, for a
// literal), and a new entry's string is the previous one plus the pixel
// now after it.
class InOrderStrings {
 public:
  using Copy = LzwDecoder::Copy;

  InOrderStrings(int clearCode, Copy *copies, const Palette &palette, uint32_t *pixels,
                 size_t count)
      : copies_(copies), colour_(palette.colour), out_(pixels), end_(pixels + count),
        blocksEnd_(reinterpret_cast<uintptr_t>(end_) - kBlockSlack * sizeof *end_) {
    // A literal's string is its palette colour; 8 palette entries past any
    // literal exist, so literals copy in blocks like every other string.
    for (int e = 0; e < clearCode; ++e) copies[e] = Copy{colour_ + e, 1};
    copies[clearCode] = copies[clearCode + 1] = Copy{nullptr, 0};
  }

  [[gnu::always_inline]] bool putPixel(int pixel, bool refersToItself) {
    *out_ = colour_[pixel];
    bool more = put(out_, 1);  // copying it onto itself records where it went
    if (refersToItself) previousLength_ = kRefersToItself;
    return more;
  }

  [[gnu::always_inline]] Put putCode(int code, int slot) {
    const Copy string = copies_[code];
    if (string.length == 0) return Put::dead;
    const uint32_t *start = previousStart_;
    const uint32_t length = previousLength_;
    if (!put(string.source, string.length)) return Put::full;
    // The previous string plus this one's first pixel: exactly what now
    // lies at the previous string's start (length 0 after kRefersToItself).
    copies_[slot] = Copy{start, length + 1};
    return Put::more;
  }

  Put putPreviousAndItsFirst(int slot) {
    // The previous string copied one pixel longer onto its own end.
    const bool refersToItself = previousLength_ == kRefersToItself;
    const uint32_t *start = previousStart_;
    const uint32_t length = (refersToItself ? 1 : previousLength_) + 1;
    uint32_t *to = out_;
    size_t n = std::min(size_t(length), size_t(end_ - out_));
    for (size_t i = 0; i < n; ++i) to[i] = start[i];
    out_ += n;
    previousStart_ = to;
    previousLength_ = length;
    if (out_ >= end_) return Put::full;
    copies_[slot] = refersToItself ? Copy{nullptr, 0} : Copy{start, length};
    return Put::more;
  }

  // Chooses the copy for the strings that follow from the pixels per code
  // of the `codes` codes since the last call.
  void reconsider(int codes) {
    const size_t pixels = size_t(out_ - countedFrom_);
    countedFrom_ = out_;
    if (codes >= kFewCodes) shortStrings_ = 2 * pixels < 5 * size_t(codes);
  }

  // Clears whatever the data did not reach (and any block written past it).
  void clearRest() { memset(out_, 0, size_t(end_ - out_) * sizeof *out_); }

 private:
  // Blocks of up to this many pixels past a string stay in the buffer when
  // the string starts no later than this.
  static constexpr size_t kBlockSlack = 8;
  // Fewer codes than this say too little about the strings to come.
  static constexpr int kFewCodes = 32;
  // The length recorded for a pixel equal to the next free entry: one more
  // is 0, so the entry defined on it refers to itself with no test.
  static constexpr uint32_t kRefersToItself = UINT32_MAX;

  // Writes `length` pixels of the string at `from`, clipped to the buffer.
  // False once the buffer is full.
  [[gnu::always_inline]] bool put(const uint32_t *from, uint32_t length) {
    previousStart_ = out_;
    previousLength_ = length;
    // In addresses, so that no pointer is formed past the buffer; in a
    // buffer smaller than a block every string takes the checked copy.
    if (reinterpret_cast<uintptr_t>(out_) + length * sizeof *out_ <= blocksEnd_) [[likely]] {
      if (shortStrings_) {
        copyString(out_, from, length);
      } else {
        copyBlocks(out_, from, length);
      }
      out_ += length;
      return true;
    }
    size_t n = std::min(size_t(length), size_t(end_ - out_));
    for (size_t i = 0; i < n; ++i) out_[i] = from[i];
    out_ += n;
    return out_ < end_;
  }

  Copy *const copies_;
  const uint32_t *const colour_;
  uint32_t *out_;
  uint32_t *const end_;
  const uintptr_t blocksEnd_;  // strings ending by here leave room for a block
  const uint32_t *previousStart_ = nullptr;  // where the previous string went
  uint32_t previousLength_ = 0;
  // Which copy suits the strings of late: most codes of noisy and
  // photo-like images are 1 to 4 pixels, but where 5 to 8 are common the
  // test for a longer string would be mispredicted more than the 16-byte
  // copy saves.  Decided afresh every so many codes (reconsider).
  bool shortStrings_ = true;
  const uint32_t *countedFrom_ = out_;
};

// Strings for any geometry: kept as table entries and expanded through the
// table into the rows the clip rectangle holds.
class ClippedStrings {
 public:
  using Entry = LzwDecoder::Entry;

  ClippedStrings(int clearCode, Entry *table, uint16_t *scratch, const Palette &palette,
                 const RasterGeometry &geometry, uint8_t *pixels)
      : clearCode_(clearCode), table_(table), scratch_(scratch),
        raster_(geometry, pixels, palette) {
    // Only literals and entries defined since the last clear code are ever
    // read, so the table needs no clearing.
    for (int e = 0; e < clearCode; ++e) table[e] = Entry::make(0, e, e, 1);
    table[clearCode] = table[clearCode + 1] = Entry::make(0, 0, 0, 0);
  }

  [[gnu::always_inline]] bool putPixel(int pixel, bool refersToItself) {
    nextRefersToItself_ = refersToItself;
    if (pixel < clearCode_) {
      previous_ = pixel;
    } else {
      table_[LzwDecoder::kPixelEntry] = Entry::make(0, pixel, pixel, 1);
      previous_ = LzwDecoder::kPixelEntry;
    }
    return raster_.put(pixel);
  }

  [[gnu::always_inline]] Put putCode(int code, int slot) {
    int first;
    if (code < clearCode_) {
      // A literal, the commonest code in photographs.
      if (!raster_.put(code)) return Put::full;
      first = code;
    } else {
      const Entry entry = table_[code];
      if (entry.length() == 0) return Put::dead;
      if (!raster_.putString(table_, code, entry.length(), false, 0, scratch_)) return Put::full;
      first = entry.first();
    }
    define(slot, first);
    previous_ = code;
    return Put::more;
  }

  Put putPreviousAndItsFirst(int slot) {
    const Entry prior = table_[previous_];
    if (!raster_.putString(table_, previous_, prior.length(), true, prior.first(), scratch_)) {
      return Put::full;
    }
    const Entry string = prior.extended(previous_, prior.first());
    if (nextRefersToItself_) {
      // The entry is no string, but the next one is defined on the string
      // just written: it is kept past the table.
      table_[slot] = Entry::make(0, 0, 0, 0);
      table_[LzwDecoder::kRepeatedPixelEntry] = string;
      previous_ = LzwDecoder::kRepeatedPixelEntry;
      nextRefersToItself_ = false;
    } else {
      table_[slot] = string;
      previous_ = slot;
    }
    return Put::more;
  }

  // The strings are expanded through the table whatever their lengths.
  void reconsider(int) {}

 private:
  [[gnu::always_inline]] void define(int slot, int firstPixel) {
    table_[slot] = nextRefersToItself_ ? Entry::make(0, 0, 0, 0)
                                       : table_[previous_].extended(previous_, firstPixel);
    nextRefersToItself_ = false;
  }

  const int clearCode_;
  Entry *const table_;
  uint16_t *const scratch_;
  RasterWriter<Entry> raster_;
  int previous_ = 0;  // the entry holding the previous string
  bool nextRefersToItself_ = false;
};

}  // namespace

RasterStatus LzwDecoder::decode(ByteSource &source, int minCodeSize, const Palette &palette,
                                const RasterGeometry &geometry, uint8_t *pixels, bool skipRest) {
  if (minCodeSize < 0 || minCodeSize > kMaxMinCodeSize) return RasterStatus::badCodeSize;
  BitReader bits(source);
  RasterStatus status = RasterStatus::complete;
  if (geometry.imageWidth <= 0 || geometry.imageHeight <= 0) {
    // Nothing to decode.
  } else if (writesWholeClip(geometry)) {
    auto *out = reinterpret_cast<uint32_t *>(pixels);
    const size_t count = size_t(geometry.imageWidth) * size_t(geometry.imageHeight);
    InOrderStrings strings(1 << minCodeSize, copies_, palette, out, count);
    status = decodeCodes(bits, minCodeSize, strings);
    strings.clearRest();
    // Rows the data did not reach are clear, so they may move with the rest.
    if (geometry.interlaced) placeInterlacedRows(out, geometry.imageWidth, geometry.imageHeight);
    if (!fillsClip(geometry)) placeInsideClip(out, geometry);
  } else {
    ClippedStrings strings(1 << minCodeSize, table_, scratch_, palette, geometry, pixels);
    status = decodeCodes(bits, minCodeSize, strings);
  }
  if (skipRest) bits.skipRest();
  return status;
}

void LzwDecoder::placeInsideClip(uint32_t *pixels, const RasterGeometry &g) {
  // Row y, decoded at y * width, belongs at (top + y) * stride + left, never
  // before it: moved from the last row to the first, no row is overwritten
  // before it has moved.
  const size_t width = size_t(g.imageWidth), height = size_t(g.imageHeight);
  const size_t stride = size_t(g.clipWidth);
  const size_t left = size_t(g.imageLeft - g.clipX), top = size_t(g.imageTop - g.clipY);
  for (size_t y = height; y-- > 0;) {
    uint32_t *to = pixels + (top + y) * stride + left;
    const uint32_t *from = pixels + y * width;
    if (to != from) memmove(to, from, width * sizeof *pixels);
  }
  // What lies around the image: from the end of one row's image pixels to
  // the start of the next row's, in one run each.
  uint32_t *clearFrom = pixels;
  for (size_t y = 0; y < height; ++y) {
    uint32_t *rowStart = pixels + (top + y) * stride + left;
    memset(clearFrom, 0, size_t(rowStart - clearFrom) * sizeof *pixels);
    clearFrom = rowStart + width;
  }
  uint32_t *const end = pixels + stride * size_t(g.clipHeight);
  memset(clearFrom, 0, size_t(end - clearFrom) * sizeof *pixels);
}

}  // namespace tkpixmap::gif
