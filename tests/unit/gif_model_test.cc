// gif_model_test.cc - the fast decoder against the pixel-at-a-time reference
// model, on random code streams: valid codes, clear and end codes anywhere,
// codes equal to or above the next free entry, every minimum code size,
// odd sub-block sizes, interlacing, placement off the screen, truncation;
// and the same bytes on a screen one column wider give the same image.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <random>
#include <vector>

#include "tests/support/gif_reference.h"
#include "tests/support/gif_writer.h"
#include "tests/support/gif_decode.h"

namespace tkpixmap::gif {
namespace {

using testing::Bytes;

// A random but mostly plausible code stream for a decoder starting at
// `minCodeSize`: it tracks the decoder's next free entry to pick codes.
std::vector<int> randomCodes(std::mt19937 &random, int minCodeSize, size_t count) {
  const int clear = 1 << minCodeSize;
  int nextFree = clear + 2;
  bool first = true;
  std::vector<int> codes;
  auto chance = [&](int percent) { return int(random() % 100) < percent; };
  if (chance(80)) codes.push_back(clear);
  while (codes.size() < count) {
    int code;
    if (chance(2)) {
      code = clear;
    } else if (chance(1)) {
      code = clear + 1;
    } else if (first) {
      code = chance(95) ? int(random() % unsigned(clear)) : int(random() % 4096) % (clear * 2);
    } else if (chance(3)) {
      code = nextFree;  // the string-plus-first-pixel case
    } else if (chance(1)) {
      code = nextFree + 1 + int(random() % 8);  // not defined at all
    } else if (chance(60)) {
      code = int(random() % unsigned(clear));
    } else {
      code = clear + 2 + int(random() % unsigned(std::max(1, nextFree - clear - 2)));
      if (code >= nextFree) code = int(random() % unsigned(clear));
    }
    code = std::min(code, 4095);
    codes.push_back(code);
    if (code == clear) {
      nextFree = clear + 2;
      first = true;
    } else if (code != clear + 1) {
      if (!first && nextFree < 4096) ++nextFree;
      first = false;
    }
  }
  return codes;
}

TEST(GifModel, FastDecoderAgreesWithTheReferenceModel) {
  std::mt19937 random(20261208);
  int compared = 0;
  for (int round = 0; round < 4000; ++round) {
    int minCodeSize = int(random() % 12);
    int screenW = 1 + int(random() % 40), screenH = 1 + int(random() % 40);
    int imageW = 1 + int(random() % 45), imageH = 1 + int(random() % 45);
    int left = random() % 4 == 0 ? int(random() % 50) : 0;
    int top = random() % 4 == 0 ? int(random() % 50) : 0;
    bool interlaced = random() % 3 == 0;
    if (random() % 2 == 0) {
      // The common case, which has a decoder of its own: the image is the
      // screen.
      imageW = screenW, imageH = screenH, left = top = 0;
    }
    size_t count = 1 + random() % size_t(imageW * imageH + 50);
    std::vector<int> codes = randomCodes(random, minCodeSize, count);
    int blockSize = random() % 4 == 0 ? 1 + int(random() % 10) : 255;

    std::vector<testing::Rgb> palette;
    for (int i = 0; i < 256; ++i) palette.push_back({uint8_t(i), uint8_t(i * 3), uint8_t(i * 7)});
    testing::GifWriter gif;
    gif.signature().screen(screenW, screenH, 0x87).colorTable(palette);
    if (random() % 4 == 0) gif.graphicControl(1, int(random() % 256));
    gif.imageDescriptor(left, top, imageW, imageH, interlaced ? 0x40 : 0)
        .imageData(minCodeSize, testing::packCodesTracked(codes, minCodeSize), blockSize,
                   random() % 8 != 0)
        .trailer();
    Bytes file = gif.bytes();
    if (random() % 5 == 0) file.resize(file.size() - random() % (file.size() / 2));

    testing::ReferenceImage model = testing::referenceDecode(file);
    testing::DecodedGif ours = testing::decodeGif(file);
    ASSERT_EQ(ours.ok(), model.ok) << "round " << round;
    ASSERT_EQ(ours.rgba, model.rgba) << "round " << round << ": code size " << minCodeSize
                                     << ", image " << imageW << "x" << imageH << " at " << left
                                     << "," << top << " on " << screenW << "x" << screenH
                                     << (interlaced ? ", interlaced" : "") << ", blocks of "
                                     << blockSize;
    // The same bytes on a screen one column wider give the same image.
    testing::DecodedGif wider = testing::decodeGif(testing::widenedScreen(file));
    ASSERT_EQ(wider.status, ours.status) << "round " << round;
    if (!ours.rgba.empty()) {
      ASSERT_TRUE(testing::sameLeftColumns(ours.rgba.data(), wider.rgba.data(), ours.width,
                                           ours.height))
          << "round " << round << ": pixels change on a wider screen";
    }
    ++compared;
  }
  EXPECT_EQ(compared, 4000);
}

}  // namespace
}  // namespace tkpixmap::gif
