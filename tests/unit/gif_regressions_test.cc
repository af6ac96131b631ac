// gif_regressions_test.cc - replays every input the GIF fuzzer has caught
// (fuzz/regressions/gif_fuzzer/) through the reader.  Each must read or fail
// cleanly, agree with the reference model (and give the same image on a
// screen one column wider), and give the same outcome and the same pixels
// whatever an earlier read left in the decoder's scratch state: the host
// keeps that state on its stack, so anything read from it would show memory
// the file never supplied.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/gif_reference.h"
#include "tkpixmap/gif/reader.h"

namespace tkpixmap::gif {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> regressionInputs() {
  std::vector<fs::path> inputs;
  const fs::path dir = fs::path(TKPIXMAP_SOURCE_DIR) / "fuzz" / "regressions" / "gif_fuzzer";
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(dir, error))
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

std::vector<uint8_t> readAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
  ReadStatus status;
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};

// Reads `file` with scratch state whose every byte is `fill` beforehand.
// Fill bytes of 0x01 keep every stale index inside the tables (257), so a
// read of stale state shows up as wrong pixels rather than a wild access.
Outcome readWithState(const std::vector<uint8_t> &file, uint8_t fill) {
  auto state = std::make_unique<ReadState>();
  memset(static_cast<void *>(state.get()), fill, sizeof *state);
  ByteSource source(file.data(), file.size());
  ReadRequest request;
  ReadResult result;
  Outcome outcome;
  outcome.status = readFirstImage(source, request, malloc, free, *state, result);
  if (result.pixels != nullptr) {
    outcome.width = request.width;
    outcome.height = request.height;
    outcome.rgba.assign(result.pixels, result.pixels + size_t(request.width) * request.height * 4);
    free(result.pixels);
  }
  return outcome;
}

TEST(GifRegressions, InputsArePresent) {
  EXPECT_FALSE(regressionInputs().empty());
}

TEST(GifRegressions, EveryCaughtInputReadsTheSameWhateverTheScratchStateHeld) {
  for (const fs::path &path : regressionInputs()) {
    SCOPED_TRACE(path.filename().string());
    const std::vector<uint8_t> file = readAll(path);
    const Outcome clean = readWithState(file, 0x00);
    for (uint8_t fill : {uint8_t{0x01}, uint8_t{0x0F}}) {
      const Outcome stale = readWithState(file, fill);
      EXPECT_EQ(stale.status, clean.status) << "fill " << int(fill);
      EXPECT_EQ(stale.width, clean.width);
      EXPECT_EQ(stale.height, clean.height);
      EXPECT_TRUE(stale.rgba == clean.rgba) << "pixels depend on stale state, fill " << int(fill);
    }
  }
}

TEST(GifRegressions, EveryCaughtInputAgreesWithTheReferenceModel) {
  for (const fs::path &path : regressionInputs()) {
    SCOPED_TRACE(path.filename().string());
    const std::vector<uint8_t> file = readAll(path);
    const Outcome outcome = readWithState(file, 0x00);
    const testing::ReferenceImage model = testing::referenceDecode(file);
    const bool ok = outcome.status == ReadStatus::ok || outcome.status == ReadStatus::okNoPixels;
    EXPECT_EQ(ok, model.ok);
    EXPECT_TRUE(outcome.rgba == model.rgba);
    const Outcome wider = readWithState(testing::widenedScreen(file), 0x00);
    EXPECT_EQ(wider.status, outcome.status);
    if (!outcome.rgba.empty() && wider.width == outcome.width + 1) {
      EXPECT_TRUE(testing::sameLeftColumns(outcome.rgba.data(), wider.rgba.data(), outcome.width,
                                           outcome.height))
          << "pixels change on a screen one column wider";
    }
  }
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer, stale links that point anywhere at all: any read
// through them is caught as an access outside the scratch state.
TEST(GifRegressions, EveryCaughtInputIsSafeWithWildScratchState) {
  for (const fs::path &path : regressionInputs()) {
    SCOPED_TRACE(path.filename().string());
    const Outcome clean = readWithState(readAll(path), 0x00);
    const Outcome wild = readWithState(readAll(path), 0xFF);
    EXPECT_EQ(wild.status, clean.status);
    EXPECT_TRUE(wild.rgba == clean.rgba);
  }
}
#endif

}  // namespace
}  // namespace tkpixmap::gif
