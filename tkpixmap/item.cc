// item.cc - the "pixmap" canvas item type.  (Being written: for now only
// the Tk stubs set-up that registration needs.)

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/record.h"

namespace tkpixmap {

void registerItemTypeIfTk(Tcl_Interp *interp) {
  static bool registered = false;
  if (registered) return;
  // Tk_InitStubs would load Tk if it were missing; only look for it.
  Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
  bool haveTk = Tcl_PkgPresent(interp, "Tk", nullptr, 0) != nullptr &&
                Tk_InitStubs(interp, "8.3", 0) != nullptr;
  Tcl_RestoreInterpState(interp, saved);
  if (!haveTk) return;
  registered = true;
}

}  // namespace tkpixmap
