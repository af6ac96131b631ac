// gif_decode.h - runs the GIF reader on bytes in memory and keeps what it
// delivered, for the GIF tests.
#pragma once

#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "tkpixmap/gif/frames.h"
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

// Every frame FrameDecoder delivers, each with the canvas as it stood.
struct DecodedFrames {
  gif::ReadStatus openStatus = gif::ReadStatus::okNoPixels;
  gif::ReadStatus status = gif::ReadStatus::okNoPixels;  // after the last frame
  int width = 0, height = 0, loopCount = -1;
  std::vector<gif::FrameInfo> info;
  std::vector<std::vector<uint8_t>> canvas;
};

// Decodes up to `maxFrames` frames of `file`.
DecodedFrames decodeFrames(const std::vector<uint8_t> &file, size_t maxFrames = 100000,
                           gif::Allocate allocate = malloc);

}  // namespace tkpixmap::testing
