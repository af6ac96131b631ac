// pack_test.cc - the X-free pixel packing: colour counting and mapping for
// 8-bit colour maps, and TrueColor packing for every accepted mask and both
// byte orders, against byte-by-byte reference rules.

#include "tkpixmap/x11/pack.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tkpixmap::pack;

struct Rgb {
  uint8_t r, g, b;
};

// An RGBA image with optional padding at the end of each row, as a reader
// could deliver it.
struct Image {
  int width, height, pitch, pixelSize;
  std::vector<unsigned char> bytes;

  Image(int w, int h, int padding = 0, int size = 4)
      : width(w), height(h), pitch(w * size + padding), pixelSize(size),
        bytes(static_cast<size_t>(pitch) * h + 1, 0xee) {}
  void set(int column, int row, Rgb c) {
    unsigned char *p = &bytes[static_cast<size_t>(row) * pitch + column * pixelSize];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
    if (pixelSize > 3) p[3] = 0x5a;  // alpha: must be ignored
  }
  Rgb at(int column, int row) const {
    const unsigned char *p = &bytes[static_cast<size_t>(row) * pitch + column * pixelSize];
    return {p[0], p[1], p[2]};
  }
  PixelSource source() const { return {bytes.data(), width, height, pitch, pixelSize}; }
};

Image randomImage(int w, int h, unsigned seed, int padding = 0, int size = 4) {
  std::mt19937 random(seed);
  Image image(w, h, padding, size);
  for (int j = 0; j < h; ++j)
    for (int k = 0; k < w; ++k)
      image.set(k, j, {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                       static_cast<uint8_t>(random())});
  return image;
}

void reverse4(const void *from, void *to, int n) {
  const auto *f = static_cast<const unsigned char *>(from);
  auto *t = static_cast<unsigned char *>(to);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 4; ++k) t[4 * i + k] = f[4 * i + 3 - k];
}

// ------------------------------------------------------------- colour maps

TEST(PackColours, RequestsUseTheHighByteOnly) {
  EXPECT_EQ(colourRequest(255), 0xff00);
  EXPECT_EQ(colourRequest(0), 0);
  EXPECT_EQ(colourRequest(1), 0x0100);
  EXPECT_EQ(colourRequest(128), 0x8000);
}

TEST(PackColours, CountsDistinctColoursUpToTheLimit) {
  struct Case {
    const char *name;
    int distinct;  // colours in the image
    int expected;  // what countColours reports
  };
  const Case cases[] = {{"one", 1, 1},
                        {"exactly the limit", 128, 128},
                        {"one over", 129, 129},
                        {"far over stops early", 5000, 129}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const int w = 100;
    const int h = (c.distinct * 3 + w - 1) / w;  // each colour three times
    Image image(w, h, 3);
    for (int i = 0; i < w * h; ++i) {
      int colour = (i / 3) % c.distinct;
      image.set(i % w, i / w, {static_cast<uint8_t>(colour), static_cast<uint8_t>(colour >> 8), 7});
    }
    ColourTable table;
    EXPECT_EQ(countColours(image.source(), table), c.expected);
  }
}

TEST(PackColours, IgnoresAlphaAndRowPadding) {
  // Same colours, different alpha bytes and padding: still two colours.
  Image image(3, 2, 5);
  image.set(0, 0, {1, 2, 3});
  image.set(1, 0, {1, 2, 3});
  image.set(2, 0, {9, 9, 9});
  image.set(0, 1, {1, 2, 3});
  image.set(1, 1, {9, 9, 9});
  image.set(2, 1, {1, 2, 3});
  image.bytes[3] = 0;  // another alpha for the first pixel
  ColourTable table;
  EXPECT_EQ(countColours(image.source(), table), 2);
  // Three-byte pixels (no alpha at all) work the same way.
  Image packed(2, 1, 0, 3);
  packed.set(0, 0, {1, 2, 3});
  packed.set(1, 0, {3, 2, 1});
  EXPECT_EQ(countColours(packed.source(), table), 2);
}

TEST(PackColours, AllocationFollowsTheDecimalTextOrder) {
  // Decimal text compares differently from numbers: "10 0 0" < "9 0 0", and
  // a text that is a prefix of another comes first: "2 0 25" < "2 0 255".
  std::vector<std::vector<Rgb>> sets = {{{9, 0, 0},
                                         {10, 0, 0},
                                         {255, 255, 255},
                                         {25, 5, 5},
                                         {0, 0, 0},
                                         {0, 10, 0},
                                         {0, 9, 200},
                                         {100, 1, 1},
                                         {1, 100, 100},
                                         {2, 0, 255},
                                         {2, 0, 25},
                                         {2, 0, 2},
                                         {20, 0, 2},
                                         {200, 200, 200},
                                         {1, 1, 1}}};
  // And sets of 128 colours whose components are drawn mostly from the
  // lengths' edges (0, 9, 10, 99, 100, 255 and neighbours).
  std::mt19937 random(7);
  const uint8_t edges[] = {0, 1, 2, 9, 10, 11, 19, 20, 25, 99, 100, 101, 199, 200, 249, 250, 255};
  for (int set = 0; set < 20; ++set) {
    std::vector<Rgb> colours;
    while (colours.size() < 128) {
      auto component = [&] {
        return random() % 3 == 0 ? static_cast<uint8_t>(random())
                                 : edges[random() % sizeof edges];
      };
      const Rgb c{component(), component(), component()};
      if (std::none_of(colours.begin(), colours.end(),
                       [&](const Rgb &o) { return o.r == c.r && o.g == c.g && o.b == c.b; }))
        colours.push_back(c);
    }
    sets.push_back(colours);
  }
  for (const std::vector<Rgb> &colours : sets) {
    Image image(static_cast<int>(colours.size()), 1);
    for (size_t i = 0; i < colours.size(); ++i) image.set(static_cast<int>(i), 0, colours[i]);
    ColourTable table;
    ASSERT_EQ(countColours(image.source(), table), static_cast<int>(colours.size()));
    int order[kMaxColours];
    allocationOrder(table, order);

    std::vector<std::string> expected;
    for (const Rgb &c : colours)
      expected.push_back(std::to_string(c.r) + " " + std::to_string(c.g) + " " +
                         std::to_string(c.b));
    std::sort(expected.begin(), expected.end(), [](const std::string &a, const std::string &b) {
      return strcmp(a.c_str(), b.c_str()) < 0;
    });
    std::vector<std::string> got;
    for (int i = 0; i < table.count; ++i) {
      uint32_t c = table.colours[order[i]];
      got.push_back(std::to_string(c >> 16) + " " + std::to_string(c >> 8 & 0xff) + " " +
                    std::to_string(c & 0xff));
    }
    EXPECT_EQ(got, expected);
  }
}

TEST(PackColours, MapsEveryPixelToTheLowByteOfItsCell) {
  // 128 colours in a random arrangement, cells numbered past 255 so that
  // only the low byte must land in the image.
  std::mt19937 random(7);
  Image image(37, 23, 2);
  std::vector<int> colourOf(static_cast<size_t>(37 * 23));
  for (int i = 0; i < 37 * 23; ++i) {
    int colour = static_cast<int>(random() % 128);
    colourOf[static_cast<size_t>(i)] = colour;
    image.set(i % 37, i / 37, {static_cast<uint8_t>(colour * 2), 50, static_cast<uint8_t>(colour)});
  }
  ColourTable table;
  std::vector<unsigned char> out(static_cast<size_t>(37 * 23) + 1, 0xcc);
  ASSERT_LE(indexColours(image.source(), table, out.data()), 128);
  for (int i = 0; i < table.count; ++i) {
    uint32_t c = table.colours[i];
    table.pixels[i] = 0x300 + (c & 0xff);  // cell = 0x300 + colour number
  }
  indicesToPixels(table, out.data(), 37 * 23);
  for (int i = 0; i < 37 * 23; ++i) EXPECT_EQ(out[static_cast<size_t>(i)], colourOf[i]) << i;
  EXPECT_EQ(out.back(), 0xcc) << "wrote past width*height bytes";
}

// ------------------------------------------------------------- TrueColor 16

// The byte rules of the 5-6-5 packing, one component at a time, written as
// plainly as possible: which byte gets which part, by mask and byte order.
void referencePixel16(Rgb c, uint32_t red, uint32_t green, uint32_t blue, bool msb,
                      unsigned char out[2]) {
  out[0] = out[1] = 0;
  const int lo = msb ? 1 : 0;  // where the low byte of a 16-bit value lives
  const int hi = msb ? 0 : 1;
  unsigned char redValue = c.r & 0xf8;
  if (red == 0xf800) out[hi] = redValue;
  if (red == 0x00f8) out[lo] = redValue;
  unsigned char greenHigh = static_cast<unsigned char>(c.g >> 5);
  unsigned char greenLow = static_cast<unsigned char>((c.g & 0x1c) << 3);
  if (green == 0x07e0) {
    out[hi] |= greenHigh;
    out[lo] |= greenLow;
  }
  if (green == 0xe007) {
    out[lo] |= greenHigh;
    out[hi] |= greenLow;
  }
  unsigned char blueValue = static_cast<unsigned char>(c.b >> 3);
  if (blue == 0x001f) out[lo] |= blueValue;
  if (blue == 0x1f00) out[hi] |= blueValue;
}

// The reader's 4-byte pixels take a word-at-a-time path on little-endian
// hosts; 3-byte pixels the byte-at-a-time one.  Both must agree with the rules.
TEST(PackTrueColor16, EveryAcceptedMaskAndByteOrder) {
  for (int size : {4, 3}) {
    SCOPED_TRACE(testing::Message() << size << "-byte pixels");
    const Image image = randomImage(19, 11, 16, 6, size);
    for (uint32_t red : {0xf800u, 0x00f8u})
      for (uint32_t green : {0x07e0u, 0xe007u})
        for (uint32_t blue : {0x001fu, 0x1f00u})
          for (bool msb : {false, true}) {
            SCOPED_TRACE(testing::Message() << std::hex << "red " << red << " green " << green
                                            << " blue " << blue << (msb ? " MSB" : " LSB"));
            TrueColorLayout layout;
            // Bits above the low 16 do not count.
            ASSERT_EQ(resolveLayout16({red | 0x10000u, green, blue}, msb, layout),
                      MaskFault::none);
            // Rows back to back, and padded to 4 bytes as a server lays them out.
            for (size_t rowBytes : {19 * 2, 20 * 2}) {
              std::vector<unsigned char> out(rowBytes * 11 + 1, 0xcc);
              packTrueColor(image.source(), layout, out.data(), rowBytes);
              for (int j = 0; j < 11; ++j) {
                for (int k = 0; k < 19; ++k) {
                  unsigned char want[2];
                  referencePixel16(image.at(k, j), red, green, blue, msb, want);
                  const size_t n = static_cast<size_t>(j) * rowBytes + static_cast<size_t>(k) * 2;
                  ASSERT_EQ(out[n], want[0]) << "pixel " << k << "," << j;
                  ASSERT_EQ(out[n + 1], want[1]) << "pixel " << k << "," << j;
                }
                for (size_t pad = 19 * 2; pad < rowBytes; ++pad)
                  ASSERT_EQ(out[static_cast<size_t>(j) * rowBytes + pad], 0) << "row " << j;
              }
              EXPECT_EQ(out.back(), 0xcc);
            }
          }
  }
}

TEST(PackTrueColor16, PureRedInBothByteOrders) {
  Image image(2, 1);
  image.set(0, 0, {255, 0, 0});
  image.set(1, 0, {255, 0, 0});
  struct Case {
    bool msb;
    std::array<unsigned char, 4> bytes;
  };
  for (const Case &c : {Case{false, {0x00, 0xf8, 0x00, 0xf8}}, Case{true, {0xf8, 0x00, 0xf8, 0x00}}}) {
    TrueColorLayout layout;
    ASSERT_EQ(resolveLayout16({0xf800, 0x07e0, 0x001f}, c.msb, layout), MaskFault::none);
    std::array<unsigned char, 4> out{};
    packTrueColor(image.source(), layout, out.data(), 4);
    EXPECT_EQ(out, c.bytes) << (c.msb ? "MSBFirst" : "LSBFirst");
  }
}

TEST(PackTrueColor16, MasksOutsideTheTableAreNamedRedThenGreenThenBlue) {
  struct Case {
    const char *name;
    unsigned long red, green, blue;
    MaskFault fault;
  };
  const Case cases[] = {
      {"5-5-5 red", 0x7c00, 0x03e0, 0x001f, MaskFault::red},
      {"5-6-5 red, 5-5-5 green", 0xf800, 0x03e0, 0x001f, MaskFault::green},
      {"blue in the wrong place", 0xf800, 0x07e0, 0x003e, MaskFault::blue},
      {"BGR 5-6-5", 0x001f, 0x07e0, 0xf800, MaskFault::red},
      {"exchanged red with usual green and bad blue", 0x00f8, 0x07e0, 0x0000, MaskFault::blue},
      {"the accepted red only in the high half", 0xf8000000, 0x07e0, 0x001f, MaskFault::red},
      {"mixed exchanged and usual is accepted", 0x00f8, 0x07e0, 0x1f00, MaskFault::none},
  };
  for (const Case &c : cases) {
    for (bool msb : {false, true}) {
      TrueColorLayout layout;
      EXPECT_EQ(resolveLayout16({c.red, c.green, c.blue}, msb, layout), c.fault)
          << c.name << (msb ? " MSBFirst" : " LSBFirst");
    }
  }
}

TEST(PackTrueColor16, RefusalMessagesNameTheMaskAndTheImageFormat) {
  // The format of a typical 16-bit LSBFirst image 10 pixels wide.
  const ImageFormat format{0, 32, 0, 16, 16, 20, 16};
  struct Case {
    MaskFault fault;
    TrueColorMasks masks;
    const char *text;
  };
  const Case cases[] = {
      {MaskFault::red, {0x7c00, 0x03e0, 0x001f},
       "pixmap: no support for redmask 0x7c00 for 16-bit TrueColor visual\n"
       "byte_order=0,unit=32,bit_order=0,pad=16,depth=16,bytes_per_line=20,bits_per_pixel=16"},
      {MaskFault::green, {0xf800, 0x3e0, 0x1f},
       "pixmap: no support for greenmask 0x3e0 for 16-bit TrueColor visual"},
      {MaskFault::blue, {0xf800, 0x07e0, 0xabc0001f},
       "pixmap: no support for bluemask 0x1f for 16-bit TrueColor visual"},
      {MaskFault::none, {0xf800, 0x07e0, 0x001f}, ""},
  };
  for (const Case &c : cases) {
    char text[400];
    describeMaskFault(c.fault, c.masks, format, text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
  // A short buffer is cut, never overrun.
  char small[12];
  describeMaskFault(MaskFault::red, {0x7c00, 0, 0}, format, small, sizeof small);
  EXPECT_STREQ(small, "pixmap: no ");
}

// ------------------------------------------------------------- TrueColor 32

TEST(PackTrueColor32, MasksAndByteOrderPlaceEachComponent) {
  struct Case {
    const char *name;
    unsigned long red, green, blue;
    bool msb;
    std::array<int, 4> byteFrom;  // per memory byte: 0 red, 1 green, 2 blue, -1 zero
  };
  const Case cases[] = {
      {"RGB LSBFirst stores blue, green, red, 0", 0xff0000, 0x00ff00, 0x0000ff, false, {2, 1, 0, -1}},
      {"RGB MSBFirst stores 0, red, green, blue", 0xff0000, 0x00ff00, 0x0000ff, true, {-1, 0, 1, 2}},
      {"BGR LSBFirst", 0x0000ff, 0x00ff00, 0xff0000, false, {0, 1, 2, -1}},
      {"RGBX LSBFirst", 0xff000000, 0x00ff0000, 0x0000ff00, false, {-1, 2, 1, 0}},
      {"RGBX MSBFirst", 0xff000000, 0x00ff0000, 0x0000ff00, true, {0, 1, 2, -1}},
      {"a mask wider than a byte drops red", 0xfff000, 0x00ff00, 0x0000ff, false, {2, 1, -1, -1}},
      {"no masks at all drop everything", 0, 0, 0, true, {-1, -1, -1, -1}},
      {"10-bit masks drop everything", 0x3ff00000, 0x000ffc00, 0x000003ff, false, {-1, -1, -1, -1}},
  };
  for (int size : {4, 3}) {
    const Image image = randomImage(13, 9, 32, 8, size);
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << size << "-byte pixels");
      TrueColorLayout layout;
      resolveLayout32({c.red, c.green, c.blue}, c.msb, reverse4, layout);
      std::vector<unsigned char> out(static_cast<size_t>(13 * 9 * 4) + 1, 0xcc);
      packTrueColor(image.source(), layout, out.data(), 13 * 4);
      for (int j = 0; j < 9; ++j)
        for (int k = 0; k < 13; ++k) {
          Rgb rgb = image.at(k, j);
          const uint8_t components[3] = {rgb.r, rgb.g, rgb.b};
          const size_t n = static_cast<size_t>(j * 13 + k) * 4;
          for (int i = 0; i < 4; ++i) {
            int from = c.byteFrom[static_cast<size_t>(i)];
            ASSERT_EQ(out[n + static_cast<size_t>(i)], from < 0 ? 0 : components[from])
                << "pixel " << k << "," << j << " byte " << i;
          }
        }
      EXPECT_EQ(out.back(), 0xcc);
  }
  }
}

TEST(PackTrueColor32, EmptyImageWritesNothing) {
  Image image(0, 0);
  TrueColorLayout layout;
  resolveLayout32({0xff0000, 0xff00, 0xff}, false, reverse4, layout);
  unsigned char sentinel = 0xcc;
  packTrueColor(image.source(), layout, &sentinel, 0);
  EXPECT_EQ(sentinel, 0xcc);
}

// ------------------------------------------------------------- sizes

// The opacity bitmap against a bit-by-bit rule, for widths around the byte
// boundaries, padded rows and bitmap rows, with and without transparency.
TEST(PackOpacity, OneBitPerOpaquePixelLeastSignificantFirst) {
  std::mt19937 random(7);
  for (int width : {1, 7, 8, 9, 15, 16, 17, 33}) {
    for (int transparentEvery : {0, 1, 3, 50}) {
      Image image(width, 3, 5);
      int n = 0;
      for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < width; ++column, ++n) {
          image.set(column, row, {1, 2, 3});
          const bool clear = transparentEvery != 0 && n % transparentEvery == 0;
          image.bytes[static_cast<size_t>(row) * image.pitch + column * 4 + 3] =
              clear ? 0 : static_cast<unsigned char>(1 + random() % 255);
        }
      }
      const size_t bytesPerRow = (width + 7) / 8 + 2;
      std::vector<unsigned char> bits(bytesPerRow * 3, 0xee);
      const bool anyClear = packOpacity(image.source(), bits.data(), bytesPerRow);
      EXPECT_EQ(anyClear, transparentEvery != 0) << width;
      EXPECT_EQ(hasTransparentPixel(image.source()), anyClear) << width;
      n = 0;
      for (int row = 0; row < 3; ++row) {
        for (size_t byte = 0; byte < bytesPerRow; ++byte) {
          unsigned expected = 0;
          for (int bit = 0; bit < 8; ++bit) {
            const int column = static_cast<int>(byte) * 8 + bit;
            if (column >= width) continue;
            const bool clear = transparentEvery != 0 && (row * width + column) % transparentEvery == 0;
            if (!clear) expected |= 1u << bit;
          }
          EXPECT_EQ(bits[row * bytesPerRow + byte], expected)
              << "width " << width << " row " << row << " byte " << byte;
        }
      }
    }
  }
}

TEST(PackSizes, ImageBytesRefusesWhatCannotBeHeld) {
  size_t bytes = 1;
  EXPECT_TRUE(imageBytes(10, 7, 2, &bytes));
  EXPECT_EQ(bytes, 140u);
  EXPECT_TRUE(imageBytes(0, 7, 4, &bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_FALSE(imageBytes(-1, 7, 4, &bytes));
  EXPECT_FALSE(imageBytes(7, -1, 4, &bytes));
  const bool fits = sizeof(size_t) > 4;
  EXPECT_EQ(imageBytes(65535, 65535, 4, &bytes), fits);
  if (fits) {
    EXPECT_EQ(bytes, size_t{65535} * 65535 * 4);
  }
}

// A loaded image keeps one byte a pixel and a palette: packing the palette
// and looking each pixel up must give what packing its RGBA gives, for
// every layout, and the same opacity bitmap.
TEST(PackIndexed, PaletteAndLookUpEqualPackingTheRgba) {
  std::mt19937 random(11);
  const int width = 37, height = 5;
  std::vector<uint32_t> palette(200);
  for (uint32_t &colour : palette) colour = random() | (random() % 5 == 0 ? 0u : 0xff000000u);
  std::vector<unsigned char> indices(size_t(width) * height);
  std::vector<unsigned char> rgba(indices.size() * 4);
  for (size_t i = 0; i < indices.size(); ++i) {
    indices[i] = static_cast<unsigned char>(random() % palette.size());
    memcpy(&rgba[4 * i], &palette[indices[i]], 4);
  }
  const PixelSource indexed{indices.data(), width, height, width, 1, palette.data(),
                            int(palette.size())};
  const PixelSource whole{rgba.data(), width, height, width * 4, 4};
  auto swap = [](const void *from, void *to, int n) {
    for (int i = 0; i < n; ++i)
      for (int b = 0; b < 4; ++b)
        static_cast<unsigned char *>(to)[4 * i + b] = static_cast<const unsigned char *>(from)[4 * i + 3 - b];
  };
  for (bool msbFirst : {false, true}) {
    for (int bytes : {2, 4}) {
      TrueColorLayout layout;
      if (bytes == 2) resolveLayout16({0xf800, 0x07e0, 0x001f}, msbFirst, layout);
      else resolveLayout32({0xff0000, 0x00ff00, 0x0000ff}, msbFirst, swap, layout);
      const size_t rowBytes = size_t(width) * bytes + 3;  // a padded row
      std::vector<unsigned char> want(rowBytes * height, 0xee), got(rowBytes * height, 0xee);
      packTrueColor(whole, layout, want.data(), rowBytes);
      std::vector<unsigned char> table(palette.size() * bytes);
      packTrueColor(paletteRow(indexed), layout, table.data(), table.size());
      lookUpIndices(indexed, table.data(), bytes, got.data(), rowBytes);
      EXPECT_EQ(got, want) << bytes << " bytes, msbFirst " << msbFirst;
    }
  }
  const size_t bitsPerRow = (width + 7) / 8;
  std::vector<unsigned char> want(bitsPerRow * height), got(bitsPerRow * height);
  EXPECT_EQ(packOpacity(indexed, got.data(), bitsPerRow), packOpacity(whole, want.data(), bitsPerRow));
  EXPECT_EQ(got, want);
  EXPECT_EQ(hasTransparentPixel(indexed), hasTransparentPixel(whole));
}

}  // namespace
