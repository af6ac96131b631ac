// xlib.cc - the Xlib table for the Tcl-facing code, with its failure told in
// the interpreter.  The lookup itself is xsymbols.cc's.

#include "tkpixmap/xlib.h"

#include <tcl.h>

#include "tkpixmap/xsymbols.h"

namespace tkpixmap {

const XlibFunctions *xlib(Tcl_Interp *interp) {
  const RuntimeX &x = runtimeX();
  if (x.xlibFound) return &x.xlib;
  Tcl_ResetResult(interp);
  if (x.missing == nullptr) {
    Tcl_AppendResult(interp, "pixmap: libX11 is not loaded in this process", nullptr);
  } else {
    Tcl_AppendResult(interp, "pixmap: libX11 has no ", x.missing, nullptr);
  }
  Tcl_SetErrorCode(interp, "PIXMAP", "X", "NOXLIB", nullptr);
  return nullptr;
}

const XlibFunctions *resolvedXlib() {
  const RuntimeX &x = runtimeX();
  return x.xlibFound ? &x.xlib : nullptr;
}

}  // namespace tkpixmap
