// frames.h - every frame of a GIF animation, composited onto the logical
// screen as a viewer shows it.  Free of Tcl and X, like reader.h.
//
//   FrameDecoder frames(allocate, release);
//   if (frames.open(source) != ReadStatus::ok) ...;   // header, screen, global map, canvas
//   while (frames.next()) show(frames.canvas(), frames.frame().delayMs);
//   if (frames.status() != ReadStatus::ok) ...;       // why the frames ended
//
// The first frame's canvas is, byte for byte, what readFirstImage gives for
// the whole screen.  Each later frame is drawn over the canvas the one
// before left, after that one's disposal.  The policies (policies.h):
// controlAppliesToNextImage, clearPixelsLeaveCanvas,
// restoreToBackgroundClears, restoreToPreviousPutsBack,
// unknownDisposalKeeps, disposalBeforeNextFrame, delayAsWritten,
// loopCountBeforeFirstImage, cutFrameIsLast, workPerFrameBounded, and those
// of the first image (imageClippedToScreen, screenSizeLimited, ...).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tkpixmap/gif/policies.h"
#include "tkpixmap/gif/reader.h"
#include "tkpixmap/gif/source.h"

namespace tkpixmap::gif {

// One frame as its image descriptor and graphic control block give it.
struct FrameInfo {
  int left = 0, top = 0;      // where the descriptor puts it (the canvas
  int width = 0, height = 0;  // shows it clipped to the screen)
  int delayMs = 0;            // Policy::delayAsWritten
  int disposal = 0;           // 0 to 7 as written; applied before the next frame
  int transparentIndex = -1;  // -1: none
};

class FrameDecoder {
 public:
  // The reader's allocator pair (reader.h).  Nothing is allocated but the
  // canvas, a scratch of the largest clipped frame rectangle and, for
  // disposal 3, a save of it (Policy::workPerFrameBounded).
  FrameDecoder(Allocate allocate, Release release);
  ~FrameDecoder();  // releases what it allocated
  FrameDecoder(const FrameDecoder &) = delete;
  FrameDecoder &operator=(const FrameDecoder &) = delete;

  // Reads the header, the logical screen and the global colour map, and
  // makes the canvas: the statuses and limits of readFirstImage
  // (badHeader, badDimensions, badColorMap, tooLarge, noMemory; okNoPixels
  // when the screen descriptor is cut short).  Anything but ok leaves no
  // frames.  `source` must outlive the decoder's use of next().
  ReadStatus open(ByteSource &source);

  int screenWidth() const { return screenWidth_; }
  int screenHeight() const { return screenHeight_; }

  // Reads up to and composites the next frame: true with canvas() and
  // frame() valid, false at the end of the frames (trailer, end of data)
  // or on a failure (status() tells which).  A frame cut short is still
  // delivered as decoded, and is the last one (Policy::cutFrameIsLast).
  // After false, canvas() still shows the last frame delivered.
  bool next();

  // ok while frames come and after the last one; else why they ended.
  ReadStatus status() const { return status_; }
  // screenWidth() x screenHeight() RGBA pixels, rows back to back, as the
  // last next() left them (all 0,0,0,0 when it found no frame at all);
  // null unless open() succeeded, and not yet written before next().
  const uint8_t *canvas() const { return canvas_; }
  const FrameInfo &frame() const { return frame_; }
  // Frames delivered so far.
  int frameCount() const { return frameCount_; }
  // -1: no loop extension seen; 0: for ever; N: N times
  // (Policy::loopCountBeforeFirstImage).  Final once the first frame is.
  int loopCount() const { return loopCount_; }

 private:
  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    size_t pixels() const { return size_t(width) * size_t(height); }
  };

  bool fail(ReadStatus status);
  void dispose();
  bool reserve(uint8_t *&buffer, size_t &capacity, size_t pixels);
  void copyRect(const Rect &r, uint8_t *to) const;
  void putBackRect(const Rect &r, const uint8_t *from);
  void clearRect(const Rect &r);
  void composite(const Rect &r, const uint8_t *from);

  Allocate allocate_;
  Release release_;
  ByteSource *source_ = nullptr;
  int screenWidth_ = 0, screenHeight_ = 0;
  ReadStatus status_ = ReadStatus::okNoPixels;
  bool done_ = true;
  bool canvasClear_ = false;  // the canvas holds only zeros, untouched since open
  uint8_t *canvas_ = nullptr;
  uint8_t *scratch_ = nullptr;  // the frame decoded alone, clipped to the screen
  size_t scratchCapacity_ = 0;  // in pixels
  uint8_t *saved_ = nullptr;    // what a disposal 3 frame's rectangle held before it
  size_t savedCapacity_ = 0;
  FrameInfo frame_;
  Rect drawn_;  // the last frame's rectangle clipped to the screen
  int frameCount_ = 0;
  int loopCount_ = -1;
  uint32_t globalColours_[256];  // the global map, for every frame to start from
  ReadState state_;
};

}  // namespace tkpixmap::gif
