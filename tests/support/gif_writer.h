// gif_writer.h - a small GIF encoder for building test data.  It writes
// well-formed files and, on request, anything else: raw code sequences of
// any width, clear and end codes anywhere, odd sub-block sizes, extensions
// of every kind, truncation.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace tkpixmap::testing {

using Bytes = std::vector<uint8_t>;

struct Rgb {
  uint8_t r, g, b;
};

// How lzwEncode manages its table.
struct LzwOptions {
  bool leadingClear = true;   // start with a clear code
  bool clearWhenFull = true;  // emit a clear code when the table is full;
                              // false keeps coding at 12 bits with a full table
  bool endCode = true;        // finish with the end code
  int clearEvery = 0;         // > 0: also clear after this many codes
  bool literalsOnly = false;  // never use table entries (one code per pixel)
};

// LZW-compresses pixel indices (each < 2^minCodeSize) into a packed code
// stream (not yet cut into sub-blocks).
Bytes lzwEncode(const std::vector<int> &indices, int minCodeSize, const LzwOptions &options = {});

// Packs explicit (code, width) pairs, least significant bit first.
Bytes packCodes(const std::vector<std::pair<int, int>> &codes);

// Codes written with the widths a decoder will expect: the writer tracks the
// table growth that each code causes (use for hand-made code sequences).
Bytes packCodesTracked(const std::vector<int> &codes, int minCodeSize);

// Cuts data into sub-blocks of at most blockSize bytes, optionally followed
// by the zero-length terminator.
Bytes subBlocks(const Bytes &data, int blockSize = 255, bool terminator = true);

// Builds a GIF file block by block.
class GifWriter {
 public:
  GifWriter &signature(const std::string &text = "GIF89a");
  GifWriter &screen(int width, int height, int flags = 0, int background = 0, int aspect = 0);
  // Colour table entries (the flags saying how many are the caller's).
  GifWriter &colorTable(const std::vector<Rgb> &colours);
  GifWriter &graphicControl(int flags, int transparentIndex, int delay = 0);
  GifWriter &extension(int label, const std::vector<Bytes> &blocks, bool terminator = true);
  GifWriter &imageDescriptor(int left, int top, int width, int height, int flags = 0);
  GifWriter &byte(int value);
  GifWriter &raw(const Bytes &bytes);
  // Minimum code size byte followed by the data in sub-blocks.
  GifWriter &imageData(int minCodeSize, const Bytes &codes, int blockSize = 255,
                       bool terminator = true);
  GifWriter &trailer();

  const Bytes &bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// Colour-table size field for n colours (n rounded up to a power of two, >= 2).
int colorTableBits(size_t colours);

// A whole single-image file: global colour table, one image covering the
// screen, LZW data at the given minimum code size (0 picks the smallest
// size that fits the palette, at least 2).
Bytes encodeGif(int width, int height, const std::vector<Rgb> &palette,
                const std::vector<int> &indices, bool interlaced = false, int transparent = -1,
                int minCodeSize = 0, const LzwOptions &options = {});

// One frame of an animation for encodeAnimation.
struct FrameSpec {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<int> indices;  // width x height, in row order
  int disposal = 1;          // written in the graphic control block
  int transparent = -1;      // -1: the transparency flag clear
  int delay = 0;             // hundredths of a second
  bool control = true;       // false: no graphic control block at all
  bool interlaced = false;
  std::vector<Rgb> localColours;  // non-empty: a local colour table
};

// An animated file: a global colour table (none when empty), a loop
// extension when loop >= 0, and the frames, each LZW-coded at the smallest
// code size its colour tables allow.
Bytes encodeAnimation(int width, int height, const std::vector<Rgb> &globalColours,
                      const std::vector<FrameSpec> &frames, int loop = -1);

// Rows of an image in the order an interlaced file stores them.
std::vector<int> interlaceOrder(int height);

// Writes bytes to a file; true on success.
bool writeFile(const std::string &path, const Bytes &bytes);

}  // namespace tkpixmap::testing
