// symbols.h - the one run-time resolver of the X functions the extension
// calls, looked up once in the libraries Tk has already loaded into the
// process: Xlib's (xlib.h), the shared-memory extension's (libXext), and,
// when libX11 is backed by XCB, the calls of the pipelined colour
// allocation (colours.h).  Free of Tcl, so that the colour code can be
// tested alone.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/extensions/XShm.h>

#include "tkpixmap/x11/colours.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {

// MIT-SHM, from the libXext Tk has loaded.
struct ShmFunctions {
  Bool (*QueryExtension)(Display *);
  Bool (*Attach)(Display *, XShmSegmentInfo *);
  Bool (*PutImage)(Display *, Drawable, GC, XImage *, int, int, int, int, unsigned, unsigned, Bool);
};

struct RuntimeX {
  bool xlibFound;             // libX11 was in the process and had every function
  const char *missing;        // when not: the missing function, or null if no libX11 at all
  XlibFunctions xlib;
  bool shmFound;              // libXext was in the process with the MIT-SHM calls
  ShmFunctions shm;
  bool pipelineFound;         // the XCB calls behind libX11 were all found
  colours::PipelineCalls pipeline;
};

// Looked up once per process, by whichever thread asks first (pthread_once);
// read-only afterwards, so any thread may use the answer without a lock.
// Only libraries that Tk already loaded will do (a second copy would have
// no connection to Tk's display), so the first call must come from a
// build, when a window exists.
const RuntimeX &runtimeX();

}  // namespace tkpixmap
