// image_test.cc - the form in which a loaded image keeps its pixels: one
// byte a pixel while the pixels hold at most 256 distinct RGBA values, RGBA
// beyond; either way every pixel reads back exactly.

#include "tkpixmap/image/image.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <vector>

namespace {

using tkpixmap::ImagePixels;

TEST(KeptPixels, OneBytePerPixelUpTo256ColoursRgbaBeyondEveryPixelExact) {
  struct Row {
    const char *name;
    int width, height, colours;
    int bytesPerPixel;
  };
  const Row rows[] = {
      {"one colour", 9, 4, 1, 1},
      {"256 colours, transparent black among them", 64, 9, 256, 1},
      {"257 colours", 64, 9, 257, 4},
      {"a single pixel", 1, 1, 1, 1},
  };
  std::mt19937 random(3);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint32_t> colours(row.colours);
    for (int i = 0; i < row.colours; ++i) colours[i] = i == 0 ? 0u : (random() | 0xff000000u);
    std::vector<uint32_t> rgba(size_t(row.width) * row.height);
    for (size_t i = 0; i < rgba.size(); ++i)
      rgba[i] = colours[i < colours.size() ? i : random() % colours.size()];
    ImagePixels kept;
    ASSERT_TRUE(tkpixmap::keepPixels(reinterpret_cast<const uint8_t *>(rgba.data()), row.width,
                                     row.height, &kept));
    EXPECT_EQ(kept.bytesPerPixel, row.bytesPerPixel);
    int wrong = 0;
    for (int y = 0; y < row.height; ++y)
      for (int x = 0; x < row.width; ++x)
        wrong += tkpixmap::pixelAt(kept, x, y) != rgba[size_t(y) * row.width + x];
    EXPECT_EQ(wrong, 0);
    tkpixmap::dropPixels(&kept);
  }
}

TEST(KeptPixels, AnImageWithoutPixelsKeepsNothingAndItsLastOwnerFreesIt) {
  tkpixmap::Image *image = tkpixmap::newImage(nullptr, 6, 4);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixels.block, nullptr);
  EXPECT_EQ(tkpixmap::pinPixels(image), nullptr);
  EXPECT_FALSE(tkpixmap::dropOwner(image));  // freed (the leak check of the sanitized runs sees it)
}

}  // namespace
