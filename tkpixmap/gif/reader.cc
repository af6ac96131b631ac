// reader.cc - the GIF block structure: header, logical screen, colour maps,
// extensions and the scan for the first image.

#include "tkpixmap/gif/reader.h"

#include <string.h>

namespace tkpixmap::gif {
namespace {

constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kGraphicControl = 0xF9;

int le16(const uint8_t *p) { return p[0] | (p[1] << 8); }

// Reads `count` RGB triples into palette entries 0..count-1 with alpha 255.
bool readColorMap(ByteSource &source, int count, Palette &palette) {
  uint8_t rgb[256 * 3];
  if (!source.read(rgb, static_cast<size_t>(count) * 3)) return false;
  for (int i = 0; i < count; ++i) {
    const uint8_t rgba[4] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255};
    memcpy(&palette.colour[i], rgba, 4);
  }
  return true;
}

// One data sub-block into buffer: its length, 0 for the terminator, or -1
// when it cannot be read whole.
int readSubBlock(ByteSource &source, uint8_t *buffer) {
  int length = source.readByte();
  if (length <= 0) return length;
  return source.read(buffer, static_cast<size_t>(length)) ? length : -1;
}

// Skips one extension.  A graphic control block with its transparency bit
// set makes its index transparent; one without the bit leaves the index as
// it was.  Returns the last sub-block read: 0 (terminator) or -1 (cut off).
int skipExtension(ByteSource &source, int label, int &transparentIndex) {
  uint8_t block[256];
  memset(block, 0, sizeof block);
  if (label == kGraphicControl) {
    int length = readSubBlock(source, block);
    if (length < 0) return 1;  // as if it ended well: the scan goes on
    if (length > 0 && (block[0] & 1) != 0) transparentIndex = block[3];
    if (length == 0) return 0;
  }
  int length;
  do {
    length = readSubBlock(source, block);
  } while (length > 0);
  return length;
}

}  // namespace

ReadStatus readFirstImage(ByteSource &source, ReadRequest &request, Allocate allocate,
                          Release release, ReadState &state, ReadResult &result) {
  int transparentIndex = -1;
  uint8_t header[10];
  if (!source.read(header, sizeof header) ||
      (memcmp(header, "GIF87a", 6) != 0 && memcmp(header, "GIF89a", 6) != 0)) {
    return ReadStatus::badHeader;
  }
  const int screenWidth = le16(header + 6);
  const int screenHeight = le16(header + 8);
  result.screenWidth = screenWidth;
  result.screenHeight = screenHeight;
  if (screenWidth <= 0 || screenHeight <= 0) return ReadStatus::badDimensions;
  if (request.originX < 0 || request.originY < 0) return ReadStatus::badOrigin;

  if (request.width == 0) request.width = screenWidth;
  if (request.height == 0) request.height = screenHeight;

  uint8_t screen[3];
  if (!source.read(screen, sizeof screen)) return ReadStatus::okNoPixels;

  state.palette.clearColourMapEntries();
  if ((screen[0] & 0x80) != 0 && !readColorMap(source, 2 << (screen[0] & 7), state.palette)) {
    return ReadStatus::badColorMap;
  }

  // Clip the window to the screen (in 64 bits: origin + size may pass INT_MAX).
  if (int64_t{request.originX} + request.width > screenWidth) {
    request.width = screenWidth - request.originX;
  }
  if (int64_t{request.originY} + request.height > screenHeight) {
    request.height = screenHeight - request.originY;
  }
  if (request.width <= 0 || request.height <= 0 || request.originX >= screenWidth ||
      request.originY >= screenHeight) {
    return ReadStatus::okNoPixels;
  }

  const uint64_t pixelCount = uint64_t(request.width) * uint64_t(request.height);
  if (pixelCount > kMaxPixels) return ReadStatus::tooLarge;
  const size_t bytes = static_cast<size_t>(pixelCount) * 4;
  auto *pixels = static_cast<uint8_t *>(allocate(bytes));
  if (pixels == nullptr) return ReadStatus::noMemory;
  // Cleared here only when nothing else will: an image that fills the
  // window in order clears just what its data does not reach.
  auto clearAll = [pixels, bytes] { memset(pixels, 0, bytes); };
  result.pixels = pixels;
  result.bufferAllocated = true;

  auto fail = [&](ReadStatus status) {
    release(pixels);
    result.pixels = nullptr;
    return status;
  };

  for (;;) {
    int byte = source.readByte();
    if (byte < 0 || byte == kTrailer) {  // no image: all clear
      clearAll();
      return ReadStatus::ok;
    }
    if (byte == kExtension) {
      int label = source.readByte();
      if (label < 0) return fail(ReadStatus::missingExtensionLabel);
      if (skipExtension(source, label, transparentIndex) < 0) {
        return fail(ReadStatus::badExtension);
      }
      continue;
    }
    if (byte != kImageSeparator) continue;  // stray bytes between blocks

    uint8_t descriptor[9];
    if (!source.read(descriptor, sizeof descriptor)) {
      return fail(ReadStatus::badImageDescriptor);
    }
    result.imageFound = true;
    const uint8_t flags = descriptor[8];
    if ((flags & 0x80) != 0 && !readColorMap(source, 2 << (flags & 7), state.palette)) {
      return fail(ReadStatus::badColorMap);
    }
    int minCodeSize = source.readByte();
    if (minCodeSize < 0) return fail(ReadStatus::missingCodeSize);
    if (minCodeSize > kMaxMinCodeSize) return fail(ReadStatus::badCodeSize);
    state.palette.clearBeyondColourMap(minCodeSize);
    if (transparentIndex >= 0) state.palette.colour[transparentIndex] = 0;

    RasterGeometry geometry;
    geometry.imageLeft = le16(descriptor);
    geometry.imageTop = le16(descriptor + 2);
    geometry.imageWidth = le16(descriptor + 4);
    geometry.imageHeight = le16(descriptor + 6);
    geometry.windowX = request.originX;
    geometry.windowY = request.originY;
    geometry.windowWidth = request.width;
    geometry.windowHeight = request.height;
    geometry.interlaced = (flags & 0x40) != 0;
    if (!LzwDecoder::fillsWindow(geometry)) clearAll();
    state.lzw.decode(source, minCodeSize, state.palette, geometry, pixels);
    return ReadStatus::ok;  // data that ends early keeps what was decoded
  }
}

}  // namespace tkpixmap::gif
