// image.h - a loaded image: its size, its kept pixels and who holds it.
// What is built for it on each X display (tkpixmap/x11/instance.h) hangs
// off it but lives in the X home; nothing here talks to X or Tcl.
//
// Two kinds of holder:
//  * owners: the handle name the pixmap command gave out, and each Tk image
//    made from it.  While an image has an owner it can be shown somewhere
//    new, so it keeps its pixels and its built instances.
//  * references: owners plus every instance built from the image.  The
//    record itself goes with the last reference.
// Once the last owner lets go, the pixels go at once (unless a build is
// reading them: it pins them) and every instance goes with its last user.
#pragma once

#include <pthread.h>

#include "baseutil/mutex_lock.h"
#include "tkpixmap/image/pixels.h"

namespace tkpixmap {

struct Instance;  // tkpixmap/x11/instance.h

struct Image {
  int width = 0;
  int height = 0;
  int delayMs = 0;             // an animation frame's delay; 0 for none
  int ncolors = -1;            // cells of an 8-bit build, 0 after a TrueColor one, -1 before any
  ImagePixels pixels;          // empty once the last owner has gone
  // Guarded by imageMutex():
  int owners = 0;
  int references = 0;
  int pins = 0;                // builds reading pixels right now
  Instance *instances = nullptr;  // built on some display; linked through Instance::next
};

// The one lock of loaded images, held with MutexLock (baseutil/mutex_lock.h):
// the handle registry, every image's holders and instance list, and each
// instance's users.  Recursive, so that a caller may hold it across a
// look-up and taking hold of what it found.  Never held across an X request
// or a call back into Tcl that may run scripts.
pthread_mutex_t &imageMutex();

// A new image of width x height whose pixels are `rgba` (rows back to back,
// may be null for an image without pixels), kept in their compact form;
// the caller is its first owner.  Null when memory is short.  Given the GIF
// file they were read from, as the first image of its whole screen, the
// file may be kept instead (pixels.h).
Image *newImage(const uint8_t *rgba, int width, int height, const uint8_t *file = nullptr,
                size_t fileSize = 0);

// Owners come and go; the last one's going drops the pixels.  Returns
// whether an owner is left.
void addOwner(Image *image);
bool dropOwner(Image *image);

// References for the instances built from an image; the last reference
// frees the record.
void addReference(Image *image);
void dropReference(Image *image);

// The pixels for a build, kept until unpinPixels even if the last owner
// goes meanwhile; null (nothing pinned) when the image has none or memory
// is short.  An image kept as its file is decoded into `decoded`, outside
// the lock, and unpinPixels drops that again.
const ImagePixels *pinPixels(Image *image, ImagePixels *decoded);
void unpinPixels(Image *image, ImagePixels *decoded);

}  // namespace tkpixmap
