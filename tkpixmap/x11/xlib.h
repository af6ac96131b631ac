// xlib.h - the Xlib functions the extension calls, looked up at run time in
// the libX11 that Tk has already loaded into the process (symbols.h).  The
// library is not linked against libX11: a tclsh that loads Tk keeps
// libX11's symbols local, so plain undefined references would not resolve
// there.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

struct Tcl_Interp;

namespace tkpixmap {

struct XlibFunctions {
  Status (*AllocColor)(Display *, Colormap, XColor *);
  XImage *(*CreateImage)(Display *, Visual *, unsigned int, int, int, char *, unsigned int,
                         unsigned int, int, int);
  int (*PutImage)(Display *, Drawable, GC, XImage *, int, int, int, int, unsigned int,
                  unsigned int);
  GC (*CreateGC)(Display *, Drawable, unsigned long, XGCValues *);
  int (*CopyArea)(Display *, Drawable, Drawable, GC, int, int, unsigned int, unsigned int, int,
                  int);
  int (*Flush)(Display *);
  int (*Free)(void *);
  int (*FreeGC)(Display *, GC);
  int (*FreeColors)(Display *, Colormap, unsigned long *, int, unsigned long);
  int (*SetClipMask)(Display *, GC, Pixmap);
  int (*SetClipOrigin)(Display *, GC, int, int);
  XImage *(*GetImage)(Display *, Drawable, int, int, unsigned int, unsigned int, unsigned long,
                      int);
  int (*Sync)(Display *, Bool);
  int (*QueryColors)(Display *, Colormap, XColor *, int);
  // A display's closing: the per-display records go with it.
  XExtCodes *(*AddExtension)(Display *);
  int (*(*ESetCloseDisplay)(Display *, int, int (*)(Display *, XExtCodes *)))(Display *,
                                                                              XExtCodes *);
  XPixmapFormatValues *(*ListPixmapFormats)(Display *, int *);
};

// The resolved table, or null with "pixmap: libX11 is not loaded in this
// process" (or the missing symbol) set in interp.  Resolved once per process.
const XlibFunctions *xlib(Tcl_Interp *interp);

// The table if libX11 was found, else null.  For callers with no
// interpreter to report to.
const XlibFunctions *resolvedXlib();

}  // namespace tkpixmap
