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

}  // namespace tkpixmap::testing
