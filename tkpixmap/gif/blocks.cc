// blocks.cc - the GIF block structure (see blocks.h).

#include "tkpixmap/gif/blocks.h"

#include <string.h>

namespace tkpixmap::gif {
namespace {

constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kGraphicControl = 0xF9;
constexpr uint8_t kApplication = 0xFF;

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

bool isLoopExtension(const uint8_t *block, int length) {
  return length == 11 &&
         (memcmp(block, "NETSCAPE2.0", 11) == 0 || memcmp(block, "ANIMEXTS1.0", 11) == 0);
}

// Reads one extension.  Returns the last sub-block read: 0 (terminator) or
// -1 (cut off); 1 when a graphic control block's own sub-block is cut,
// which ends the scan as the end of the data does.
int readExtension(ByteSource &source, int label, ImageControl &control, int *loopCount) {
  uint8_t block[256];
  memset(block, 0, sizeof block);
  if (label == kGraphicControl) {
    int length = readSubBlock(source, block);
    if (length < 0) return 1;  // as if it ended well: the scan goes on
    if (length > 0) {
      if ((block[0] & 1) != 0) control.transparentIndex = block[3];
      control.disposal = block[0] >> 2 & 7;
      control.delayMs = 10 * le16(block + 1);
    }
    if (length == 0) return 0;
  }
  bool loopBlockNext = false;
  int length;
  for (int index = 0;; ++index) {
    length = readSubBlock(source, block);
    if (length <= 0) break;
    if (label == kApplication && loopCount != nullptr) {
      if (index == 0) loopBlockNext = isLoopExtension(block, length);
      if (index == 1 && loopBlockNext && length >= 3 && block[0] == 1) {
        *loopCount = le16(block + 1);
      }
    }
  }
  return length;
}

}  // namespace

ReadStatus readHeader(ByteSource &source, int &screenWidth, int &screenHeight) {
  uint8_t header[10];
  if (!source.read(header, sizeof header) ||
      (memcmp(header, "GIF87a", 6) != 0 && memcmp(header, "GIF89a", 6) != 0)) {
    return ReadStatus::badHeader;
  }
  screenWidth = le16(header + 6);
  screenHeight = le16(header + 8);
  if (screenWidth <= 0 || screenHeight <= 0) return ReadStatus::badDimensions;
  return ReadStatus::ok;
}

ReadStatus readScreenAndGlobalMap(ByteSource &source, Palette &palette) {
  uint8_t screen[3];
  if (!source.read(screen, sizeof screen)) return ReadStatus::okNoPixels;
  palette.clearColourMapEntries();
  if ((screen[0] & 0x80) != 0 && !readColorMap(source, 2 << (screen[0] & 7), palette)) {
    return ReadStatus::badColorMap;
  }
  return ReadStatus::ok;
}

ReadStatus findImage(ByteSource &source, ImageControl &control, int *loopCount, bool &found) {
  found = false;
  for (;;) {
    int byte = source.readByte();
    if (byte < 0 || byte == kTrailer) return ReadStatus::ok;
    if (byte == kExtension) {
      int label = source.readByte();
      if (label < 0) return ReadStatus::missingExtensionLabel;
      if (readExtension(source, label, control, loopCount) < 0) return ReadStatus::badExtension;
      continue;
    }
    if (byte == kImageSeparator) {
      found = true;
      return ReadStatus::ok;
    }
    // Policy::strayBytesSkipped
  }
}

ReadStatus readImageHeader(ByteSource &source, const ImageControl &control, Palette &palette,
                           ImageHeader &image, bool &descriptorRead) {
  uint8_t descriptor[9];
  descriptorRead = source.read(descriptor, sizeof descriptor);
  if (!descriptorRead) return ReadStatus::badImageDescriptor;
  const uint8_t flags = descriptor[8];
  // Policy::localMapOverridesItsEntries
  if ((flags & 0x80) != 0 && !readColorMap(source, 2 << (flags & 7), palette)) {
    return ReadStatus::badColorMap;
  }
  int minCodeSize = source.readByte();
  if (minCodeSize < 0) return ReadStatus::missingCodeSize;
  if (minCodeSize > kMaxMinCodeSize) return ReadStatus::badCodeSize;  // Policy::codeSizeUpToEleven
  palette.clearBeyondColourMap(minCodeSize);
  if (control.transparentIndex >= 0) palette.colour[control.transparentIndex] = 0;
  image.left = le16(descriptor);
  image.top = le16(descriptor + 2);
  image.width = le16(descriptor + 4);
  image.height = le16(descriptor + 6);
  image.interlaced = (flags & 0x40) != 0;
  image.minCodeSize = minCodeSize;
  return ReadStatus::ok;
}

void skipSubBlocks(ByteSource &source) {
  uint8_t scratch[255];
  for (;;) {
    int length = source.readByte();
    if (length <= 0 || source.view(static_cast<size_t>(length), scratch) == nullptr) return;
  }
}

}  // namespace tkpixmap::gif
