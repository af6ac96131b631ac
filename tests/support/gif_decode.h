// gif_decode.h - runs the GIF reader on bytes in memory and keeps what it
// delivered, for the GIF tests.
#pragma once

#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "tkpixmap/gif/reader.h"

namespace tkpixmap::testing {

struct DecodedGif {
  gif::ReadStatus status;
  int width = 0, height = 0;   // the delivered clip rectangle
  std::vector<uint8_t> rgba;   // empty when no pixels were delivered

  bool ok() const { return status == gif::ReadStatus::ok || status == gif::ReadStatus::okNoPixels; }
};

// Reads the first image of `file` into the clip rectangle of `request` (the whole
// screen by default), with `allocate` giving the pixel buffer.
DecodedGif decodeGif(const std::vector<uint8_t> &file, gif::ReadRequest request = {},
                     gif::Allocate allocate = malloc);

}  // namespace tkpixmap::testing
