// frames.cc - every frame of a GIF animation onto one canvas (frames.h).
//
// The first frame is decoded straight into the canvas exactly as
// readFirstImage decodes into its buffer.  Later frames are decoded alone
// into a scratch of their rectangle clipped to the screen (in order, the
// fast way, when they lie inside it) and then drawn over the canvas, their
// clear pixels leaving it as it was: one pass over the rectangle, so the
// decoding loop stays the one of the first image.

#include "tkpixmap/gif/frames.h"

#include <string.h>
#include <algorithm>
#include <bit>

#include "tkpixmap/gif/blocks.h"

namespace tkpixmap::gif {
namespace {

// The alpha byte of an RGBA pixel loaded as one 32-bit word.
constexpr uint32_t kAlphaMask = std::endian::native == std::endian::little ? 0xFF000000u : 0xFFu;

}  // namespace

FrameDecoder::FrameDecoder(Allocate allocate, Release release)
    : allocate_(allocate), release_(release) {}

FrameDecoder::~FrameDecoder() {
  if (canvas_ != nullptr) release_(canvas_);
  if (scratch_ != nullptr) release_(scratch_);
  if (saved_ != nullptr) release_(saved_);
}

ReadStatus FrameDecoder::open(ByteSource &source) {
  source_ = &source;
  done_ = true;
  if (canvas_ != nullptr) release_(canvas_);
  canvas_ = nullptr;
  frameCount_ = 0;
  loopCount_ = -1;
  frame_ = FrameInfo();
  drawn_ = Rect();
  status_ = readHeader(source, screenWidth_, screenHeight_);
  if (status_ != ReadStatus::ok) return status_;
  status_ = readScreenAndGlobalMap(source, state_.palette);
  if (status_ != ReadStatus::ok) return status_;
  memcpy(globalColours_, state_.palette.colour, sizeof globalColours_);

  // Policy::screenSizeLimited, as for the first image's buffer.
  const uint64_t pixels = uint64_t(screenWidth_) * uint64_t(screenHeight_);
  if (pixels > kMaxPixels) return status_ = ReadStatus::tooLarge;
  canvas_ = static_cast<uint8_t *>(allocate_(size_t(pixels) * 4));
  if (canvas_ == nullptr) return status_ = ReadStatus::noMemory;
  canvasClear_ = false;  // cleared when first needed: a first frame that fills it needs none
  done_ = false;
  return status_;
}

bool FrameDecoder::fail(ReadStatus status) {
  status_ = status;
  done_ = true;
  if (frameCount_ == 0 && canvas_ != nullptr && !canvasClear_) {
    memset(canvas_, 0, size_t(screenWidth_) * size_t(screenHeight_) * 4);
    canvasClear_ = true;
  }
  return false;
}

bool FrameDecoder::next() {
  if (done_) return false;
  ByteSource &source = *source_;
  ImageControl control;  // Policy::controlAppliesToNextImage
  bool found = false;
  ReadStatus status = findImage(source, control, frameCount_ == 0 ? &loopCount_ : nullptr, found);
  if (status != ReadStatus::ok) return fail(status);
  if (!found) return fail(ReadStatus::ok);

  memcpy(state_.palette.colour, globalColours_, sizeof globalColours_);
  ImageHeader image;
  bool descriptorRead = false;
  status = readImageHeader(source, control, state_.palette, image, descriptorRead);
  if (status != ReadStatus::ok) return fail(status);

  if (frameCount_ > 0) dispose();  // Policy::disposalBeforeNextFrame
  frame_.left = image.left;
  frame_.top = image.top;
  frame_.width = image.width;
  frame_.height = image.height;
  frame_.delayMs = control.delayMs;
  frame_.disposal = control.disposal;
  frame_.transparentIndex = control.transparentIndex;

  // Policy::imageClippedToScreen (in 64 bits: the sums pass 65535).
  Rect r;
  r.x = image.left < screenWidth_ ? image.left : screenWidth_;
  r.y = image.top < screenHeight_ ? image.top : screenHeight_;
  r.width = int(std::min<int64_t>(int64_t{image.left} + image.width, screenWidth_) - r.x);
  r.height = int(std::min<int64_t>(int64_t{image.top} + image.height, screenHeight_) - r.y);
  if (r.width <= 0 || r.height <= 0) r = Rect();

  RasterGeometry geometry;
  geometry.imageLeft = image.left;
  geometry.imageTop = image.top;
  geometry.imageWidth = image.width;
  geometry.imageHeight = image.height;
  geometry.interlaced = image.interlaced;
  if (frameCount_ == 0) {
    // As readFirstImage, the clip rectangle being the whole screen.
    geometry.clipX = geometry.clipY = 0;
    geometry.clipWidth = screenWidth_;
    geometry.clipHeight = screenHeight_;
    if (!LzwDecoder::writesWholeClip(geometry) && !canvasClear_) {
      memset(canvas_, 0, size_t(screenWidth_) * size_t(screenHeight_) * 4);
    }
    state_.lzw.decode(source, image.minCodeSize, state_.palette, geometry, canvas_, true);
    canvasClear_ = false;
  } else if (r.width == 0) {
    skipSubBlocks(source);  // wholly outside the screen, or empty
  } else {
    if (frame_.disposal == 3) {
      if (!reserve(saved_, savedCapacity_, r.pixels())) return fail(ReadStatus::noMemory);
      copyRect(r, saved_);
    }
    if (!reserve(scratch_, scratchCapacity_, r.pixels())) return fail(ReadStatus::noMemory);
    geometry.clipX = r.x;
    geometry.clipY = r.y;
    geometry.clipWidth = r.width;
    geometry.clipHeight = r.height;
    if (!LzwDecoder::writesWholeClip(geometry)) memset(scratch_, 0, r.pixels() * 4);
    state_.lzw.decode(source, image.minCodeSize, state_.palette, geometry, scratch_, true);
    composite(r, scratch_);
  }
  drawn_ = r;
  ++frameCount_;
  return true;
}

void FrameDecoder::dispose() {
  switch (frame_.disposal) {
    case 2:  // Policy::restoreToBackgroundClears
      clearRect(drawn_);
      break;
    case 3:  // Policy::restoreToPreviousPutsBack: the first frame's "before" is clear
      if (frameCount_ == 1) {
        clearRect(drawn_);
      } else {
        putBackRect(drawn_, saved_);
      }
      break;
    default:  // Policy::unknownDisposalKeeps
      break;
  }
}

bool FrameDecoder::reserve(uint8_t *&buffer, size_t &capacity, size_t pixels) {
  if (pixels <= capacity) return true;
  // Doubling keeps the number of allocations logarithmic in the largest
  // rectangle; the canvas bounds it (Policy::workPerFrameBounded).
  const size_t canvasPixels = size_t(screenWidth_) * size_t(screenHeight_);
  size_t grown = std::min(2 * capacity, canvasPixels);
  if (grown < pixels) grown = pixels;
  if (buffer != nullptr) release_(buffer);
  buffer = static_cast<uint8_t *>(allocate_(grown * 4));
  capacity = buffer != nullptr ? grown : 0;
  return buffer != nullptr;
}

void FrameDecoder::copyRect(const Rect &r, uint8_t *to) const {
  const size_t stride = size_t(screenWidth_) * 4, row = size_t(r.width) * 4;
  const uint8_t *from = canvas_ + size_t(r.y) * stride + size_t(r.x) * 4;
  for (int y = 0; y < r.height; ++y, from += stride, to += row) memcpy(to, from, row);
}

void FrameDecoder::putBackRect(const Rect &r, const uint8_t *from) {
  const size_t stride = size_t(screenWidth_) * 4, row = size_t(r.width) * 4;
  uint8_t *to = canvas_ + size_t(r.y) * stride + size_t(r.x) * 4;
  for (int y = 0; y < r.height; ++y, from += row, to += stride) memcpy(to, from, row);
}

void FrameDecoder::clearRect(const Rect &r) {
  const size_t stride = size_t(screenWidth_) * 4, row = size_t(r.width) * 4;
  uint8_t *to = canvas_ + size_t(r.y) * stride + size_t(r.x) * 4;
  for (int y = 0; y < r.height; ++y, to += stride) memset(to, 0, row);
}

void FrameDecoder::composite(const Rect &r, const uint8_t *from) {
  // Policy::clearPixelsLeaveCanvas: every colour is opaque or 0,0,0,0, so
  // blending a pixel over the canvas is choosing it or keeping the canvas.
  const size_t stride = size_t(screenWidth_);
  uint32_t *to = reinterpret_cast<uint32_t *>(canvas_) + size_t(r.y) * stride + size_t(r.x);
  const uint32_t *src = reinterpret_cast<const uint32_t *>(from);
  for (int y = 0; y < r.height; ++y, to += stride, src += r.width) {
    for (int x = 0; x < r.width; ++x) {
      const uint32_t pixel = src[x];
      to[x] = (pixel & kAlphaMask) != 0 ? pixel : to[x];
    }
  }
}

}  // namespace tkpixmap::gif
