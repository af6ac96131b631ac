// gif_test.cc - the GIF reader and LZW decoder on files built by our own
// encoder: the block structure, every failure, transparency, interlacing,
// code-width growth, the full table, placement and clipping, and
// truncation at every byte.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/gif_decode.h"
#include "tests/support/gif_writer.h"
#include "tkpixmap/gif/reader.h"

namespace tkpixmap::gif {
namespace {

using testing::Bytes;
using testing::GifWriter;
using testing::Rgb;

using Decoded = testing::DecodedGif;

int allocations = 0;
void *countingAlloc(size_t size) {
  ++allocations;
  return malloc(size);
}
void *failingAlloc(size_t) { return nullptr; }

Decoded decode(const Bytes &file, int originX = 0, int originY = 0, int width = 0,
               int height = 0, Allocate allocate = countingAlloc) {
  ReadRequest request;
  request.originX = originX;
  request.originY = originY;
  request.width = width;
  request.height = height;
  return testing::decodeGif(file, request, allocate);
}

// The pixels a correct decoder gives: palette colours with alpha 255, the
// transparent index and indices beyond the table as 0,0,0,0.
std::vector<uint8_t> expected(const std::vector<Rgb> &palette, const std::vector<int> &indices,
                              int transparent = -1) {
  std::vector<uint8_t> out;
  for (int index : indices) {
    if (index == transparent || index >= static_cast<int>(palette.size())) {
      out.insert(out.end(), {0, 0, 0, 0});
    } else {
      const Rgb &c = palette[size_t(index)];
      out.insert(out.end(), {c.r, c.g, c.b, 255});
    }
  }
  return out;
}

std::vector<Rgb> grayPalette(int n) {
  std::vector<Rgb> palette;
  for (int i = 0; i < n; ++i) {
    palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
  }
  return palette;
}

std::vector<int> randomIndices(size_t count, int colours, unsigned seed, int runs = 1) {
  std::mt19937 random(seed);
  std::vector<int> out;
  while (out.size() < count) {
    int value = int(random() % unsigned(colours));
    int repeat = 1 + int(random() % unsigned(runs));
    for (int i = 0; i < repeat && out.size() < count; ++i) out.push_back(value);
  }
  return out;
}

// A one-image file with a 4-colour global table and raw codes, on a screen
// `extraColumns` wider than the image.
Bytes withCodes(int width, int height, const std::vector<int> &codes, int minCodeSize = 2,
                int tableBits = 1, int extraColumns = 0) {
  GifWriter gif;
  gif.signature()
      .screen(width + extraColumns, height, 0x80 | tableBits)
      .colorTable(grayPalette(2 << tableBits));
  gif.imageDescriptor(0, 0, width, height)
      .imageData(minCodeSize, testing::packCodesTracked(codes, minCodeSize))
      .trailer();
  return gif.bytes();
}

std::vector<uint8_t> colours(const std::vector<int> &indices, int tableBits = 1) {
  return expected(grayPalette(2 << tableBits), indices);
}

// ------------------------------------------------------------ header and screen

TEST(GifHeader, RefusesWhatIsNotAGifHeader) {
  const struct {
    const char *name;
    Bytes file;
    ReadStatus status;
  } cases[] = {
      {"empty", {}, ReadStatus::badHeader},
      {"GIF alone", {'G', 'I', 'F'}, ReadStatus::badHeader},
      {"version 88a", GifWriter().signature("GIF88a").screen(1, 1).bytes(), ReadStatus::badHeader},
      {"lower case", GifWriter().signature("gif89a").screen(1, 1).bytes(), ReadStatus::badHeader},
      {"version 90a", GifWriter().signature("GIF90a").screen(2, 2).trailer().bytes(),
       ReadStatus::badHeader},
      {"a PNG signature",
       {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 0, 0, 0, 0, 0},
       ReadStatus::badHeader},
      {"signature only", GifWriter().signature().bytes(), ReadStatus::badHeader},
      {"screen size cut", {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1}, ReadStatus::badHeader},
      {"0 wide", GifWriter().signature("GIF87a").screen(0, 10).bytes(), ReadStatus::badDimensions},
      {"0 high", GifWriter().signature("GIF89a").screen(10, 0).bytes(), ReadStatus::badDimensions},
      {"0 by 0", GifWriter().signature().screen(0, 0).trailer().bytes(), ReadStatus::badDimensions},
  };
  for (const auto &c : cases) {
    allocations = 0;
    Decoded d = decode(c.file);
    EXPECT_EQ(d.status, c.status) << c.name;
    EXPECT_TRUE(d.rgba.empty()) << c.name;
    EXPECT_EQ(allocations, 0) << c.name;
  }
}

TEST(GifHeader, TenByteFileGivesScreenSizeAndNoPixels) {
  Bytes file = {'G', 'I', 'F', '8', '9', 'a', 7, 0, 3, 1};
  Decoded d = decode(file);
  EXPECT_EQ(d.status, ReadStatus::okNoPixels);
  EXPECT_EQ(d.width, 7);
  EXPECT_EQ(d.height, 259);
  EXPECT_TRUE(d.rgba.empty());
}

TEST(GifHeader, UnreachedPixelsClearWithNoImage) {
  Bytes comments;
  for (int i = 0; i < 1000; ++i) comments.insert(comments.end(), {0x21, 0xFE, 1, 'x', 0});
  comments.push_back(0x3B);
  const struct {
    const char *name;
    Bytes tail;
  } cases[] = {
      {"trailer", {0x3B}},
      {"end of file", {}},
      {"unknown block bytes, then end of file", {0x99, 0x99, 0x99}},
      {"1000 extensions, then trailer", comments},
  };
  for (const auto &c : cases) {
    Decoded d = decode(GifWriter()
                           .signature()
                           .screen(2, 2, 0x80)
                           .colorTable({{9, 9, 9}, {8, 8, 8}})
                           .raw(c.tail)
                           .bytes());
    EXPECT_EQ(d.status, ReadStatus::ok) << c.name;
    EXPECT_EQ(d.rgba, std::vector<uint8_t>(16, 0)) << c.name;
  }
}

TEST(GifHeader, ColourTableSizeFieldSelectsTwoToTwoHundredFiftySix) {
  for (int bits : {0, 3, 7}) {
    int n = 2 << bits;
    std::vector<Rgb> palette = grayPalette(n);
    // The last entry is used: it is read only if the table is read whole,
    // and the image data after it is found only if no byte more is read.
    Bytes file = GifWriter()
                     .signature()
                     .screen(1, 1, 0x80 | bits)
                     .colorTable(palette)
                     .imageDescriptor(0, 0, 1, 1)
                     .imageData(8, testing::packCodesTracked({256, n - 1, 257}, 8))
                     .trailer()
                     .bytes();
    Decoded d = decode(file);
    EXPECT_EQ(d.status, ReadStatus::ok) << bits;
    EXPECT_EQ(d.rgba, expected(palette, {n - 1})) << bits;
  }
}

// ------------------------------------------------------------ block scan

TEST(GifBlocks, FailuresInsideTheBlockStructure) {
  auto start = [] { return GifWriter().signature().screen(1, 1, 0x80).colorTable(grayPalette(2)); };
  // A failure before the pixel buffer is made allocates nothing; one after
  // it releases the buffer again.
  const struct {
    const char *name;
    Bytes file;
    ReadStatus status;
    int allocations;
  } cases[] = {
      {"global colour table cut",
       GifWriter().signature().screen(1, 1, 0x81).colorTable(grayPalette(3)).bytes(),
       ReadStatus::badColorMap, 0},
      {"local colour table cut",
       GifWriter()
           .signature()
           .screen(1, 1)
           .imageDescriptor(0, 0, 1, 1, 0x81)
           .colorTable(grayPalette(3))
           .bytes(),
       ReadStatus::badColorMap, 1},
      {"label missing", start().byte(0x21).bytes(), ReadStatus::missingExtensionLabel, 1},
      {"label, then end of file", start().byte(0x21).byte(0xFE).bytes(), ReadStatus::badExtension,
       1},
      {"comment cut inside a sub-block",
       start().byte(0x21).byte(0xFE).byte(10).raw({'a', 'b'}).bytes(), ReadStatus::badExtension, 1},
      {"comment without terminator", start().extension(0xFE, {{'h', 'i'}}, false).bytes(),
       ReadStatus::badExtension, 1},
      {"descriptor cut", start().raw({0x2C, 0, 0, 0}).bytes(), ReadStatus::badImageDescriptor, 1},
      {"no code size", start().imageDescriptor(0, 0, 1, 1).bytes(), ReadStatus::missingCodeSize, 1},
      // Policy::codeSizeUpToEleven
      {"code size 12", start().imageDescriptor(0, 0, 1, 1).imageData(12, {0, 0}).bytes(),
       ReadStatus::badCodeSize, 1},
      {"code size 13", start().imageDescriptor(0, 0, 1, 1).imageData(13, {0, 0}).bytes(),
       ReadStatus::badCodeSize, 1},
      {"code size 255", start().imageDescriptor(0, 0, 1, 1).imageData(255, {0, 0}).bytes(),
       ReadStatus::badCodeSize, 1},
  };
  for (const auto &c : cases) {
    allocations = 0;
    Decoded d = decode(c.file);
    EXPECT_EQ(d.status, c.status) << c.name;
    EXPECT_TRUE(d.rgba.empty()) << c.name;
    EXPECT_EQ(allocations, c.allocations) << c.name;
  }
}

TEST(GifBlocks, StrayBytesSkippedAndExtensionsToo) {
  std::vector<Rgb> palette = grayPalette(4);
  std::vector<int> indices = {0, 1, 2, 3, 3, 2};
  Bytes manyComments;
  for (int i = 0; i < 100000; ++i) manyComments.insert(manyComments.end(), {0x21, 0xFE, 1, 'x', 0});
  Bytes file =
      GifWriter()
          .signature()
          .screen(3, 2, 0x81)
          .colorTable(palette)
          .raw(manyComments)
          .extension(0xFE, {{'o', 'n', 'e'}, {'t', 'w', 'o'}, Bytes(255, 'x')})
          .extension(0xFF, {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0}})
          .extension(0x01, {Bytes(12, 0), {'t', 'e', 'x', 't'}})
          .extension(0x42, {})
          .raw({0x00, 0x99, 0xFF})
          .imageDescriptor(0, 0, 3, 2)
          .imageData(2, testing::lzwEncode(indices, 2))
          .trailer()
          .bytes();
  auto start = std::chrono::steady_clock::now();
  Decoded d = decode(file);
  // Each extension costs the same, whatever came before it: 100,000 of them
  // take milliseconds, even under a sanitizer or valgrind.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(d.status, ReadStatus::ok);
  EXPECT_EQ(d.rgba, expected(palette, indices));
}

TEST(GifBlocks, ColoursAndTransparencyOfTheFirstImage) {
  std::vector<Rgb> palette = grayPalette(8);
  std::vector<int> indices = {0, 1, 2, 3, 4, 5, 6, 7, 5, 3};
  auto file = [&](auto addControls) {
    GifWriter gif;
    gif.signature().screen(10, 1, 0x82).colorTable(palette);
    addControls(gif);
    gif.imageDescriptor(0, 0, 10, 1).imageData(3, testing::lzwEncode(indices, 3)).trailer();
    return gif.bytes();
  };
  // A second image whose local table would change colour 1.
  GifWriter twoImages;
  twoImages.signature().screen(2, 1, 0x81).colorTable(grayPalette(4));
  twoImages.imageDescriptor(0, 0, 2, 1).imageData(2, testing::lzwEncode({1, 2}, 2));
  twoImages.imageDescriptor(0, 0, 2, 1, 0x81)
      .colorTable({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}});
  twoImages.imageData(2, testing::lzwEncode({3, 3}, 2)).trailer();
  // A local table of two entries, over a global one of 8 or none: the
  // entries it lacks are the global ones, or clear.
  const std::vector<Rgb> local = {{200, 0, 0}, {0, 200, 0}};
  auto withLocal = [&](const std::vector<Rgb> &global) {
    GifWriter gif;
    gif.signature().screen(4, 1, global.empty() ? 0 : 0x82).colorTable(global);
    gif.imageDescriptor(0, 0, 4, 1, 0x80).colorTable(local);
    gif.imageData(3, testing::lzwEncode({0, 1, 2, 7}, 3)).trailer();
    return gif.bytes();
  };
  std::vector<Rgb> merged = palette;
  merged[0] = local[0], merged[1] = local[1];
  const struct {
    Policy policy;
    const char *name;
    Bytes file;
    std::vector<uint8_t> pixels;
  } cases[] = {
      {Policy::lastTransparencyFlagWins, "flag set, index 5",
       file([](GifWriter &g) { g.graphicControl(1, 5); }), expected(palette, indices, 5)},
      {Policy::lastTransparencyFlagWins, "flag clear",
       file([](GifWriter &g) { g.graphicControl(0, 5); }), expected(palette, indices)},
      {Policy::lastTransparencyFlagWins, "last of two wins",
       file([](GifWriter &g) { g.graphicControl(1, 5).graphicControl(1, 3); }),
       expected(palette, indices, 3)},
      {Policy::lastTransparencyFlagWins, "a clear flag does not reset",
       file([](GifWriter &g) { g.graphicControl(1, 3).graphicControl(0, 5); }),
       expected(palette, indices, 3)},
      {Policy::lastTransparencyFlagWins, "index beyond the image",
       file([](GifWriter &g) { g.graphicControl(1, 200); }), expected(palette, indices, 200)},
      {Policy::lastTransparencyFlagWins, "empty control block",
       file([](GifWriter &g) { g.extension(0xF9, {}); }), expected(palette, indices)},
      {Policy::lastTransparencyFlagWins, "short control block sets index 0",
       file([](GifWriter &g) { g.extension(0xF9, {{1}}); }), expected(palette, indices, 0)},
      {Policy::controlAppliesToNextImage, "only the first image is decoded", twoImages.bytes(),
       expected(grayPalette(4), {1, 2})},
      {Policy::localMapOverridesItsEntries, "local table over a global one", withLocal(palette),
       expected(merged, {0, 1, 2, 7})},
      {Policy::valueWithoutColourIsClear, "local table alone", withLocal({}),
       expected(local, {0, 1, 2, 7})},
      {Policy::valueWithoutColourIsClear, "no colour table at all",
       GifWriter()
           .signature()
           .screen(2, 1)
           .imageDescriptor(0, 0, 2, 1)
           .imageData(2, testing::lzwEncode({1, 3}, 2))
           .trailer()
           .bytes(),
       std::vector<uint8_t>(8, 0)},
  };
  for (const auto &c : cases) {
    Decoded d = decode(c.file);
    EXPECT_EQ(d.status, ReadStatus::ok) << c.name;
    EXPECT_EQ(d.rgba, c.pixels) << "Policy " << int(c.policy) << ": " << c.name;
  }
}

// ------------------------------------------------------------ LZW

TEST(GifLzw, SmallHandMadeCodeSequences) {
  // Minimum code size 2: clear 4, end 5, first free entry 6.
  using enum Policy;
  // Rows that check the format itself rather than a policy.
  const std::optional<Policy> kFormat;
  const struct {
    std::optional<Policy> policy;
    const char *name;
    int width, height;
    std::vector<int> codes;
    std::vector<int> pixels;  // -1: left clear
  } cases[] = {
      // clang-format off
      {kFormat, "one pixel", 1, 1, {4, 1, 5}, {1}},
      {codeAfterClearIsPixel, "no leading clear", 2, 1, {2, 3, 5}, {2, 3}},
      {kFormat, "two leading clears", 2, 1, {4, 4, 1, 2, 5}, {1, 2}},
      {kFormat, "defined entry", 4, 1, {4, 1, 2, 6, 5}, {1, 2, 1, 2}},
      {kFormat, "code equal to next free", 3, 1, {4, 1, 6, 5}, {1, 1, 1}},
      {kFormat, "chain of next-free codes", 6, 1, {4, 3, 6, 7, 5}, {3, 3, 3, 3, 3, 3}},
      {codeAfterClearIsPixel, "clear then clear: the second is a pixel",
       3, 1, {4, 1, 4, 4, 5}, {1, 4, -1}},
      {shortDataKeepsDecoded, "end code before the raster is full",
       4, 1, {4, 1, 2, 5, 3}, {1, 2, -1, -1}},
      // The padding bits of the last byte still make codes (0s), and a code
      // cut by the end of the data is completed with zero bits.
      {cutCodeCompletedWithZeros, "data ends before the raster is full",
       8, 1, {4, 1, 2}, {1, 2, 0, 0, -1, -1, -1, -1}},
      {codeAboveNextFreeRepeatsPrevious, "code above next free", 4, 1, {4, 1, 7, 5}, {1, 1, 1, -1}},
      // 6 straight after the clear code is a pixel value; entry 6 is then
      // defined as itself plus 1, and using it ends the data.
      {selfReferringEntryEndsData, "entry that refers to itself",
       4, 1, {4, 6, 1, 6, 5}, {6, 1, -1, -1}},
      // 7 after the clear code is a pixel beyond the table: the previous
      // string, so 6 (next free) is 7 followed by 7.
      {codeAfterClearIsPixel, "next free after a pixel above the table",
       8, 1, {4, 7, 6, 5}, {7, 7, 7, -1, -1, -1, -1, -1}},
      {codeAfterClearIsPixel, "next free after the clear code as a pixel",
       5, 1, {4, 1, 4, 4, 6, 5}, {1, 4, 4, 4, -1}},
      {codeAfterClearIsPixel, "entry defined on a pixel above the table",
       6, 1, {4, 7, 2, 6, 5}, {7, 2, 7, 2, -1, -1}},
      // 6 after the clear code: 7 above the next free entry repeats it, and
      // entry 6, defined on itself, is no string; the next entry is still
      // the string just written (6, 6) plus the next pixel.
      {selfReferringEntryEndsData, "entry after one that refers to itself",
       7, 1, {4, 6, 7, 1, 7, 5}, {6, 6, 6, 1, 6, 6, 1}},
      // 7 above the next free entry defines 6 as 1,1; the second 7 is then
      // the next free entry (1,1,1), and the width grows to 4 bits.
      {codeAboveNextFreeRepeatsPrevious, "code above next free, twice",
       4, 2, {4, 1, 7, 7, 2, 5}, {1, 1, 1, 1, 1, 1, 2, -1}},
      {codeAfterClearIsPixel, "entries on a pixel above the table",
       4, 2, {4, 7, 1, 6, 6, 5}, {7, 1, 7, 1, 7, 1, -1, -1}},
      {kFormat, "three leading clears", 2, 1, {4, 4, 4, 1, 5}, {1, -1}},
      // Like the code after a clear code, the first code is a pixel.
      {codeAfterClearIsPixel, "end code first", 2, 1, {5, 1, 1}, {5, 1}},
      {shortDataKeepsDecoded, "no codes at all", 2, 1, {}, {-1, -1}},
      // clang-format on
  };
  // The same bytes give the same image pixels on a screen one column wider
  // (which is decoded through the clipping path).
  for (int extraColumns : {0, 1}) {
    for (const auto &c : cases) {
      Decoded d = decode(withCodes(c.width, c.height, c.codes, 2, 2, extraColumns));
      ASSERT_EQ(d.status, ReadStatus::ok) << c.name;
      std::vector<uint8_t> want;
      for (size_t i = 0; i < c.pixels.size(); ++i) {
        int p = c.pixels[i];
        if (p < 0) {
          want.insert(want.end(), {0, 0, 0, 0});
        } else {
          auto colour = colours({p}, 2);
          want.insert(want.end(), colour.begin(), colour.end());
        }
        if ((i + 1) % size_t(c.width) == 0) want.resize(want.size() + 4 * size_t(extraColumns));
      }
      EXPECT_EQ(d.rgba, want) << (c.policy ? "Policy " + std::to_string(int(*c.policy)) : "format")
                              << ": " << c.name << ", screen " << extraColumns
                              << " column(s) wider";
    }
  }
}

TEST(GifLzw, RoundTripsAcrossCodeSizesSubBlocksAndSizes) {
  const struct {
    int width, height, colours, minCodeSize, runs, blockSize;
    bool interlaced;
  } cases[] = {
      {1, 1, 2, 2, 1, 255, false},     {17, 5, 2, 2, 3, 255, false},
      {64, 48, 4, 2, 4, 255, true},    {33, 33, 16, 4, 2, 7, false},
      {100, 80, 256, 8, 1, 255, false}, {100, 80, 256, 8, 6, 1, true},
      {300, 200, 256, 8, 2, 255, false}, {31, 29, 128, 7, 3, 2, true},
      {5, 300, 3, 2, 1, 254, true},     {257, 3, 64, 6, 5, 100, false},
  };
  unsigned seed = 1;
  for (const auto &c : cases) {
    std::vector<Rgb> palette = grayPalette(c.colours);
    std::vector<int> indices = randomIndices(size_t(c.width) * c.height, c.colours, seed++, c.runs);
    std::vector<int> stored;
    if (c.interlaced) {
      for (int y : testing::interlaceOrder(c.height)) {
        stored.insert(stored.end(), indices.begin() + long(y) * c.width,
                      indices.begin() + long(y + 1) * c.width);
      }
    } else {
      stored = indices;
    }
    int bits = testing::colorTableBits(palette.size());
    std::vector<Rgb> table = palette;
    table.resize(size_t(2) << bits, Rgb{0, 0, 0});
    Bytes file = GifWriter()
                     .signature()
                     .screen(c.width, c.height, 0x80 | bits)
                     .colorTable(table)
                     .imageDescriptor(0, 0, c.width, c.height, c.interlaced ? 0x40 : 0)
                     .imageData(c.minCodeSize, testing::lzwEncode(stored, c.minCodeSize),
                                c.blockSize)
                     .trailer()
                     .bytes();
    Decoded d = decode(file);
    ASSERT_EQ(d.status, ReadStatus::ok);
    EXPECT_EQ(d.rgba, expected(table, indices))
        << c.width << "x" << c.height << " code size " << c.minCodeSize << " blocks "
        << c.blockSize << (c.interlaced ? " interlaced" : "");
  }
}

TEST(GifLzw, FullTableKeepsTwelveBits) {
  // A noisy image fills the table many times over; without clear codes the
  // encoder keeps using 12-bit codes against a full table.  Literals alone
  // at code size 2 fill it after 4090 codes.
  const struct {
    int colours, minCodeSize, width, height;
    bool literalsOnly;
  } cases[] = {
      {256, 8, 400, 300, false},
      {4, 2, 128, 64, true},
  };
  for (const auto &c : cases) {
    std::vector<Rgb> palette = grayPalette(c.colours);
    std::vector<int> indices = randomIndices(size_t(c.width) * c.height, c.colours, 99, 3);
    for (bool clearWhenFull : {true, false}) {
      testing::LzwOptions options;
      options.clearWhenFull = clearWhenFull;
      options.literalsOnly = c.literalsOnly;
      Bytes file = testing::encodeGif(c.width, c.height, palette, indices, false, -1, c.minCodeSize,
                                      options);
      Decoded d = decode(file);
      ASSERT_EQ(d.status, ReadStatus::ok);
      EXPECT_EQ(d.rgba, expected(palette, indices))
          << "code size " << c.minCodeSize << ", clear when full: " << clearWhenFull;
    }
  }
}

TEST(GifLzw, WidthGrowsAtFiveHundredTwelveEntriesForCodeSizeEight) {
  // After the clear code, literals 1..254 define entries 258..511, so the
  // code after literal 254 is read at 10 bits.  Written at 10 bits the image
  // comes out right; written at 9 it does not.
  auto codes = [](int widthAfter254) {
    std::vector<std::pair<int, int>> c = {{256, 9}};
    for (int i = 0; i <= 254; ++i) c.emplace_back(i, 9);
    c.emplace_back(255, widthAfter254);
    c.emplace_back(258, widthAfter254);  // entry 258 is 0,1
    c.emplace_back(257, widthAfter254);
    return c;
  };
  std::vector<int> pixels;
  for (int i = 0; i < 256; ++i) pixels.push_back(i);
  pixels.push_back(0);
  pixels.push_back(1);
  std::vector<Rgb> palette = grayPalette(256);
  auto file = [&](const std::vector<std::pair<int, int>> &c) {
    return GifWriter()
        .signature()
        .screen(258, 1, 0x87)
        .colorTable(palette)
        .imageDescriptor(0, 0, 258, 1)
        .imageData(8, testing::packCodes(c))
        .trailer()
        .bytes();
  };
  EXPECT_EQ(decode(file(codes(10))).rgba, expected(palette, pixels));
  EXPECT_NE(decode(file(codes(9))).rgba, expected(palette, pixels));
}

TEST(GifLzw, ValueWithoutColourIsClearAtCodeSizesBeyondEight) {
  for (int minCodeSize : {0, 1, 9, 10, 11}) {
    int clear = 1 << minCodeSize;
    std::vector<int> values = {0, clear - 1, clear > 256 ? 256 : 0, clear > 300 ? 300 : 0};
    std::vector<int> codes = {clear};
    codes.insert(codes.end(), values.begin(), values.end());
    codes.push_back(clear + 2);  // the first table entry: the first two values
    codes.push_back(clear + 1);
    values.push_back(values[0]);
    values.push_back(values[1]);
    Bytes file = GifWriter()
                     .signature()
                     .screen(6, 1, 0x87)
                     .colorTable(grayPalette(256))
                     .imageDescriptor(0, 0, 6, 1)
                     .imageData(minCodeSize, testing::packCodesTracked(codes, minCodeSize))
                     .trailer()
                     .bytes();
    Decoded d = decode(file);
    ASSERT_EQ(d.status, ReadStatus::ok) << minCodeSize;
    EXPECT_EQ(d.rgba, expected(grayPalette(256), values)) << minCodeSize;
  }
}

TEST(GifLzw, InterlacedRowOrder) {
  // Each stored row is one colour: the order the rows land in shows up.
  for (int height : {1, 2, 5, 9, 17}) {
    std::vector<int> stored;
    std::vector<int> wanted(size_t(height) * 2);
    std::vector<int> order = testing::interlaceOrder(height);
    for (size_t i = 0; i < order.size(); ++i) {
      stored.push_back(int(i));
      stored.push_back(int(i));
      wanted[size_t(order[i]) * 2] = wanted[size_t(order[i]) * 2 + 1] = int(i);
    }
    std::vector<Rgb> palette = grayPalette(32);
    Bytes file = GifWriter()
                     .signature()
                     .screen(2, height, 0x84)
                     .colorTable(palette)
                     .imageDescriptor(0, 0, 2, height, 0x40)
                     .imageData(5, testing::lzwEncode(stored, 5))
                     .trailer()
                     .bytes();
    EXPECT_EQ(decode(file).rgba, expected(palette, wanted)) << height;
  }
  EXPECT_EQ(testing::interlaceOrder(5), (std::vector<int>{0, 4, 2, 1, 3}));
}

// ------------------------------------------------------------ placement and windows

TEST(GifPlacement, ImageClippedToScreen) {
  std::vector<Rgb> palette = grayPalette(4);
  const struct {
    const char *name;
    int left, top, width, height;
    bool interlaced = false;
  } cases[] = {
      {"inside", 1, 1, 3, 2},
      {"inside, interlaced", 1, 0, 4, 3, true},
      {"inside the clip rectangle below, at an offset", 2, 2, 2, 2},
      {"inside the clip rectangle below, interlaced", 3, 2, 2, 2, true},
      {"inside, touching the right and bottom", 2, 1, 4, 3},
      {"covers the screen", 0, 0, 6, 4},
      {"hangs over the right and bottom", 4, 3, 5, 5},
      {"interlaced, hangs over the right and bottom", 3, 1, 4, 5, true},
      {"wholly outside", 10, 10, 2, 2},
      {"far below", 0, 65535, 4, 2},
      {"zero width", 1, 1, 0, 3},
      {"zero by zero", 0, 0, 0, 0},
      {"larger than the screen", 0, 0, 9, 9},
  };
  for (const auto &c : cases) {
    std::vector<int> indices = randomIndices(size_t(c.width) * c.height, 3, 5);
    for (int &i : indices) ++i;  // colours 1..3, never 0
    std::vector<int> stored;
    for (int y : c.interlaced ? testing::interlaceOrder(c.height) : std::vector<int>{}) {
      stored.insert(stored.end(), indices.begin() + long(y) * c.width,
                    indices.begin() + long(y + 1) * c.width);
    }
    if (!c.interlaced) stored = indices;
    Bytes file = GifWriter()
                     .signature()
                     .screen(6, 4, 0x81)
                     .colorTable(palette)
                     .imageDescriptor(c.left, c.top, c.width, c.height, c.interlaced ? 0x40 : 0)
                     .imageData(2, testing::lzwEncode(stored, 2))
                     .trailer()
                     .bytes();
    std::vector<int> screen(24, -1);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        int sx = c.left + x, sy = c.top + y;
        if (sx < 6 && sy < 4) screen[size_t(sy * 6 + sx)] = indices[size_t(y * c.width + x)];
      }
    }
    std::vector<uint8_t> want;
    for (int i : screen) {
      auto colour = i < 0 ? std::vector<uint8_t>{0, 0, 0, 0} : expected(palette, {i});
      want.insert(want.end(), colour.begin(), colour.end());
    }
    Decoded d = decode(file);
    EXPECT_EQ(d.status, ReadStatus::ok) << c.name;
    EXPECT_EQ(d.rgba, want) << c.name;
    // The same through a clip rectangle: the image now lies inside it, now
    // across its edges.
    Decoded clipped = decode(file, 1, 1, 4, 3);
    std::vector<uint8_t> wantClipped;
    for (int y = 1; y < 4; ++y) {
      wantClipped.insert(wantClipped.end(), want.begin() + (y * 6 + 1) * 4,
                         want.begin() + (y * 6 + 5) * 4);
    }
    EXPECT_EQ(clipped.status, ReadStatus::ok) << c.name;
    EXPECT_EQ(clipped.rgba, wantClipped) << c.name << ", clip rectangle 4x3 at 1,1";
  }
}

TEST(GifPlacement, WindowsAreClippedToTheScreen) {
  std::vector<Rgb> palette = grayPalette(64);
  std::vector<int> indices(36);
  for (int i = 0; i < 36; ++i) indices[size_t(i)] = i;
  Bytes file = testing::encodeGif(6, 6, palette, indices);
  const struct {
    int x, y, w, h, wantW, wantH;
  } cases[] = {
      {2, 3, 5, 5, 4, 3}, {0, 0, 0, 0, 6, 6}, {5, 5, 1, 1, 1, 1}, {1, 0, 2, 0, 2, 6},
  };
  for (const auto &c : cases) {
    Decoded d = decode(file, c.x, c.y, c.w, c.h);
    ASSERT_EQ(d.status, ReadStatus::ok);
    ASSERT_EQ(d.width, c.wantW);
    ASSERT_EQ(d.height, c.wantH);
    std::vector<int> window;
    for (int y = c.y; y < c.y + c.wantH; ++y) {
      for (int x = c.x; x < c.x + c.wantW; ++x) window.push_back(y * 6 + x);
    }
    EXPECT_EQ(d.rgba, expected(palette, window));
  }
  for (auto [x, y] : {std::pair{6, 0}, std::pair{0, 6}}) {
    Decoded d = decode(file, x, y);
    EXPECT_EQ(d.status, ReadStatus::okNoPixels);
  }
  EXPECT_EQ(decode(file, -1, 0).status, ReadStatus::badOrigin);
}

TEST(GifPlacement, ScreenSizeLimited) {
  // One pixel of colour 1 at the top left of an image of the given size.
  auto withImage = [](int screenWidth, int screenHeight, int imageWidth, int imageHeight) {
    return GifWriter()
        .signature()
        .screen(screenWidth, screenHeight, 0x81)
        .colorTable(grayPalette(4))
        .imageDescriptor(0, 0, imageWidth, imageHeight)
        .imageData(2, testing::packCodesTracked({4, 1, 5}, 2))
        .trailer()
        .bytes();
  };
  const struct {
    const char *name;
    Bytes file;
    ReadStatus status;
    int width, height;
  } cases[] = {
      {"screen 65535 square, no image",
       GifWriter().signature().screen(65535, 65535).trailer().bytes(), ReadStatus::tooLarge, 0, 0},
      {"screen 65535 square", withImage(65535, 65535, 1, 1), ReadStatus::tooLarge, 0, 0},
      {"screen 65535 wide", withImage(65535, 1, 1, 1), ReadStatus::ok, 65535, 1},
      {"screen 65535 high", withImage(1, 65535, 1, 1), ReadStatus::ok, 1, 65535},
      {"image 65535 square", withImage(4, 2, 65535, 65535), ReadStatus::ok, 4, 2},
  };
  for (const auto &c : cases) {
    allocations = 0;
    Decoded d = decode(c.file);
    EXPECT_EQ(d.status, c.status) << c.name;
    EXPECT_EQ(allocations, c.status == ReadStatus::ok ? 1 : 0) << c.name;
    if (c.status != ReadStatus::ok) continue;
    ASSERT_EQ(d.rgba.size(), size_t(c.width) * c.height * 4) << c.name;
    std::vector<uint8_t> first(d.rgba.begin(), d.rgba.begin() + 4);
    EXPECT_EQ(first, colours({1})) << c.name;
    EXPECT_EQ(std::count(d.rgba.begin() + 4, d.rgba.end(), 0), long(d.rgba.size() - 4)) << c.name;
  }
  Bytes file = GifWriter().signature().screen(65535, 65535).trailer().bytes();
  // A window within the limit of the same screen is fine.
  EXPECT_EQ(decode(file, 100, 100, 10, 10).status, ReadStatus::ok);
  // An allocation that fails is reported, not fatal.
  Bytes small = GifWriter().signature().screen(10, 10).trailer().bytes();
  EXPECT_EQ(decode(small, 0, 0, 0, 0, failingAlloc).status, ReadStatus::noMemory);
}

// ------------------------------------------------------------ damaged files

TEST(GifDamage, ShortDataKeepsDecodedAtEveryTruncation) {
  std::vector<Rgb> palette = grayPalette(16);
  std::vector<int> indices = randomIndices(23 * 17, 16, 7, 3);
  Bytes whole = testing::encodeGif(23, 17, palette, indices, true, 3);
  Decoded full = decode(whole);
  ASSERT_EQ(full.status, ReadStatus::ok);
  // The file: header and screen (13 bytes), colour table (48), graphic
  // control extension (8), image descriptor (10), code size, data, trailer.
  const size_t table = 13, control = table + 48, descriptor = control + 8,
               codeSize = descriptor + 10;
  auto statusAt = [&](size_t cut) {
    if (cut < 10) return ReadStatus::badHeader;
    if (cut < table) return ReadStatus::okNoPixels;  // the screen's size is there
    if (cut < control) return ReadStatus::badColorMap;
    if (cut == control + 1) return ReadStatus::missingExtensionLabel;
    // A cut inside the control block's one sub-block ends the scan as the
    // end of the file does; a cut before the terminator that follows fails.
    if (cut == descriptor - 1) return ReadStatus::badExtension;
    if (cut > descriptor && cut < codeSize) return ReadStatus::badImageDescriptor;
    if (cut == codeSize) return ReadStatus::missingCodeSize;
    return ReadStatus::ok;  // a cut between blocks, or in the data: a quiet end
  };
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    Bytes part(whole.begin(), whole.begin() + long(cut));
    Decoded d = decode(part);
    EXPECT_EQ(d.status, statusAt(cut)) << cut;
    // Without the trailer, or the data's terminator too, nothing is missing.
    if (cut + 2 >= whole.size()) {
      EXPECT_EQ(d.rgba, full.rgba) << cut;
    }
    if (d.status == ReadStatus::ok) {
      // Whatever was decoded agrees with the whole file; the rest is clear.
      ASSERT_EQ(d.rgba.size(), full.rgba.size());
      for (size_t i = 0; i < d.rgba.size(); i += 4) {
        bool clear = d.rgba[i] == 0 && d.rgba[i + 1] == 0 && d.rgba[i + 2] == 0 && d.rgba[i + 3] == 0;
        bool same = std::equal(d.rgba.begin() + long(i), d.rgba.begin() + long(i + 4),
                               full.rgba.begin() + long(i));
        EXPECT_TRUE(clear || same) << "cut " << cut << " pixel " << i / 4;
      }
    } else {
      EXPECT_TRUE(d.rgba.empty()) << cut;
    }
  }
}

TEST(GifDamage, RandomCorruptionNeverEscapes) {
  std::vector<Rgb> palette = grayPalette(256);
  Bytes base = testing::encodeGif(40, 30, palette, randomIndices(1200, 256, 3, 4));
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    Bytes file = base;
    int flips = 1 + int(random() % 8);
    for (int i = 0; i < flips; ++i) {
      size_t at = 13 + random() % (file.size() - 13);
      file[at] = uint8_t(random());
    }
    Decoded d = decode(file);
    if (d.status == ReadStatus::ok) {
      EXPECT_EQ(d.rgba.size(), size_t(40 * 30 * 4));
    }
  }
}

}  // namespace
}  // namespace tkpixmap::gif
