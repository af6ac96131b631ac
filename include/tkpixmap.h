/*
 * tkpixmap.h - the Tcl-facing entry points of libtkpixmap.so.3: the package
 * entry point, the pixmap command procedure and the GIF reader.
 */
#ifndef TKPIXMAP_H
#define TKPIXMAP_H

#include <stdio.h>

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

struct Tcl_Interp;

/* A block of decoded pixels: 4 bytes per pixel (red, green, blue, alpha),
 * rows top to bottom, `pitch` bytes per row.  Laid out like Tk's photo
 * image block so either can be handed where the other is expected. */
typedef struct PixelBlock {
  unsigned char *pixelPtr; /* Tcl_Alloc'd; owned by whoever holds the block */
  int width;
  int height;
  int pitch;
  int pixelSize;
  int offset[4];
} PixelBlock;

/* Provides package Pixmap 3.0 and creates the command "pixmap". */
TKP_EXPORT int Pixmap_Init(struct Tcl_Interp *interp);

/* The string-argument command procedure behind "pixmap". */
TKP_EXPORT int Tcl_pixmap(void *clientData, struct Tcl_Interp *interp, int argc,
                          const char **argv);

/* Reads the first image of the GIF stream `file` into `block`, clipped to the
 * window (originX, originY, *width, *height) of the logical screen (a size of
 * 0 asks for the whole screen in that direction).  Returns TCL_OK or
 * TCL_ERROR with a message in the interpreter.  On TCL_OK the block holds the
 * pixels unless the file has none (then the block is left untouched). */
TKP_EXPORT int myReadGIF(struct Tcl_Interp *interp, FILE *file, const char *path,
                         const char *formatName, PixelBlock *block, int targetX,
                         int targetY, int *width, int *height, int originX,
                         int originY);

TKP_END_DECLS

#endif
