// shmring.h - hands a small TrueColor build's pixels to a local X server
// through memory shared with it (the MIT-SHM extension) instead of the
// socket.  For a 40 x 40 icon writing the pixels to the socket costs more
// than everything else of its build.
//
// Each display gets one segment, used as a ring: builds pack their pixels
// at its next free place, and only when the ring wraps round does the
// client wait for the server to have read what was put before.  A display
// whose server cannot share memory (a remote one, or one without the
// extension) gets no segment, and its builds use the socket as before.
#pragma once

#include <X11/Xlib.h>
#include <stddef.h>

namespace tkpixmap::shmring {

// Room in display's segment for a `width` x `height` image of `depth`, to
// be packed in place with rows *rowBytes apart (set here: the server's own
// row length, its padding included) and sent with put(); or null, leaving
// *rowBytes alone, and the pixels then go through the socket: no segment,
// an empty image or one too large for it, or a depth the server keeps in
// other bits per pixel than `bitsPerPixel` (only the socket's copy is
// repacked by Xlib).  The first call for a display asks the server whether
// it can share memory (two round trips, once).
char *reserve(Display *display, int depth, int bitsPerPixel, int width, int height,
              size_t *rowBytes);

// Marks `image`, whose data reserve() gave, as lying in display's segment.
// Such an image must be given up with release(), never XDestroyImage alone.
void adopt(Display *display, XImage *image);

// Whether adopt() marked the image.
bool adopted(const XImage *image);

// Asks the server to copy the adopted image into `drawable` (XShmPutImage).
void put(Display *display, Drawable drawable, GC gc, XImage *image);

// The display is closing: its segment goes.
void forget(Display *display);

// Destroys an image, adopted or not, leaving the segment alone.
void release(XImage *image);

}  // namespace tkpixmap::shmring
