// gif_reference.cc - the reference model of GIF decoding (see the header).

#include "tests/support/gif_reference.h"

#include <string.h>

#include <memory>
#include <vector>

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

// LZW with every string spelled out.  The policies for data that is not
// well formed: the code after a clear code is a string of one pixel
// whatever its value; a code at or above the next free entry is the
// previous string plus its own first pixel; when the pixel after a clear
// code equals the next free entry, that entry refers to itself and using it
// ends the data.
struct Lzw {
  int minCodeSize, clear, end, width, nextFree, limit;
  std::vector<std::vector<int>> table;  // strings; empty: refers to itself
  std::vector<int> previous;            // the previous code's string
  bool nextRefersToItself = false;
  std::vector<int> pending;  // pixels of the current string not yet taken
  size_t taken = 0;
  bool atStart = true;
  Bits *bits;

  // Entries above the literals are only read once defined again, so they
  // need no clearing.
  void resetTable() {
    if (table.empty()) {
      table.resize(4096);
      for (int e = 0; e < clear; ++e) table[size_t(e)] = {e};
    }
    width = minCodeSize + 1;
    limit = 2 * clear;
    nextFree = clear + 2;
  }

  void define(const std::vector<int> &string) {
    if (nextFree > 4095) return;
    table[size_t(nextFree)] = nextRefersToItself ? std::vector<int>{} : string;
    nextRefersToItself = false;
    ++nextFree;
    if (nextFree >= limit && limit <= 4095) {
      limit *= 2;
      ++width;
    }
  }

  // The string of the next code, or false when the data ends.
  bool nextString() {
    int c = bits->read(width);
    if (atStart) {
      atStart = false;
      while (c == clear) c = bits->read(width);
    } else if (c == clear) {
      resetTable();
      c = bits->read(width);
    } else {
      if (c < 0 || c == end) return false;
      if (c < nextFree) {
        if (table[size_t(c)].empty()) return false;
        std::vector<int> grown = previous;
        grown.push_back(table[size_t(c)][0]);
        previous = table[size_t(c)];
        define(grown);
      } else {
        previous.push_back(previous[0]);
        define(previous);
      }
      pending = previous;
      taken = 0;
      return true;
    }
    if (c < 0) return false;
    nextRefersToItself = c == nextFree;
    previous = pending = {c};
    taken = 0;
    return true;
  }

  // Next pixel, or a negative value when there are no more.
  int next() {
    if (taken == pending.size() && !nextString()) return -1;
    return pending[taken++];
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

std::vector<uint8_t> widenedScreen(const std::vector<uint8_t> &file) {
  std::vector<uint8_t> wider = file;
  if (wider.size() < 10) return wider;
  int width = wider[6] | wider[7] << 8;
  if (width == 0xFFFF) return wider;
  wider[6] = uint8_t(width + 1);
  wider[7] = uint8_t((width + 1) >> 8);
  return wider;
}

bool sameLeftColumns(const uint8_t *narrow, const uint8_t *wide, int width, int height) {
  const size_t row = size_t(width) * 4;
  for (int y = 0; y < height; ++y) {
    if (memcmp(narrow + size_t(y) * row, wide + size_t(y) * (row + 4), row) != 0) return false;
  }
  return true;
}

}  // namespace tkpixmap::testing
