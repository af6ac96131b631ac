// reader.h - reads the first image of a GIF87a/GIF89a stream into RGBA
// pixels.  Free of Tcl and X: the Tcl edge (myReadGIF) turns the outcome into
// interpreter results, and tests and fuzzers call this directly.
//
// Policies beyond the format itself:
//  * The pixel buffer and the colour map start cleared, so pixels that no
//    image data reaches and colours no map supplies read as 0,0,0,0.
//  * The image lands where its descriptor puts it: its raster has the
//    descriptor's size and is clipped to the logical screen and the window.
//  * A window of more than kMaxPixels pixels is refused, and so is one whose
//    buffer cannot be allocated; nothing is allocated for either.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tkpixmap/gif/lzw.h"
#include "tkpixmap/gif/source.h"

namespace tkpixmap::gif {

// Largest window delivered: 2^28 pixels (1 GiB of RGBA).
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

enum class ReadStatus {
  ok,                  // pixels delivered
  okNoPixels,          // nothing to deliver (short descriptor, empty window)
  badHeader,           // short header or an unknown signature
  badDimensions,       // logical screen 0 wide or high
  badColorMap,         // a colour map is cut short
  missingExtensionLabel,
  badExtension,        // extension sub-blocks cut short
  badImageDescriptor,  // image descriptor cut short
  missingCodeSize,     // no LZW minimum code size byte
  badCodeSize,         // LZW minimum code size above 11
  tooLarge,            // window above kMaxPixels
  noMemory,            // the pixel buffer could not be allocated
  badOrigin,           // negative window origin
};

// The window asked for, and (on return) what was delivered.
struct ReadRequest {
  int originX = 0, originY = 0;
  int width = 0, height = 0;  // in: 0 means the whole screen; out: delivered size
};

struct ReadResult {
  uint8_t *pixels = nullptr;  // width x height x 4 bytes, from the allocator
  int screenWidth = 0, screenHeight = 0;
  bool bufferAllocated = false;  // a buffer was made (and released again on failure)
  bool imageFound = false;       // an image descriptor was reached
};

// Allocates `size` bytes, or returns null.  The reader clears them.
using Allocate = void *(*)(size_t size);
// Releases what Allocate gave (used when a read fails after allocation).
using Release = void (*)(void *);

// Scratch state for one read: the decoder tables and the palette.  Large
// (about 90 KiB) but free of allocations; one per thread at a time.
struct ReadState {
  Palette palette;
  LzwDecoder lzw;
};

ReadStatus readFirstImage(ByteSource &source, ReadRequest &request, Allocate allocate,
                          Release release, ReadState &state, ReadResult &result);

}  // namespace tkpixmap::gif
