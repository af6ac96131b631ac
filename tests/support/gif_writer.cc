// gif_writer.cc - the test GIF encoder.

#include "tests/support/gif_writer.h"

#include <stdio.h>

#include <map>

namespace tkpixmap::testing {
namespace {

// Packs codes least significant bit first.
class BitPacker {
 public:
  void put(int code, int width) {
    bits_ |= static_cast<uint64_t>(code) << count_;
    count_ += width;
    while (count_ >= 8) {
      out_.push_back(static_cast<uint8_t>(bits_ & 0xFF));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  Bytes finish() {
    if (count_ > 0) out_.push_back(static_cast<uint8_t>(bits_ & 0xFF));
    bits_ = 0;
    count_ = 0;
    return out_;
  }

 private:
  Bytes out_;
  uint64_t bits_ = 0;
  int count_ = 0;
};

// The code width a decoder uses for each next code: it adds a table entry
// for every code except the first after a clear code (and the clear and end
// codes themselves), and widens when the next free entry reaches 2^width.
class DecoderWidth {
 public:
  explicit DecoderWidth(int minCodeSize) : min_(minCodeSize) { reset(); }
  int width() const { return width_; }
  void reset() {
    width_ = min_ + 1;
    nextFree_ = (1 << min_) + 2;
    limit_ = 2 << min_;
    first_ = true;
  }
  void after(int code) {
    int clear = 1 << min_;
    if (code == clear) {
      reset();
      return;
    }
    if (code == clear + 1) return;
    if (first_) {
      first_ = false;
      return;
    }
    if (nextFree_ < 4096) {
      ++nextFree_;
      if (nextFree_ >= limit_ && limit_ < 4096) {
        limit_ *= 2;
        ++width_;
      }
    }
  }
  int nextFree() const { return nextFree_; }

 private:
  int min_, width_ = 0, nextFree_ = 0, limit_ = 0;
  bool first_ = true;
};

}  // namespace

Bytes packCodes(const std::vector<std::pair<int, int>> &codes) {
  BitPacker packer;
  for (auto [code, width] : codes) packer.put(code, width);
  return packer.finish();
}

Bytes packCodesTracked(const std::vector<int> &codes, int minCodeSize) {
  BitPacker packer;
  DecoderWidth width(minCodeSize);
  bool started = false;
  for (int code : codes) {
    packer.put(code, width.width());
    // Leading clear codes do not end the "first code" state.
    if (!started && code == (1 << minCodeSize)) continue;
    started = true;
    width.after(code);
  }
  return packer.finish();
}

Bytes lzwEncode(const std::vector<int> &indices, int minCodeSize, const LzwOptions &options) {
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  BitPacker packer;
  DecoderWidth width(minCodeSize);
  std::map<std::pair<int, int>, int> table;  // (prefix code, pixel) -> code
  int nextCode = clear + 2;
  int codesSinceClear = 0;
  bool started = false;

  auto emit = [&](int code) {
    packer.put(code, width.width());
    if (!started && code == clear) return;
    started = true;
    width.after(code);
  };
  auto restart = [&]() {
    emit(clear);
    table.clear();
    nextCode = clear + 2;
    codesSinceClear = 0;
  };

  if (options.leadingClear) emit(clear);
  int current = -1;
  for (int pixel : indices) {
    if (current < 0) {
      current = pixel;
      continue;
    }
    auto found = options.literalsOnly ? table.end() : table.find({current, pixel});
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    emit(current);
    ++codesSinceClear;
    if (nextCode < 4096) {
      table[{current, pixel}] = nextCode++;
    } else if (options.clearWhenFull) {
      restart();
    }
    if (options.clearEvery > 0 && codesSinceClear >= options.clearEvery) restart();
    current = pixel;
  }
  if (current >= 0) emit(current);
  if (options.endCode) emit(end);
  return packer.finish();
}

Bytes subBlocks(const Bytes &data, int blockSize, bool terminator) {
  Bytes out;
  for (size_t at = 0; at < data.size(); at += static_cast<size_t>(blockSize)) {
    size_t n = std::min(data.size() - at, static_cast<size_t>(blockSize));
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<long>(at),
               data.begin() + static_cast<long>(at + n));
  }
  if (terminator) out.push_back(0);
  return out;
}

GifWriter &GifWriter::signature(const std::string &text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

GifWriter &GifWriter::screen(int width, int height, int flags, int background, int aspect) {
  for (int v : {width & 0xFF, width >> 8, height & 0xFF, height >> 8, flags, background, aspect}) {
    bytes_.push_back(static_cast<uint8_t>(v));
  }
  return *this;
}

GifWriter &GifWriter::colorTable(const std::vector<Rgb> &colours) {
  for (const Rgb &c : colours) {
    bytes_.push_back(c.r);
    bytes_.push_back(c.g);
    bytes_.push_back(c.b);
  }
  return *this;
}

GifWriter &GifWriter::graphicControl(int flags, int transparentIndex, int delay) {
  return extension(0xF9, {{static_cast<uint8_t>(flags), static_cast<uint8_t>(delay & 0xFF),
                           static_cast<uint8_t>(delay >> 8),
                           static_cast<uint8_t>(transparentIndex)}});
}

GifWriter &GifWriter::extension(int label, const std::vector<Bytes> &blocks, bool terminator) {
  bytes_.push_back(0x21);
  bytes_.push_back(static_cast<uint8_t>(label));
  for (const Bytes &block : blocks) {
    bytes_.push_back(static_cast<uint8_t>(block.size()));
    bytes_.insert(bytes_.end(), block.begin(), block.end());
  }
  if (terminator) bytes_.push_back(0);
  return *this;
}

GifWriter &GifWriter::imageDescriptor(int left, int top, int width, int height, int flags) {
  bytes_.push_back(0x2C);
  for (int v : {left, top, width, height}) {
    bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  bytes_.push_back(static_cast<uint8_t>(flags));
  return *this;
}

GifWriter &GifWriter::byte(int value) {
  bytes_.push_back(static_cast<uint8_t>(value));
  return *this;
}

GifWriter &GifWriter::raw(const Bytes &bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

GifWriter &GifWriter::imageData(int minCodeSize, const Bytes &codes, int blockSize,
                                bool terminator) {
  bytes_.push_back(static_cast<uint8_t>(minCodeSize));
  return raw(subBlocks(codes, blockSize, terminator));
}

GifWriter &GifWriter::trailer() { return byte(0x3B); }

int colorTableBits(size_t colours) {
  int bits = 0;
  while ((size_t{2} << bits) < colours && bits < 7) ++bits;
  return bits;
}

std::vector<int> interlaceOrder(int height) {
  std::vector<int> rows;
  const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
  }
  return rows;
}

Bytes encodeGif(int width, int height, const std::vector<Rgb> &palette,
                const std::vector<int> &indices, bool interlaced, int transparent,
                int minCodeSize, const LzwOptions &options) {
  int bits = colorTableBits(palette.size());
  std::vector<Rgb> table(palette);
  table.resize(size_t{2} << bits, Rgb{0, 0, 0});
  if (minCodeSize == 0) minCodeSize = bits + 1 < 2 ? 2 : bits + 1;

  std::vector<int> stored;
  if (interlaced) {
    for (int y : interlaceOrder(height)) {
      stored.insert(stored.end(), indices.begin() + static_cast<long>(y) * width,
                    indices.begin() + static_cast<long>(y + 1) * width);
    }
  } else {
    stored = indices;
  }

  GifWriter gif;
  gif.signature("GIF89a").screen(width, height, 0x80 | (bits << 4) | bits).colorTable(table);
  if (transparent >= 0) gif.graphicControl(1, transparent);
  gif.imageDescriptor(0, 0, width, height, interlaced ? 0x40 : 0)
      .imageData(minCodeSize, lzwEncode(stored, minCodeSize, options))
      .trailer();
  return gif.bytes();
}

Bytes encodeAnimation(int width, int height, const std::vector<Rgb> &globalColours,
                      const std::vector<FrameSpec> &frames, int loop) {
  // A table is written whole: padded to a power of two.
  auto table = [](std::vector<Rgb> colours) {
    colours.resize(size_t{2} << colorTableBits(colours.size()), Rgb{0, 0, 0});
    return colours;
  };
  GifWriter gif;
  const int globalBits = colorTableBits(globalColours.size());
  gif.signature("GIF89a").screen(width, height, globalColours.empty() ? 0 : 0x80 | globalBits);
  if (!globalColours.empty()) gif.colorTable(table(globalColours));
  if (loop >= 0) {
    gif.extension(0xFF, {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'},
                         {1, static_cast<uint8_t>(loop & 0xFF), static_cast<uint8_t>(loop >> 8)}});
  }
  for (const FrameSpec &f : frames) {
    if (f.control) {
      gif.graphicControl((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0),
                         f.transparent >= 0 ? f.transparent : 0, f.delay);
    }
    const bool local = !f.localColours.empty();
    const int bits = local ? colorTableBits(f.localColours.size()) : globalBits;
    gif.imageDescriptor(f.left, f.top, f.width, f.height,
                        (local ? 0x80 | bits : 0) | (f.interlaced ? 0x40 : 0));
    if (local) gif.colorTable(table(f.localColours));
    std::vector<int> stored;
    if (f.interlaced) {
      for (int y : interlaceOrder(f.height)) {
        stored.insert(stored.end(), f.indices.begin() + static_cast<long>(y) * f.width,
                      f.indices.begin() + static_cast<long>(y + 1) * f.width);
      }
    } else {
      stored = f.indices;
    }
    const int minCodeSize = bits + 1 < 2 ? 2 : bits + 1;
    gif.imageData(minCodeSize, lzwEncode(stored, minCodeSize));
  }
  gif.trailer();
  return gif.bytes();
}

bool writeFile(const std::string &path, const Bytes &bytes) {
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

}  // namespace tkpixmap::testing
