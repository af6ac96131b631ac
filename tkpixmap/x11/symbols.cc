// symbols.cc - looks up libX11, libXext's MIT-SHM calls and libX11's XCB in
// the host process, once.

#include "tkpixmap/x11/symbols.h"

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

// RTLD_NOLOAD: only a library Tk already brought in will do.  The handles
// stay open: the libraries are Tk's and live as long as it does.
void *loaded(const char *name) { return dlopen(name, RTLD_LAZY | RTLD_NOLOAD); }

void lookUpXlib(RuntimeX &into) {
  void *x11 = loaded("libX11.so.6");
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
      symbol("XAddExtension", f.AddExtension),
      symbol("XESetCloseDisplay", f.ESetCloseDisplay),
      symbol("XListPixmapFormats", f.ListPixmapFormats),
  };
  into.missing = resolveAll(x11, symbols);
  into.xlibFound = into.missing == nullptr;
}

void lookUpShm(RuntimeX &into) {
  void *xext = loaded("libXext.so.6");
  if (xext == nullptr) return;
  ShmFunctions &s = into.shm;
  const Symbol symbols[] = {symbol("XShmQueryExtension", s.QueryExtension),
                            symbol("XShmAttach", s.Attach), symbol("XShmPutImage", s.PutImage)};
  into.shmFound = resolveAll(xext, symbols) == nullptr;
}

void lookUpPipeline(RuntimeX &into) {
  // libxcb is always there under an XCB-backed libX11: take the copy it
  // uses.  libX11-xcb, which only hands out the display's connection, is a
  // separate small library that a Tk process has usually not loaded yet.
  void *xcb = loaded("libxcb.so.1");
  if (xcb == nullptr) return;
  void *bridge = dlopen("libX11-xcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (bridge == nullptr) return;
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
    if (!found.xlibFound) return;
    lookUpShm(found);
    lookUpPipeline(found);
  });
  return found;
}

}  // namespace tkpixmap
