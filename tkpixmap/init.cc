// init.cc - the package entry point: provides Pixmap 3.0 and the "pixmap"
// command, and where Tk is already present the canvas item type and the Tk
// image type.  The package also loads into a plain tclsh.  The same source
// builds the Tcl 8.6 and the Tcl 9 package libraries.

#include <pthread.h>

#include <tcl.h>
#include <tk.h>

#include "tkpixmap.h"
#include "tkpixmap/command.h"

namespace tkpixmap {
namespace {

// The item type is registered once per process (Tk keeps one list of
// item types), guarded by its mutex.
pthread_mutex_t itemTypeMutex = PTHREAD_MUTEX_INITIALIZER;
bool itemTypeRegistered = false;

// Tk keeps image types per thread.
struct ThreadTypes {
  int imageTypeRegistered;
};
Tcl_ThreadDataKey threadTypesKey;

}  // namespace

void registerTkTypesIfTk(Tcl_Interp *interp) {
  auto *types = static_cast<ThreadTypes *>(Tcl_GetThreadData(&threadTypesKey, sizeof(ThreadTypes)));
  if (types->imageTypeRegistered && __atomic_load_n(&itemTypeRegistered, __ATOMIC_ACQUIRE)) return;
  // Tk_InitStubs would load Tk if it were missing; only look for it.
  Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
  const bool haveTk = Tcl_PkgPresent(interp, "Tk", nullptr, 0) != nullptr &&
                      Tk_InitStubs(interp, "8.6-10", 0) != nullptr;
  Tcl_RestoreInterpState(interp, saved);
  if (!haveTk) return;
  if (!types->imageTypeRegistered) {
    registerImageType();
    types->imageTypeRegistered = 1;
  }
  pthread_mutex_lock(&itemTypeMutex);
  if (!itemTypeRegistered) {
    registerItemType();
    __atomic_store_n(&itemTypeRegistered, true, __ATOMIC_RELEASE);
  }
  pthread_mutex_unlock(&itemTypeMutex);
}

}  // namespace tkpixmap

extern "C" int Pixmap_Init(Tcl_Interp *interp) {
  if (Tcl_InitStubs(interp, "8.6-10", 0) == nullptr) return TCL_ERROR;
  // Another version already provided in this interpreter is a conflict the
  // caller of load must see; the command is then left alone.
  if (Tcl_PkgProvide(interp, "Pixmap", "3.0") != TCL_OK) return TCL_ERROR;
  Tcl_CreateObjCommand(interp, "pixmap", tkpixmap::pixmapObjCmd, nullptr, nullptr);
  tkpixmap::registerTkTypesIfTk(interp);
  return TCL_OK;
}
