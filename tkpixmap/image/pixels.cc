// pixels.cc - the kept form of an image's pixels.

#include "tkpixmap/image/pixels.h"

#include <stdlib.h>
#include <string.h>

#include "tkpixmap/gif/reader.h"

namespace tkpixmap {
namespace {

// Open addressing on the whole RGBA word, sparse enough (1024 slots for at
// most 256 colours) that nearly every colour sits in its first slot.  About
// 7 KiB: on the stack, and cleared with one memset.
struct ColourIndex {
  static constexpr int kSlotBits = 10;
  static constexpr unsigned kSlots = 1u << kSlotBits;
  int16_t index[kSlots];  // -1: empty
  uint32_t colour[kSlots];
  uint32_t palette[kMaxPaletteColours];
  int count = 0;

  ColourIndex() { memset(index, 0xff, sizeof index); }
  // The colour's number, entering it if new; -1 once there would be 257.
  int numberOf(uint32_t word) {
    unsigned slot = (word * 0x9e3779b1u) >> (32 - kSlotBits);
    while (index[slot] >= 0) {
      if (colour[slot] == word) return index[slot];
      slot = (slot + 1) & (kSlots - 1);
    }
    if (count == kMaxPaletteColours) return -1;
    colour[slot] = word;
    index[slot] = static_cast<int16_t>(count);
    palette[count] = word;
    return count++;
  }
};

// Numbers each pixel's colour into `indices`; false at a 257th colour.
bool numberColours(const uint8_t *rgba, size_t pixelCount, ColourIndex &table, uint8_t *indices) {
  // Runs of one colour (flat areas, the cleared screen around an image)
  // cost one compare a pixel.
  uint32_t last = 0;
  int lastNumber = -1;
  for (size_t i = 0; i < pixelCount; ++i) {
    uint32_t word;
    memcpy(&word, rgba + 4 * i, 4);
    if (word != last || lastNumber < 0) {
      lastNumber = table.numberOf(word);
      if (lastNumber < 0) return false;
      last = word;
    }
    indices[i] = static_cast<uint8_t>(lastNumber);
  }
  return true;
}

bool keepRgba(const uint8_t *rgba, size_t pixelCount, int width, int height, ImagePixels *kept) {
  void *block = malloc(pixelCount * 4);
  if (block == nullptr) return false;
  memcpy(block, rgba, pixelCount * 4);
  *kept = ImagePixels{block, static_cast<const uint8_t *>(block), nullptr, 0, width, height, 4};
  return true;
}

}  // namespace

bool keepPixels(const uint8_t *rgba, int width, int height, ImagePixels *kept) {
  *kept = ImagePixels{};
  if (width <= 0 || height <= 0 || rgba == nullptr) return true;  // nothing to keep
  const size_t pixelCount = static_cast<size_t>(width) * static_cast<size_t>(height);
  // Icons are numbered on the stack; larger images in a buffer of their own.
  constexpr size_t kOnStack = 16 * 1024;
  uint8_t stackIndices[kOnStack];
  uint8_t *indices = pixelCount <= kOnStack ? stackIndices
                                            : static_cast<uint8_t *>(malloc(pixelCount));
  if (indices == nullptr) return false;
  ColourIndex table;
  bool ok;
  if (!numberColours(rgba, pixelCount, table, indices)) {
    ok = keepRgba(rgba, pixelCount, width, height, kept);
  } else {
    const size_t paletteBytes = static_cast<size_t>(table.count) * 4;
    auto *block = static_cast<uint8_t *>(malloc(paletteBytes + pixelCount));
    ok = block != nullptr;
    if (ok) {
      memcpy(block, table.palette, paletteBytes);
      memcpy(block + paletteBytes, indices, pixelCount);
      *kept = ImagePixels{block, block + paletteBytes, reinterpret_cast<uint32_t *>(block),
                          table.count, width, height, 1};
    }
  }
  if (indices != stackIndices) free(indices);
  return ok;
}

bool keepPixels(const uint8_t *rgba, int width, int height, const uint8_t *file, size_t fileSize,
                ImagePixels *kept) {
  const bool fileSmaller = rgba != nullptr && width > 0 && height > 0 && file != nullptr &&
                           fileSize < static_cast<size_t>(width) * static_cast<size_t>(height);
  if (!fileSmaller) return keepPixels(rgba, width, height, kept);
  *kept = ImagePixels{};
  kept->file = static_cast<uint8_t *>(malloc(fileSize));
  if (kept->file == nullptr) return false;
  memcpy(kept->file, file, fileSize);
  kept->fileSize = fileSize;
  kept->width = width;
  kept->height = height;
  return true;
}

bool decodeKeptFile(const ImagePixels &kept, ImagePixels *decoded) {
  *decoded = ImagePixels{};
  gif::ByteSource source(kept.file, kept.fileSize);
  gif::ReadRequest request;  // the whole logical screen, as when it was loaded
  gif::ReadState state;  // on the stack, as when it was loaded: no pages to fault in
  gif::ReadResult result;
  const gif::ReadStatus status = gif::readFirstImage(
      source, request, [](size_t size) { return malloc(size); }, free, state, result);
  // The file read the same way before, so only memory can be short now.
  const bool ok = status == gif::ReadStatus::ok && request.width == kept.width &&
                  request.height == kept.height &&
                  keepPixels(result.pixels, kept.width, kept.height, decoded);
  free(result.pixels);
  return ok;
}

void dropPixels(ImagePixels *kept) {
  free(kept->block);
  free(kept->file);
  *kept = ImagePixels{};
}

uint32_t pixelAt(const ImagePixels &kept, int x, int y) {
  const size_t at = static_cast<size_t>(y) * static_cast<size_t>(kept.width) + static_cast<size_t>(x);
  if (kept.bytesPerPixel == 1) return kept.palette[kept.pixels[at]];
  uint32_t word;
  memcpy(&word, kept.pixels + 4 * at, 4);
  return word;
}

}  // namespace tkpixmap
