// gif_reference.h - a plain, pixel-at-a-time model of GIF image decoding,
// written for clarity rather than speed, that the tests and the fuzzer hold
// the fast decoder against, malformed data included.  It spells every table
// string out in full, takes one pixel per step of the raster walk, and reads
// bits from the concatenated sub-block data.
#pragma once

#include <stdint.h>

#include <vector>

namespace tkpixmap::testing {

struct ReferenceImage {
  bool ok = false;  // the read succeeded (with or without pixels)
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // the whole logical screen; empty when no buffer
};

// Decodes the first image of a GIF file into the whole logical screen.
ReferenceImage referenceDecode(const std::vector<uint8_t> &file);

// The file with its logical screen one column wider; an image that filled
// the screen is then decoded through the clipping path.  Unchanged when the
// screen is too short for a header or already 65535 wide.
std::vector<uint8_t> widenedScreen(const std::vector<uint8_t> &file);

// True when the RGBA screen `narrow` (width x height) equals the first
// `width` columns of `wide`, a screen one column wider.
bool sameLeftColumns(const uint8_t *narrow, const uint8_t *wide, int width, int height);

}  // namespace tkpixmap::testing
