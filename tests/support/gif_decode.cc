// gif_decode.cc - the GIF tests' way into the reader.

#include "tests/support/gif_decode.h"

#include <memory>

namespace tkpixmap::testing {

DecodedGif decodeGif(const std::vector<uint8_t> &file, gif::ReadRequest request,
                     gif::Allocate allocate) {
  auto state = std::make_unique<gif::ReadState>();  // too big for a test's stack
  gif::ByteSource source(file.data(), file.size());
  gif::ReadResult result;
  DecodedGif out;
  out.status = gif::readFirstImage(source, request, allocate, free, *state, result);
  out.width = request.width;
  out.height = request.height;
  if (result.pixels != nullptr) {
    out.rgba.assign(result.pixels, result.pixels + size_t(request.width) * request.height * 4);
    free(result.pixels);
  }
  return out;
}

DecodedFrames decodeFrames(const std::vector<uint8_t> &file, size_t maxFrames,
                           gif::Allocate allocate) {
  auto frames = std::make_unique<gif::FrameDecoder>(allocate, free);
  gif::ByteSource source(file.data(), file.size());
  DecodedFrames out;
  out.openStatus = frames->open(source);
  out.width = frames->screenWidth();
  out.height = frames->screenHeight();
  const size_t bytes = size_t(out.width) * size_t(out.height) * 4;
  while (out.info.size() < maxFrames && frames->next()) {
    out.info.push_back(frames->frame());
    out.canvas.emplace_back(frames->canvas(), frames->canvas() + bytes);
  }
  out.status = frames->status();
  out.loopCount = frames->loopCount();
  return out;
}

}  // namespace tkpixmap::testing
