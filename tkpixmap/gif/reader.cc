// reader.cc - the first image of a GIF file into a clip rectangle of its logical
// screen.

#include "tkpixmap/gif/reader.h"

#include <string.h>

#include "tkpixmap/gif/blocks.h"

namespace tkpixmap::gif {

ReadStatus readFirstImage(ByteSource &source, ReadRequest &request, Allocate allocate,
                          Release release, ReadState &state, ReadResult &result) {
  int screenWidth = 0, screenHeight = 0;
  ReadStatus status = readHeader(source, screenWidth, screenHeight);
  result.screenWidth = screenWidth;
  result.screenHeight = screenHeight;
  if (status != ReadStatus::ok) return status;
  if (request.originX < 0 || request.originY < 0) return ReadStatus::badOrigin;

  if (request.width == 0) request.width = screenWidth;
  if (request.height == 0) request.height = screenHeight;

  status = readScreenAndGlobalMap(source, state.palette);
  if (status != ReadStatus::ok) return status;

  // Clip the rectangle to the screen (in 64 bits: origin + size may pass INT_MAX).
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

  // Policy::screenSizeLimited
  const uint64_t pixelCount = uint64_t(request.width) * uint64_t(request.height);
  if (pixelCount > kMaxPixels) return ReadStatus::tooLarge;
  const size_t bytes = static_cast<size_t>(pixelCount) * 4;
  auto *pixels = static_cast<uint8_t *>(allocate(bytes));
  if (pixels == nullptr) return ReadStatus::noMemory;
  result.pixels = pixels;
  result.bufferAllocated = true;

  auto fail = [&](ReadStatus failure) {
    release(pixels);
    result.pixels = nullptr;
    return failure;
  };

  ImageControl control;
  bool found = false;
  status = findImage(source, control, nullptr, found);
  if (status != ReadStatus::ok) return fail(status);
  if (!found) {  // Policy::unreachedPixelsClear: no image, all clear
    memset(pixels, 0, bytes);
    return ReadStatus::ok;
  }
  ImageHeader image;
  status = readImageHeader(source, control, state.palette, image, result.imageFound);
  result.delayMs = control.delayMs;
  if (status != ReadStatus::ok) return fail(status);

  RasterGeometry geometry;
  geometry.imageLeft = image.left;
  geometry.imageTop = image.top;
  geometry.imageWidth = image.width;
  geometry.imageHeight = image.height;
  geometry.clipX = request.originX;
  geometry.clipY = request.originY;
  geometry.clipWidth = request.width;
  geometry.clipHeight = request.height;
  geometry.interlaced = image.interlaced;
  // Cleared here only when nothing else will: an image inside the clip rectangle
  // is written in order and clears just what its data does not reach.
  if (!LzwDecoder::writesWholeClip(geometry)) memset(pixels, 0, bytes);
  state.lzw.decode(source, image.minCodeSize, state.palette, geometry, pixels);
  return ReadStatus::ok;  // Policy::shortDataKeepsDecoded
}

}  // namespace tkpixmap::gif
