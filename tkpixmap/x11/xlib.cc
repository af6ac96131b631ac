// xlib.cc - the Xlib table for the Tcl-facing code, with its failure told in
// the interpreter.  The lookup itself is symbols.cc's.

#include "tkpixmap/x11/xlib.h"

#include <stdio.h>

#include <tcl.h>

#include "tkpixmap/result.h"
#include "tkpixmap/x11/symbols.h"

namespace tkpixmap {

const XlibFunctions *xlib(Tcl_Interp *interp) {
  const RuntimeX &x = runtimeX();
  if (x.xlibFound) return &x.xlib;
  Tcl_ResetResult(interp);
  char message[200];
  if (x.missing == nullptr) {
    snprintf(message, sizeof message, "pixmap: libX11 is not loaded in this process");
  } else {
    snprintf(message, sizeof message, "pixmap: libX11 has no %s", x.missing);
  }
  failWith(interp, message, "PIXMAP", "X", "NOXLIB");
  return nullptr;
}

const XlibFunctions *resolvedXlib() {
  const RuntimeX &x = runtimeX();
  return x.xlibFound ? &x.xlib : nullptr;
}

}  // namespace tkpixmap
