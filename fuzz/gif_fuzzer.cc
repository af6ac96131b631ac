// gif_fuzzer.cc - libFuzzer target for the GIF reader: any input must decode
// or fail cleanly, give the same result whatever its scratch state held
// before (the state lives on the caller's stack, uncleared), agree with the
// reference model pixel for pixel, and give the same image pixels on a
// screen one column wider.  The frame decoder then goes over every frame
// (up to a budget of composited pixels): its first frame must be the first
// image, failures must match, and every canvas pixel must be opaque or
// 0,0,0,0.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <vector>

#include "tests/support/gif_reference.h"
#include "tkpixmap/gif/frames.h"
#include "tkpixmap/gif/reader.h"

namespace {

// Screens above this many pixels are skipped: they only slow the search.
constexpr uint64_t kFuzzPixelCap = uint64_t{1} << 22;
// Canvas pixels looked at over all frames of one input: bounded work.
constexpr uint64_t kFuzzFramePixelBudget = uint64_t{1} << 21;

// Every frame of the input: the first is `first` (readFirstImage's pixels
// for the whole screen, null when it delivered none, with its status and
// whether it met an image).
// The decoder is built over stale bytes, as a caller's stack would hold.
void checkFrames(const uint8_t *data, size_t size, tkpixmap::gif::ReadStatus firstStatus,
                 bool imageFound, const uint8_t *first) {
  using namespace tkpixmap::gif;
  alignas(FrameDecoder) static unsigned char storage[sizeof(FrameDecoder)];
  memset(storage, 0x5A, sizeof storage);
  FrameDecoder *frames = new (storage) FrameDecoder(malloc, free);
  ByteSource source(data, size);
  const ReadStatus openStatus = frames->open(source);
  if (openStatus != ReadStatus::ok) {
    if (openStatus != firstStatus) abort();
  } else {
    const size_t pixels = size_t(frames->screenWidth()) * size_t(frames->screenHeight());
    uint64_t budget = kFuzzFramePixelBudget;
    bool any = false;
    // The first frame always; the others while the budget lasts.
    while ((!any || budget >= pixels) && frames->next()) {
      budget -= budget >= pixels ? pixels : budget;
      const uint8_t *canvas = frames->canvas();
      if (!any) {
        if (firstStatus != ReadStatus::ok || first == nullptr) abort();
        if (memcmp(canvas, first, pixels * 4) != 0) abort();
        any = true;
      }
      for (size_t i = 0; i < pixels; ++i) {
        const uint8_t *p = canvas + 4 * i;
        if (p[3] != 255 && (p[0] | p[1] | p[2] | p[3]) != 0) abort();
      }
    }
    if (!any && (frames->status() != firstStatus ||
                 (firstStatus == ReadStatus::ok && imageFound))) {
      abort();
    }
  }
  frames->~FrameDecoder();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace tkpixmap::gif;
  if (size >= 10) {
    uint64_t w = data[6] | data[7] << 8, h = data[8] | data[9] << 8;
    if (w * h > kFuzzPixelCap) return -1;  // not worth keeping in the corpus
  }
  static auto state = std::make_unique<ReadState>();
  auto decode = [&](uint8_t fill, ReadRequest &request, ReadResult &result) {
    memset(static_cast<void *>(state.get()), fill, sizeof(ReadState));
    ByteSource source(data, size);
    return readFirstImage(source, request, malloc, free, *state, result);
  };
  ReadRequest request, dirtyRequest;
  ReadResult result, dirtyResult;
  ReadStatus status = decode(0x00, request, result);
  ReadStatus dirtyStatus = decode(0x7F, dirtyRequest, dirtyResult);
  if (status != dirtyStatus || (result.pixels == nullptr) != (dirtyResult.pixels == nullptr)) {
    abort();
  }
  if (result.pixels != nullptr &&
      memcmp(result.pixels, dirtyResult.pixels, size_t(request.width) * request.height * 4) != 0) {
    abort();
  }
  free(dirtyResult.pixels);
  bool ok = status == ReadStatus::ok || status == ReadStatus::okNoPixels;

  std::vector<uint8_t> file(data, data + size);
  tkpixmap::testing::ReferenceImage model = tkpixmap::testing::referenceDecode(file);
  if (ok != model.ok) abort();
  size_t bytes = result.pixels != nullptr ? size_t(request.width) * request.height * 4 : 0;
  if (bytes != model.rgba.size()) abort();
  if (bytes != 0 && memcmp(result.pixels, model.rgba.data(), bytes) != 0) abort();

  // The same bytes on a screen one column wider give the same image.
  std::vector<uint8_t> wider = tkpixmap::testing::widenedScreen(file);
  if (wider != file && result.pixels != nullptr) {
    ReadRequest widerRequest;
    ReadResult widerResult;
    ByteSource source(wider.data(), wider.size());
    if (readFirstImage(source, widerRequest, malloc, free, *state, widerResult) != status) abort();
    if (widerResult.pixels == nullptr ||
        !tkpixmap::testing::sameLeftColumns(result.pixels, widerResult.pixels, request.width,
                                            request.height)) {
      abort();
    }
    free(widerResult.pixels);
  }
  checkFrames(data, size, status, result.imageFound, result.pixels);
  free(result.pixels);
  return 0;
}
