// gif_reference.h - a plain, pixel-at-a-time model of GIF image decoding,
// written for clarity rather than speed, that the tests and the fuzzer hold
// the fast decoder against.  It keeps the textbook structures: prefix and
// suffix tables, a stack of pending pixels, one pixel per step of the raster
// walk, and a bit reader over the concatenated sub-block data.
#pragma once

#include <stdint.h>

#include <vector>

namespace tkpixmap::testing {

struct ReferenceImage {
  bool ok = false;  // the read succeeded (with or without pixels)
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // the whole logical screen; empty when no buffer
  // The data took a turn where the fast decoder is allowed to differ: a code
  // above the next free entry, or a table entry defined on a prefix that is
  // no string (an entry not yet defined, whose string would change when it
  // is defined later, or the clear or end code delivered as a pixel).
  bool undefinedTerritory = false;
};

// Decodes the first image of a GIF file into the whole logical screen.
ReferenceImage referenceDecode(const std::vector<uint8_t> &file);

}  // namespace tkpixmap::testing
