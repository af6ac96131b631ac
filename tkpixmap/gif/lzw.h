// lzw.h - the GIF image-data decoder: variable-width LZW codes read from
// data sub-blocks, expanded into colour-map indices and written as RGBA
// pixels into the caller's window of the logical screen.
//
// Decoding policies (what happens to data that is not well formed):
//  * Minimum code sizes 0 to 11 are accepted; 12 and above are refused.
//  * The data ends quietly (pixels not reached stay as they were) at the end
//    code, at the end of the data or an unreadable sub-block, and at a table
//    entry whose string refers to itself.
//  * A code above the next free entry is decoded as the previous string
//    followed by its first pixel (as for a code equal to the next free
//    entry), and decoding continues from the entry that defines.
//  * The first code after a clear code is delivered as a pixel whatever its
//    value; any pixel value without a colour-map entry (256 and above)
//    comes out as 0,0,0,0.
//  * A code cut by the end of the data is completed with zero bits.
//  * When the table is full (4096 entries) no entry is added and codes stay
//    12 bits wide until the next clear code.
#pragma once

#include <stdint.h>

#include "tkpixmap/gif/source.h"

namespace tkpixmap::gif {

constexpr int kMaxCodes = 4096;
constexpr int kMaxMinCodeSize = 11;

// RGBA colours in memory order, indexed by pixel value.  Pixel values reach
// 4095 in malformed data; entries from 256 up stay 0 (transparent black), so
// out-of-range values need no test in the inner loop.
struct Palette {
  uint32_t colour[kMaxCodes];
};

// Where the image lands: its rectangle on the logical screen, and the window
// of the screen that the output buffer holds (already clipped to the screen).
struct RasterGeometry {
  int imageLeft, imageTop, imageWidth, imageHeight;
  int windowX, windowY, windowWidth, windowHeight;
  bool interlaced;
};

// Result of decoding one image's data.
enum class RasterStatus {
  complete,     // every row was decoded
  endedEarly,   // the data ended first (end code, end of data, bad entry)
  badCodeSize,  // minimum code size out of range: nothing decoded
};

// All decoder state lives here, one object per decode, so decodes may run in
// several threads.  About 40 KiB: fine on the stack of a Tcl command.
class LzwDecoder {
 public:
  // Reads the data sub-blocks from `source` (positioned after the minimum
  // code size byte) and writes the pixels of `geometry`'s window into
  // `pixels` (windowWidth x windowHeight RGBA pixels, 4 bytes each).
  RasterStatus decode(ByteSource &source, int minCodeSize, const Palette &palette,
                      const RasterGeometry &geometry, uint8_t *pixels);

 private:
  uint16_t prefix_[kMaxCodes];
  uint16_t suffix_[kMaxCodes];
  uint16_t first_[kMaxCodes];
  uint16_t length_[kMaxCodes];  // string length; 0 marks a self-referring entry
  uint16_t scratch_[kMaxCodes + 1];
};

}  // namespace tkpixmap::gif
