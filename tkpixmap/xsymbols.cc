// xsymbols.cc - looks up libX11 and its XCB in the host process, once.

#include "tkpixmap/xsymbols.h"

#include <dlfcn.h>
#include <pthread.h>

namespace tkpixmap {
namespace {

// Written once inside pthread_once, read-only afterwards by any thread.
RuntimeX found{};
pthread_once_t lookup = PTHREAD_ONCE_INIT;

struct Symbol {
  const char *name;
  void **slot;
};

template <typename F>
Symbol symbol(const char *name, F *&member) {
  return {name, reinterpret_cast<void **>(&member)};
}

// Fills every slot from `library`; the first missing name, or null when all were there.
template <size_t N>
const char *resolveAll(void *library, const Symbol (&symbols)[N]) {
  for (const Symbol &s : symbols) {
    *s.slot = dlsym(library, s.name);
    if (*s.slot == nullptr) return s.name;
  }
  return nullptr;
}

void lookUpXlib(RuntimeX &into) {
  // RTLD_NOLOAD: only a libX11 that Tk already brought in will do; loading a
  // second copy would give us a library with no connection to Tk's display.
  void *x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (x11 == nullptr) return;
  XlibFunctions &f = into.xlib;
  const Symbol symbols[] = {
      symbol("XAllocColor", f.AllocColor),   symbol("XCreateImage", f.CreateImage),
      symbol("XPutImage", f.PutImage),       symbol("XCreateGC", f.CreateGC),
      symbol("XCopyArea", f.CopyArea),       symbol("XFlush", f.Flush),
      symbol("XFree", f.Free),               symbol("XFreeGC", f.FreeGC),
      symbol("XFreeColors", f.FreeColors),   symbol("XSetClipMask", f.SetClipMask),
      symbol("XSetClipOrigin", f.SetClipOrigin), symbol("XGetImage", f.GetImage),
      symbol("XSync", f.Sync),               symbol("XQueryColors", f.QueryColors),
  };
  into.missing = resolveAll(x11, symbols);
  // The handle stays open: the library is Tk's and lives as long as it does.
  into.xlibFound = into.missing == nullptr;
}

void lookUpPipeline(RuntimeX &into) {
  // libxcb is always there under an XCB-backed libX11: take the copy it
  // uses.  libX11-xcb, which only hands out the display's connection, is a
  // separate small library that a Tk process has usually not loaded yet.
  void *xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
  if (xcb == nullptr) return;
  void *bridge = dlopen("libX11-xcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (bridge == nullptr) return;
  // Both handles stay open for the life of the process, like libX11's.
  colours::PipelineCalls &p = into.pipeline;
  const Symbol fromBridge[] = {symbol("XGetXCBConnection", p.connectionOf)};
  const Symbol fromXcb[] = {
      symbol("xcb_alloc_color", p.allocColor),
      symbol("xcb_alloc_color_reply", p.allocColorReply),
      symbol("xcb_free_colors_checked", p.freeColorsChecked),
      symbol("xcb_request_check", p.requestCheck),
  };
  into.pipelineFound =
      resolveAll(bridge, fromBridge) == nullptr && resolveAll(xcb, fromXcb) == nullptr;
}

}  // namespace

const RuntimeX &runtimeX() {
  pthread_once(&lookup, [] {
    lookUpXlib(found);
    lookUpPipeline(found);
  });
  return found;
}

}  // namespace tkpixmap
