// image_test.cc - the form in which a loaded image keeps its pixels: one
// byte a pixel while the pixels hold at most 256 distinct RGBA values, RGBA
// beyond, or the GIF file when that is smaller; every pixel reads back
// exactly.

#include "tkpixmap/image/image.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include "tests/support/gif_writer.h"
#include "tkpixmap/gif/reader.h"

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

// A file that compresses (a flat field) is kept as itself and read again
// for each build; one that does not (noise) is kept decoded.  The pixels a
// build gets are the file's either way, and outlive the last owner while
// pinned.
TEST(KeptPixels, TheFileIsKeptWhenSmallerAndEveryBuildReadsTheSamePixels) {
  struct Row {
    const char *name;
    bool noise;
    bool keptAsFile;
  };
  const Row rows[] = {{"flat 48x48", false, true}, {"noise 48x48", true, false}};
  std::mt19937 random(7);
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<tkpixmap::testing::Rgb> palette;
    for (int i = 0; i < 256; ++i)
      palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    std::vector<int> indices(48 * 48);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = row.noise ? int(random() % 256) : int(i / 480);
    const tkpixmap::testing::Bytes file =
        tkpixmap::testing::encodeGif(48, 48, palette, indices, false, 3);
    tkpixmap::gif::ByteSource source(file.data(), file.size());
    tkpixmap::gif::ReadRequest request;
    auto *state = new tkpixmap::gif::ReadState;
    tkpixmap::gif::ReadResult result;
    ASSERT_EQ(tkpixmap::gif::readFirstImage(source, request, [](size_t n) { return malloc(n); },
                                            free, *state, result),
              tkpixmap::gif::ReadStatus::ok);
    delete state;
    tkpixmap::Image *image =
        tkpixmap::newImage(result.pixels, 48, 48, file.data(), file.size());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels.file != nullptr, row.keptAsFile);
    ImagePixels decoded;
    const ImagePixels *pinned = tkpixmap::pinPixels(image, &decoded);
    ASSERT_NE(pinned, nullptr);
    tkpixmap::addReference(image);             // as the instance being built holds it
    EXPECT_FALSE(tkpixmap::dropOwner(image));  // the pin keeps the pixels
    int wrong = 0;
    for (int i = 0; i < 48 * 48; ++i) {
      uint32_t word;
      memcpy(&word, &result.pixels[4 * i], 4);
      wrong += tkpixmap::pixelAt(*pinned, i % 48, i / 48) != word;
    }
    EXPECT_EQ(wrong, 0);
    tkpixmap::unpinPixels(image, &decoded);
    EXPECT_FALSE(tkpixmap::hasPixels(image->pixels));
    tkpixmap::dropReference(image);
    free(result.pixels);
  }
}

TEST(KeptPixels, AnImageWithoutPixelsKeepsNothingAndItsLastOwnerFreesIt) {
  tkpixmap::Image *image = tkpixmap::newImage(nullptr, 6, 4);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixels.block, nullptr);
  ImagePixels decoded;
  EXPECT_EQ(tkpixmap::pinPixels(image, &decoded), nullptr);
  EXPECT_FALSE(tkpixmap::dropOwner(image));  // freed (the leak check of the sanitized runs sees it)
}

}  // namespace
