// load.h - reading an image for the pixmap command and the Tk image type:
// the bytes of a GIF file, decoded into a new loaded image.  Talks to Tcl
// (names, errors) but not to X.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <tcl.h>

#include "tkpixmap/image/image.h"

namespace tkpixmap {

// Where an image comes from: a file (native, or served by a Tcl file
// system such as zipfs), or inline data (base64 text as Tk's photo images
// take it, or the bytes of the file).
struct ImageSource {
  Tcl_Obj *file = nullptr;  // a file name, or
  Tcl_Obj *data = nullptr;  // the data
  int index = 0;            // which frame, composited as a viewer shows it
};

// Every frame of an animation, composited, from one pass over the source:
// `count` images, each owned by the caller, with their delays, and the
// file's loop count (-1: none, 0: for ever).
struct LoadedFrames {
  Image **images = nullptr;  // malloc'd
  int count = 0;
  int loopCount = -1;
};

// What the frames of one source keep is bounded: past this many bytes in
// all (a hundred frames of 1280 x 1000 at a byte a pixel), the frames are
// refused.  A few bytes of a file may ask for a huge screen and many
// frames; a viewer keeps one canvas, but every frame here is an image of
// its own.  Each frame counts at least kFrameBytes, for its record.
inline constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 27;
inline constexpr uint64_t kFrameBytes = 1024;

// Sets "pixmap: no frame N in the image" (PIXMAP GIF INDEX); TCL_ERROR.
int noFrame(Tcl_Interp *interp, int index);

// Loads every frame: false with the message and error code set (and
// nothing kept).  A file with no image gives one clear frame, as
// loadImage does; a frame that fails after the first ends the frames.
bool loadFrames(Tcl_Interp *interp, const ImageSource &source, LoadedFrames *frames);

// Lets go of every frame (each image's owner) and of the array.
void releaseFrames(LoadedFrames *frames, void (*releaseOwner)(Image *));

// The bytes of a source: malloc'd, or (`stream`) a stream for what is no
// regular file.  False with the command's message and error code set.
struct SourceBytes {
  uint8_t *data = nullptr;
  size_t size = 0;
  FILE *stream = nullptr;
};
bool readSource(Tcl_Interp *interp, const ImageSource &source, SourceBytes *out);
void freeSource(SourceBytes *bytes);

// The image of the source (its first, or its frame source.index) as a new
// image whose one owner is the caller.  Null on failure, with the command's message ("pixmap: fopen()
// error", "pixmap: ReadGIF() error", ...) and an error code a script can
// test (POSIX ..., PIXMAP GIF FORMAT, PIXMAP NOMEM) in interp.
Image *loadImage(Tcl_Interp *interp, const ImageSource &source);

}  // namespace tkpixmap
