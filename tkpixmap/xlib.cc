// xlib.cc - run-time lookup of Xlib in the host process.

#include "tkpixmap/xlib.h"

#include <dlfcn.h>

#include <tcl.h>

namespace tkpixmap {
namespace {

struct Symbol {
  const char *name;
  void **slot;
};

XlibFunctions table;
bool resolved = false;

template <typename F>
void **slotOf(F *&member) {
  return reinterpret_cast<void **>(&member);
}

}  // namespace

const XlibFunctions *xlib(Tcl_Interp *interp) {
  if (resolved) return &table;
  // RTLD_NOLOAD: only a libX11 that Tk already brought in will do; loading a
  // second copy would give us a library with no connection to Tk's display.
  void *handle = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    Tcl_SetResult(interp, const_cast<char *>("pixmap: libX11 is not loaded in this process"),
                  TCL_STATIC);
    return nullptr;
  }
  XlibFunctions found{};
  const Symbol symbols[] = {
      {"XAllocColor", slotOf(found.AllocColor)}, {"XCreateImage", slotOf(found.CreateImage)},
      {"XPutImage", slotOf(found.PutImage)},     {"XCreateGC", slotOf(found.CreateGC)},
      {"XCopyArea", slotOf(found.CopyArea)},     {"XFlush", slotOf(found.Flush)},
      {"XFree", slotOf(found.Free)},             {"XFreeGC", slotOf(found.FreeGC)},
      {"XFreeColors", slotOf(found.FreeColors)}, {"XSetClipMask", slotOf(found.SetClipMask)},
      {"XSetClipOrigin", slotOf(found.SetClipOrigin)}, {"XGetImage", slotOf(found.GetImage)},
      {"XSync", slotOf(found.Sync)},             {"XQueryColors", slotOf(found.QueryColors)},
  };
  for (const Symbol &symbol : symbols) {
    *symbol.slot = dlsym(handle, symbol.name);
    if (*symbol.slot == nullptr) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "pixmap: libX11 has no ", symbol.name, nullptr);
      dlclose(handle);
      return nullptr;
    }
  }
  // The handle stays open: the library is Tk's and lives as long as it does.
  table = found;
  resolved = true;
  return &table;
}

const XlibFunctions *resolvedXlib() { return resolved ? &table : nullptr; }

}  // namespace tkpixmap
