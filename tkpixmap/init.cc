// init.cc - the package entry point: provides Pixmap 3.0 and the "pixmap"
// command.  Tk is not touched here, so the package loads into a plain tclsh.
// The same source builds the Tcl 8.6 and the Tcl 9 package libraries.

#include <tcl.h>

#include "tkpixmap.h"

extern "C" int Pixmap_Init(Tcl_Interp *interp) {
  if (Tcl_InitStubs(interp, "8.6-10", 0) == nullptr) return TCL_ERROR;
  // Another version already provided in this interpreter is a conflict the
  // caller of load must see; the command is then left alone.
  if (Tcl_PkgProvide(interp, "Pixmap", "3.0") != TCL_OK) return TCL_ERROR;
  Tcl_CreateCommand(interp, "pixmap", Tcl_pixmap, nullptr,
                    nullptr);
  return TCL_OK;
}
