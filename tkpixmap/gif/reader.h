// reader.h - reads the first image of a GIF87a/GIF89a stream into RGBA
// pixels.  Free of Tcl and X: the Tcl edge (myReadGIF) turns the outcome into
// interpreter results, and tests and fuzzers call this directly.  Every
// frame of an animation: frames.h.
//
// What it does with data that is not well formed is named in policies.h;
// the reader's own: unreachedPixelsClear, valueWithoutColourIsClear,
// localMapOverridesItsEntries, lastTransparencyFlagWins,
// imageClippedToScreen (to the clip rectangle of the request too),
// screenSizeLimited, strayBytesSkipped; and those of lzw.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tkpixmap/gif/lzw.h"
#include "tkpixmap/gif/policies.h"
#include "tkpixmap/gif/source.h"

namespace tkpixmap::gif {

// Largest clip rectangle delivered: 2^28 pixels (1 GiB of RGBA;
// Policy::screenSizeLimited).
constexpr uint64_t kMaxPixels = uint64_t{1} << 28;

enum class ReadStatus {
  ok,                  // pixels delivered
  okNoPixels,          // nothing to deliver (short descriptor, empty clip rectangle)
  badHeader,           // short header or an unknown signature
  badDimensions,       // logical screen 0 wide or high
  badColorMap,         // a colour map is cut short
  missingExtensionLabel,
  badExtension,        // extension sub-blocks cut short
  badImageDescriptor,  // image descriptor cut short
  missingCodeSize,     // no LZW minimum code size byte
  badCodeSize,         // LZW minimum code size above 11
  tooLarge,            // clip rectangle above kMaxPixels
  noMemory,            // the pixel buffer could not be allocated
  badOrigin,           // negative clip rectangle origin
};

// The clip rectangle of the logical screen asked for, and (on return) what
// was delivered.
struct ReadRequest {
  int originX = 0, originY = 0;
  int width = 0, height = 0;  // in: 0 means the whole screen; out: delivered size
};

struct ReadResult {
  uint8_t *pixels = nullptr;  // width x height x 4 bytes, from the allocator
  int screenWidth = 0, screenHeight = 0;
  bool bufferAllocated = false;  // a buffer was made (and released again on failure)
  bool imageFound = false;       // an image descriptor was reached
  int delayMs = 0;               // the image's delay (Policy::delayAsWritten), 0 without one
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
