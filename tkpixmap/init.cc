// init.cc - the package entry point: provides Pixmap 3.0 and the "pixmap"
// command.  Tk is not touched here, so the package loads into a plain tclsh.

#include <tcl.h>

#include "tkpixmap.h"

extern "C" int Pixmap_Init(Tcl_Interp *interp) {
  if (Tcl_InitStubs(interp, "8.6", 0) == nullptr) return TCL_ERROR;
  Tcl_PkgProvide(interp, "Pixmap", "3.0");
  Tcl_CreateCommand(interp, "pixmap", Tcl_pixmap, nullptr,
                    nullptr);
  return TCL_OK;
}
