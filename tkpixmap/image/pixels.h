// pixels.h - the form in which a loaded image keeps its pixels for as long
// as it may still be shown somewhere new: one byte per pixel naming a colour
// of a small table, or plain RGBA when the image has more colours than a
// byte can name; or, when they take less room than that, the bytes of the
// GIF file itself, decoded again for each build.  Free of Tcl and X.
//
// A GIF image has at most 256 colours plus the transparent black of pixels
// no colour reaches, so nearly every image keeps a quarter of its RGBA size
// or less (an icon's file is often a third of its pixel count), and every
// build (any screen, visual or colour map) reads the same exact pixels.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tkpixmap {

struct ImagePixels {
  // One allocation (malloc): the palette's words first, then the pixels.
  // Null when the image has no pixels (an empty one, or one whose owners
  // have all let go).
  void *block = nullptr;
  const uint8_t *pixels = nullptr;   // rows back to back, width * bytesPerPixel bytes each
  const uint32_t *palette = nullptr; // RGBA words in memory order, paletteSize of them; null for RGBA
  int paletteSize = 0;
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;  // 1 (indices into palette) or 4 (RGBA)
  // Instead of all of the above but the size: the GIF file whose first
  // image (the whole logical screen) these pixels are (malloc).
  uint8_t *file = nullptr;
  size_t fileSize = 0;
};

// Whether there are pixels to show, in either form.
inline bool hasPixels(const ImagePixels &kept) {
  return kept.block != nullptr || kept.file != nullptr;
}

// Colours a one-byte form can name.
inline constexpr int kMaxPaletteColours = 256;

// Makes the kept form of width x height RGBA pixels (rows back to back):
// the one-byte form when the pixels hold at most 256 distinct RGBA values,
// else a copy of the RGBA.  False when memory is short (nothing kept).
bool keepPixels(const uint8_t *rgba, int width, int height, ImagePixels *kept);

// The same, given also the GIF file the pixels were read from (its first
// image, the whole logical screen): a copy of the file is kept instead when
// it is smaller than the pixels, one byte each.
bool keepPixels(const uint8_t *rgba, int width, int height, const uint8_t *file, size_t fileSize,
                ImagePixels *kept);

// Pixels kept as a file, decoded into the one-byte or RGBA form (which the
// caller drops); false when memory is short.
bool decodeKeptFile(const ImagePixels &kept, ImagePixels *decoded);

// Frees what keepPixels made; the pixels are empty afterwards.
void dropPixels(ImagePixels *kept);

// The RGBA value of one pixel of the decoded kept form (tests).
uint32_t pixelAt(const ImagePixels &kept, int x, int y);

}  // namespace tkpixmap
