// pack_index_test.cc - the one-pass 8-bit packing (indexColours, then
// indicesToPixels once the colours have cells) must give exactly what
// counting and mapping separately gives, for every pixel layout a reader can
// deliver, and must stop at the same point when an image has too many
// colours.

#include <gtest/gtest.h>
#include <stdint.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "tkpixmap/x11/pack.h"

namespace {

using namespace tkpixmap::pack;

struct Layout {
  const char *name;
  int width, height, padding, pixelSize, colours;
};

// Pixels of `colours` colours in random places; colour c is (c*2, 255-c, c)
// except that colour 0 is pure white, the key whose bits are all ones.
std::vector<unsigned char> image(const Layout &l, unsigned seed) {
  std::mt19937 random(seed);
  const int pitch = l.width * l.pixelSize + l.padding;
  std::vector<unsigned char> bytes(static_cast<size_t>(pitch) * l.height + 1, 0xee);
  for (int j = 0; j < l.height; ++j)
    for (int k = 0; k < l.width; ++k) {
      const int c = static_cast<int>(random() % static_cast<unsigned>(l.colours));
      unsigned char *p = &bytes[static_cast<size_t>(j) * pitch + static_cast<size_t>(k) * l.pixelSize];
      p[0] = c == 0 ? 255 : static_cast<unsigned char>(c * 2);
      p[1] = c == 0 ? 255 : static_cast<unsigned char>(255 - c);
      p[2] = c == 0 ? 255 : static_cast<unsigned char>(c);
      if (l.pixelSize > 3) p[3] = static_cast<unsigned char>(random());  // alpha: ignored
    }
  return bytes;
}

TEST(PackIndex, OnePassEqualsCountingThenMapping) {
  const Layout layouts[] = {
      {"RGBA, rows a multiple of 8 wide", 64, 9, 0, 4, 120},
      {"RGBA with row padding, odd width", 37, 23, 6, 4, 128},
      {"RGB without alpha", 29, 11, 3, 3, 100},
      {"one colour", 13, 5, 0, 4, 1},
      {"a single pixel", 1, 1, 0, 4, 1},
      {"fewer pixels than eight", 5, 1, 0, 4, 3},
  };
  for (const Layout &l : layouts) {
    SCOPED_TRACE(l.name);
    const std::vector<unsigned char> bytes = image(l, 11);
    const PixelSource source{bytes.data(), l.width, l.height, l.width * l.pixelSize + l.padding,
                             l.pixelSize};
    auto counted = std::make_unique<ColourTable>();
    auto indexed = std::make_unique<ColourTable>();
    const size_t pixels = static_cast<size_t>(l.width) * l.height;
    std::vector<unsigned char> mapped(pixels + 1, 0xcc), numbered(pixels + 1, 0xcc);

    // The colours in the order first seen, rows top to bottom.
    std::vector<uint32_t> firstSeen;
    for (int j = 0; j < l.height; ++j)
      for (int k = 0; k < l.width; ++k) {
        const unsigned char *p =
            &bytes[static_cast<size_t>(j) * source.pitch + static_cast<size_t>(k) * l.pixelSize];
        const uint32_t colour = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        if (std::find(firstSeen.begin(), firstSeen.end(), colour) == firstSeen.end())
          firstSeen.push_back(colour);
      }

    const int count = countColours(source, *counted);
    ASSERT_EQ(count, static_cast<int>(firstSeen.size()));
    for (int i = 0; i < count; ++i) EXPECT_EQ(counted->colours[i], firstSeen[size_t(i)]) << i;
    ASSERT_EQ(indexColours(source, *indexed, numbered.data()), count);
    ASSERT_EQ(indexed->count, counted->count);
    for (int i = 0; i < count; ++i) EXPECT_EQ(indexed->colours[i], counted->colours[i]) << i;

    // Cells past 255 and in no particular order: only the low byte counts.
    for (int i = 0; i < count; ++i) {
      counted->pixels[i] = indexed->pixels[i] = 0x500 + static_cast<unsigned long>((i * 37) % 251);
    }
    // Each pixel by itself: the low byte of its colour's cell.
    for (size_t i = 0; i < pixels; ++i) {
      const unsigned char *p = &bytes[(i / size_t(l.width)) * size_t(source.pitch) +
                                      (i % size_t(l.width)) * size_t(l.pixelSize)];
      const uint32_t colour = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
      const size_t number = size_t(
          std::find(firstSeen.begin(), firstSeen.end(), colour) - firstSeen.begin());
      mapped[i] = static_cast<unsigned char>(counted->pixels[number] & 0xff);
    }
    indicesToPixels(*indexed, numbered.data(), pixels);
    EXPECT_EQ(numbered, mapped);
    EXPECT_EQ(numbered.back(), 0xcc) << "wrote past width*height bytes";
  }
}

TEST(PackIndex, TooManyColoursStopsLikeCounting) {
  const Layout l = {"200 colours", 40, 40, 0, 4, 200};
  const std::vector<unsigned char> bytes = image(l, 5);
  const PixelSource source{bytes.data(), l.width, l.height, l.width * 4, 4};
  auto table = std::make_unique<ColourTable>();
  std::vector<unsigned char> numbered(static_cast<size_t>(l.width) * l.height);
  EXPECT_EQ(indexColours(source, *table, numbered.data()), kMaxColours + 1);
  EXPECT_EQ(countColours(source, *table), kMaxColours + 1);
}

}  // namespace
