// xsymbols.h - the one run-time resolver of the X functions the extension
// calls: Xlib's (xlib.h) and, when libX11 is backed by XCB, the calls of the
// pipelined colour allocation (colours.h).  Free of Tcl, so that the colour
// code can be tested alone.
#pragma once

#include "tkpixmap/colours.h"
#include "tkpixmap/xlib.h"

namespace tkpixmap {

struct RuntimeX {
  bool xlibFound;             // libX11 was in the process and had every function
  const char *missing;        // when not: the missing function, or null if no libX11 at all
  XlibFunctions xlib;
  bool pipelineFound;         // the XCB calls behind libX11 were all found
  colours::PipelineCalls pipeline;
};

// Looked up once per process, by whichever thread asks first (pthread_once);
// read-only afterwards, so any thread may use the answer without a lock.
// Only a libX11 that Tk already loaded will do, so the first call must come
// from a build, when a canvas exists.
const RuntimeX &runtimeX();

}  // namespace tkpixmap
