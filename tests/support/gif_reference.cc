// gif_reference.cc - the reference model of GIF decoding (see the header).

#include "tests/support/gif_reference.h"

#include <string.h>

#include <memory>

namespace tkpixmap::testing {
namespace {

class Input {
 public:
  explicit Input(const std::vector<uint8_t> &data) : data_(data) {}
  int byte() { return at_ < data_.size() ? data_[at_++] : -1; }
  bool bytes(uint8_t *dst, size_t n) {
    if (data_.size() - at_ < n) {
      at_ = data_.size();
      return false;
    }
    memcpy(dst, data_.data() + at_, n);
    at_ += n;
    return true;
  }

 private:
  const std::vector<uint8_t> &data_;
  size_t at_ = 0;
};

// All image data bits up front: the sub-blocks up to the terminator, an
// unreadable sub-block, or the end of the file.
std::vector<uint8_t> collectData(Input &in) {
  std::vector<uint8_t> data;
  for (;;) {
    int n = in.byte();
    if (n <= 0) return data;
    uint8_t block[255];
    if (!in.bytes(block, size_t(n))) return data;
    data.insert(data.end(), block, block + n);
  }
}

class Bits {
 public:
  explicit Bits(std::vector<uint8_t> data) : data_(std::move(data)) {}
  // A code is delivered when it starts inside the data; missing bits are 0.
  int read(int width) {
    if (pos_ >= data_.size() * 8) return -1;
    int code = 0;
    for (int i = 0; i < width; ++i, ++pos_) {
      size_t byte = pos_ / 8;
      int bit = byte < data_.size() ? (data_[byte] >> (pos_ % 8)) & 1 : 0;
      code |= bit << i;
    }
    return code;
  }

 private:
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
};

struct Lzw {
  int minCodeSize, clear, end, width, nextFree, limit;
  int prefix[4096], suffix[4096];
  std::vector<int> pending;
  int firstPixel = 0, previous = 0;
  bool atStart = true;
  bool *territory;
  Bits *bits;

  void resetTable() {
    for (int e = 0; e < 4096; ++e) {
      prefix[e] = 0;
      suffix[e] = e < clear ? e : 0;
    }
    width = minCodeSize + 1;
    limit = 2 * clear;
    nextFree = clear + 2;
    pending.clear();
  }

  // Next pixel, or a negative value when there are no more.
  int next() {
    if (atStart) {
      atStart = false;
      int c;
      do {
        c = bits->read(width);
      } while (c == clear);
      firstPixel = previous = c;
      return c;
    }
    if (!pending.empty()) {
      int p = pending.back();
      pending.pop_back();
      return p;
    }
    for (;;) {
      int c = bits->read(width);
      if (c < 0) return -1;
      if (c == clear) {
        resetTable();
        c = bits->read(width);
        firstPixel = previous = c;
        return c;
      }
      if (c == end) return -2;
      int incoming = c;
      if (c >= nextFree) {
        if (c > nextFree) *territory = true;
        pending.push_back(firstPixel);
        c = previous;
      }
      while (c >= clear) {
        pending.push_back(suffix[c]);
        if (prefix[c] == c) return -2;
        if (pending.size() > 8192) return -2;
        c = prefix[c];
      }
      firstPixel = suffix[c];
      pending.push_back(firstPixel);
      if (nextFree <= 4095) {
        // A prefix that is not a string (a code not yet defined, or the
        // clear or end code delivered as a pixel) is where decoders may
        // differ.
        if (previous >= nextFree || previous == clear || previous == end) *territory = true;
        prefix[nextFree] = previous;
        suffix[nextFree] = firstPixel;
        ++nextFree;
        if (nextFree >= limit && limit <= 4095) {
          limit *= 2;
          ++width;
        }
      }
      previous = incoming;
      int p = pending.back();
      pending.pop_back();
      return p;
    }
  }
};

}  // namespace

ReferenceImage referenceDecode(const std::vector<uint8_t> &file) {
  ReferenceImage out;
  Input in(file);
  uint8_t header[13];
  if (!in.bytes(header, 10)) return out;
  if (memcmp(header, "GIF87a", 6) != 0 && memcmp(header, "GIF89a", 6) != 0) return out;
  int sw = header[6] | header[7] << 8, sh = header[8] | header[9] << 8;
  if (sw == 0 || sh == 0) return out;
  out.width = sw;
  out.height = sh;
  out.ok = true;
  if (!in.bytes(header + 10, 3)) return out;
  auto fail = [&out]() {
    out.ok = false;
    out.rgba.clear();
    return out;
  };

  uint8_t map[4096][4] = {};
  auto readMap = [&](int n) {
    for (int i = 0; i < n; ++i) {
      if (!in.bytes(map[i], 3)) return false;
      map[i][3] = 255;
    }
    return true;
  };
  if ((header[10] & 0x80) && !readMap(2 << (header[10] & 7))) return fail();
  out.rgba.assign(size_t(sw) * sh * 4, 0);
  int transparent = -1;

  for (;;) {
    int b = in.byte();
    if (b < 0 || b == 0x3B) return out;
    if (b == 0x21) {
      int label = in.byte();
      if (label < 0) return fail();
      bool first = true;
      for (;;) {
        int n = in.byte();
        if (n == 0) break;
        uint8_t block[255] = {};
        if (n < 0 || !in.bytes(block, size_t(n))) {
          // A graphic control block that cannot be read is passed over.
          if (label == 0xF9 && first) break;
          return fail();
        }
        if (label == 0xF9 && first && (block[0] & 1)) transparent = block[3];
        first = false;
      }
      continue;
    }
    if (b != 0x2C) continue;
    uint8_t d[9];
    if (!in.bytes(d, 9)) return fail();
    if ((d[8] & 0x80) && !readMap(2 << (d[8] & 7))) return fail();
    int minCodeSize = in.byte();
    if (minCodeSize < 0 || minCodeSize > 11) return fail();
    if (transparent >= 0) memset(map[transparent], 0, 4);
    int left = d[0] | d[1] << 8, top = d[2] | d[3] << 8;
    int iw = d[4] | d[5] << 8, ih = d[6] | d[7] << 8;
    bool interlaced = d[8] & 0x40;
    if (iw == 0 || ih == 0) return out;

    Bits bits(collectData(in));
    auto lzw = std::make_unique<Lzw>();
    lzw->minCodeSize = minCodeSize;
    lzw->clear = 1 << minCodeSize;
    lzw->end = lzw->clear + 1;
    lzw->territory = &out.undefinedTerritory;
    lzw->bits = &bits;
    lzw->resetTable();

    std::vector<int> rows;
    if (interlaced) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int y = start[pass]; y < ih; y += step[pass]) rows.push_back(y);
      }
    } else {
      for (int y = 0; y < ih; ++y) rows.push_back(y);
    }
    for (int y : rows) {
      for (int x = 0; x < iw; ++x) {
        int v = lzw->next();
        if (v < 0) return out;
        int sx = left + x, sy = top + y;
        if (sx < sw && sy < sh) memcpy(&out.rgba[(size_t(sy) * sw + sx) * 4], map[v], 4);
      }
    }
    return out;
  }
}

}  // namespace tkpixmap::testing
