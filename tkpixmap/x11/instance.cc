// instance.cc - finding, building, sharing and freeing what is built for an
// image where it is shown, and the displays those instances live on.

#include "tkpixmap/x11/instance.h"

#include <stdio.h>
#include <stdlib.h>

#include <new>

#include "tkpixmap/result.h"
#include "tkpixmap/x11/build.h"
#include "tkpixmap/x11/display_list.h"
#include "tkpixmap/x11/shmring.h"
#include "tkpixmap/x11/symbols.h"
#include "tkpixmap/x11/trap.h"

namespace tkpixmap {
namespace {

// ---------------------------------------------------------------- refusals

// Each refusal's message and the words of its error code after PIXMAP.
struct RefusalText {
  Refusal refusal;
  const char *message;
  const char *word1;
  const char *word2;
};
constexpr RefusalText kRefusals[] = {
    {Refusal::noPixels, "pixmap: image has no pixels to show", "ITEM", "NOPIXELS"},
    {Refusal::noXlib, "pixmap: libX11 is not loaded in this process", "X", "NOXLIB"},
    {Refusal::depth, "create_pixmap: unsupported window depth", "X", "DEPTH"},
    {Refusal::tooLarge, "pixmap: Tk_GetPixmap() error", "X", "TOOLARGE"},
    {Refusal::pseudoVisual, "pixmap: only support 8-bit PseudoColor visual", "X", "VISUAL"},
    {Refusal::trueVisual, "pixmap: only support 16/24/32-bit TrueColor visual", "X", "VISUAL"},
    {Refusal::visual, "pixmap: no build for this visual", "X", "VISUAL"},
    {Refusal::tooManyColours, "pixmap: too many colors", "X", "TOOMANYCOLORS"},
    {Refusal::noColours, "pixmap: ran out of color allocations", "X", "NOCOLORS"},
    {Refusal::noMemory, "pixmap: malloc() error", "NOMEM", nullptr},
    {Refusal::createImage, "pixmap: XCreateImage() error", "X", "CREATEIMAGE"},
    {Refusal::masks, "pixmap: unsupported colour masks", "X", "MASKS"},
    {Refusal::serverRefused, "pixmap: Tk_GetPixmap() error", "X", nullptr},
};

// The last word of a server's refusal: its X error, or ERROR for another.
const char *xErrorWord(int error) {
  switch (error) {
    case BadAlloc: return "BADALLOC";
    case BadMatch: return "BADMATCH";
    case BadValue: return "BADVALUE";
    case BadDrawable: return "BADDRAWABLE";
    default: return "ERROR";
  }
}

// ---------------------------------------------------------------- displays

// A display instances were built on: the thread whose Tk opened it (all X
// work for them happens there) and its instances.  Process-wide list,
// guarded by imageMutex(); a record goes as Xlib closes its display.
struct DisplayRecord {
  Display *display;
  Tcl_ThreadId thread;
  Instance *instances;  // linked through nextOnDisplay
  DisplayRecord *next;
};
DisplayRecord *displays = nullptr;

DisplayRecord **findRecord(const Display *display) { return findEntry(&displays, display); }

// Takes `instance` off the list at *head linked through `link`.
void removeFrom(Instance **head, Instance *instance, Instance *Instance::*link) {
  for (Instance **at = head; *at != nullptr; at = &((*at)->*link)) {
    if (*at == instance) {
      *at = instance->*link;
      break;
    }
  }
  instance->*link = nullptr;
}

void unlinkFromImage(Instance *instance) {
  removeFrom(&instance->image->instances, instance, &Instance::next);
}

// Takes an instance off its image's and its display's lists.  With the lock held.
void unlink(Instance *instance) {
  unlinkFromImage(instance);
  if (DisplayRecord *record = *findRecord(instance->display))
    removeFrom(&record->instances, instance, &Instance::nextOnDisplay);
}

// The record itself, once nothing on the server is left to free.
void freeRecord(Instance *instance) {
  Image *image = instance->image;
  free(instance->cells);
  instance->~Instance();
  free(instance);
  dropReference(image);
}

// Gives the server side back and frees the instance: in the display's
// thread, without imageMutex().
void freeInstance(Instance *instance) {
  const XlibFunctions *x11 = resolvedXlib();
  Display *display = instance->display;
  awaitBuild(instance);  // its error handler writes into the instance until then
  // A confirmed build's pixmaps and GC live until freed here, so freeing
  // them needs no guard, whose deletion costs a round trip every tenth time.
  giveBack(instance, instance->cells, instance->cellCount,
           instance->buildError != Success || instance->cellCount > 0);
  // A large pixmap's memory and 8-bit cells (shared with every client of
  // the colour map) go back at once.  An icon's few freeing requests wait
  // for Xlib's next flush, as Tk's own do.
  if (instance->cellCount > 0 ||
      isLargePixmap(instance->image->width, instance->image->height, instance->depth))
    x11->Flush(display);
  freeRecord(instance);
}

void freeAll(Instance *list) {
  while (list != nullptr) {
    Instance *next = list->nextOnDisplay;
    freeInstance(list);
    list = next;
  }
}

// Whether an instance nobody shows may go: its image can never be shown
// anew (no owner), or its build was refused.
bool unwanted(const Instance *instance) {
  return instance->users == 0 && (instance->image->owners == 0 || instance->pixmap == None);
}

// Frees this thread's unwanted instances: what another thread gave up for
// it to free (a deleted handle, say).
void sweepThisThread() {
  Instance *gone = nullptr;
  {
    MutexLock lock(imageMutex());
    const Tcl_ThreadId self = Tcl_GetCurrentThread();
    for (DisplayRecord *record = displays; record != nullptr; record = record->next) {
      if (record->thread != self) continue;
      for (Instance *instance = record->instances, *next; instance != nullptr; instance = next) {
        next = instance->nextOnDisplay;
        if (!unwanted(instance)) continue;
        unlink(instance);
        instance->nextOnDisplay = gone;
        gone = instance;
      }
    }
  }
  freeAll(gone);
}

int sweepEvent(Tcl_Event *, int) {
  sweepThisThread();
  return 1;
}

// Asks `thread` to sweep (Tcl drops the request if the thread has ended:
// its displays closed first, and with them their instances).
void askToSweep(Tcl_ThreadId thread) {
  auto *event = reinterpret_cast<Tcl_Event *>(Tcl_Alloc(sizeof(Tcl_Event)));
  event->proc = sweepEvent;
  event->nextPtr = nullptr;
  Tcl_ThreadQueueEvent(thread, event, TCL_QUEUE_TAIL);
  Tcl_ThreadAlert(thread);
}

// Xlib calls this as it closes the display, in the display's thread: the
// server frees everything of the connection's with it, so the instances
// there are forgotten, but for the GCs' memory in this process, which only
// XFreeGC gives back (Xlib sends what a closing hook asks before it hangs
// up).  Instances still shown are left to their users.
int displayClosing(Display *display, XExtCodes *) {
  Instance *all = nullptr;
  DisplayRecord *record;
  {
    MutexLock lock(imageMutex());
    DisplayRecord **link = findRecord(display);
    record = *link;
    if (record == nullptr) return 0;
    *link = record->next;
    all = record->instances;
    for (Instance *instance = all; instance != nullptr; instance = instance->nextOnDisplay) {
      unlinkFromImage(instance);
      instance->display = nullptr;
      // Xlib has waited for the server before calling here, so a build's
      // errors are all in.  A refused build keeps its GC (its memory here is
      // small): freeing it would bring an error to a display Tk has already
      // let go, and Xlib's default handler would end the process.
      if (instance->buildError != Success) instance->gc = nullptr;
      instance->buildRequest = 0;
    }
  }
  trap::forget(display);
  shmring::forget(display);
  const XlibFunctions *x11 = resolvedXlib();
  Instance *forgotten = nullptr;
  for (Instance *instance = all, *next; instance != nullptr; instance = next) {
    next = instance->nextOnDisplay;
    instance->nextOnDisplay = nullptr;
    if (instance->gc != nullptr) x11->FreeGC(display, instance->gc);
    instance->gc = nullptr;
    MutexLock lock(imageMutex());
    if (instance->users == 0) {
      instance->nextOnDisplay = forgotten;
      forgotten = instance;
    }
  }
  while (forgotten != nullptr) {
    Instance *next = forgotten->nextOnDisplay;
    freeRecord(forgotten);
    forgotten = next;
  }
  free(record);
  return 0;
}

// The display's record, made (and its closing watched) on its first build;
// null when memory is short.  Called in the display's thread, the only one
// that makes its record, so the lock need not be held across the Xlib calls.
DisplayRecord *recordFor(Display *display, const XlibFunctions &x11) {
  {
    MutexLock lock(imageMutex());
    if (DisplayRecord *record = *findRecord(display)) return record;
  }
  auto *record = static_cast<DisplayRecord *>(malloc(sizeof(DisplayRecord)));
  XExtCodes *codes = record != nullptr ? x11.AddExtension(display) : nullptr;
  if (codes == nullptr) {
    free(record);
    return nullptr;
  }
  x11.ESetCloseDisplay(display, codes->extension, displayClosing);
  *record = DisplayRecord{display, Tcl_GetCurrentThread(), nullptr, nullptr};
  MutexLock lock(imageMutex());
  record->next = displays;
  displays = record;
  return record;
}

// The image's usable instance for `target`, with the lock held.
Instance *findInstance(const Image *image, const Target &target) {
  const Colormap colormap = matchedColormap(target);
  for (Instance *instance = image->instances; instance != nullptr; instance = instance->next) {
    if (instance->display == target.display && instance->screen == target.screen &&
        instance->visual == target.visual && instance->colormap == colormap &&
        instance->pixmap != None)
      return instance;
  }
  return nullptr;
}

Instance *newInstance(Image *image, const Target &target) {
  auto *instance = static_cast<Instance *>(calloc(1, sizeof(Instance)));
  if (instance == nullptr) return nullptr;
  instance->image = image;
  instance->display = target.display;
  instance->screen = target.screen;
  instance->visual = target.visual;
  instance->colormap = matchedColormap(target);
  instance->depth = target.depth;
  instance->thread = Tcl_GetCurrentThread();
  instance->inexact = Refusal::none;
  instance->buildError = Success;
  return instance;
}

}  // namespace

int reportFailure(Tcl_Interp *interp, const Failure &failure) {
  for (const RefusalText &text : kRefusals) {
    if (text.refusal != failure.refusal) continue;
    if (failure.refusal == Refusal::noXlib) {
      xlib(interp);  // says which: no libX11, or one without a function we call
      return TCL_ERROR;
    }
    const char *message = failure.detail[0] != '\0' ? failure.detail : text.message;
    const char *last = failure.refusal == Refusal::serverRefused ? xErrorWord(failure.xError)
                                                                 : text.word2;
    return failWith(interp, message, "PIXMAP", text.word1, last);
  }
  return failWith(interp, "pixmap: internal error", "PIXMAP");
}

Instance *acquireInstance(Image *image, Tk_Window tkwin, Client client, Failure *failure) {
  const Target target = targetOf(tkwin);
  const XlibFunctions *x11 = resolvedXlib();
  // What the client refuses is refused whoever built there first.
  if (image->width <= 0 || image->height <= 0 || !hasPixels(image->pixels)) {
    failure->refusal = Refusal::noPixels;  // X has no empty pixmaps
    return nullptr;
  }
  if (x11 == nullptr) {
    failure->refusal = Refusal::noXlib;
    return nullptr;
  }
  if (!canServe(target, client, image->width, image->height, failure)) return nullptr;
  {
    MutexLock lock(imageMutex());
    if (Instance *instance = findInstance(image, target)) {
      // An item shows only exact colours; a widget's build may have had to
      // take the nearest.
      if (client == Client::item && instance->inexact != Refusal::none) {
        failure->refusal = instance->inexact;
        return nullptr;
      }
      ++instance->users;
      return instance;
    }
  }
  DisplayRecord *record = recordFor(target.display, *x11);
  Instance *instance = record != nullptr ? newInstance(image, target) : nullptr;
  ImagePixels decoded;
  const ImagePixels *pixels = instance != nullptr ? pinPixels(image, &decoded) : nullptr;
  if (pixels == nullptr) {
    // Gone meanwhile, or no memory to decode them.
    bool gone = instance != nullptr;
    if (gone) {
      MutexLock lock(imageMutex());
      gone = !hasPixels(image->pixels);
    }
    failure->refusal = gone ? Refusal::noPixels : Refusal::noMemory;
    free(instance);
    return nullptr;
  }
  int colours = 0;
  // Built without the lock: loads and builds in other threads go on.
  const bool built = buildInstance(instance, *pixels, target, client, failure, &colours);
  unpinPixels(image, &decoded);
  if (!built) {
    free(instance);
    return nullptr;
  }
  MutexLock lock(imageMutex());
  addReference(image);
  instance->users = 1;
  instance->next = image->instances;
  image->instances = instance;
  instance->nextOnDisplay = record->instances;
  record->instances = instance;
  if (target.visual->c_class != TrueColor || image->ncolors < 0) image->ncolors = colours;
  return instance;
}

void releaseInstance(Instance *instance) {
  {
    MutexLock lock(imageMutex());
    if (--instance->users > 0) return;
    if (instance->display == nullptr) {  // its display has closed
      freeRecord(instance);
      return;
    }
    if (!unwanted(instance)) return;  // kept for the image's next show here
    unlink(instance);
  }
  freeInstance(instance);
}

bool confirmInstance(Instance *instance) {
  if (instance->display == nullptr) return false;
  if (instance->buildRequest != 0) {
    awaitBuild(instance);
    // Refused after all: never drawn, and given back.  The instance stays
    // with its users, empty; the next show here builds anew.
    if (instance->buildError != Success) {
      giveBack(instance, instance->cells, instance->cellCount, true);
      instance->cellCount = 0;
    }
  }
  return instance->pixmap != None;
}

void copyFromInstance(const Instance *instance, Display *display, Drawable drawable, int sourceX,
                      int sourceY, int width, int height, int drawableX, int drawableY,
                      bool clipped) {
  const XlibFunctions *x11 = resolvedXlib();
  clipped = clipped && instance->mask != None;
  if (clipped) {
    x11->SetClipMask(display, instance->gc, instance->mask);
    x11->SetClipOrigin(display, instance->gc, drawableX - sourceX, drawableY - sourceY);
  }
  x11->CopyArea(display, instance->pixmap, drawable, instance->gc, sourceX, sourceY,
                static_cast<unsigned>(width), static_cast<unsigned>(height), drawableX, drawableY);
  if (clipped) x11->SetClipMask(display, instance->gc, None);
}

void giveBack(Instance *instance, unsigned long *cells, int cellCount, bool guarded) {
  const XlibFunctions *x11 = resolvedXlib();
  Display *display = instance->display;
  IgnoredErrors quiet(display, guarded);
  if (instance->mask != None) Tk_FreePixmap(display, instance->mask);
  if (instance->pixmap != None) Tk_FreePixmap(display, instance->pixmap);
  if (instance->gc != nullptr) x11->FreeGC(display, instance->gc);
  if (cellCount > 0) x11->FreeColors(display, instance->colormap, cells, cellCount, 0);
  instance->mask = None;
  instance->pixmap = None;
  instance->gc = nullptr;
}

void releaseOwner(Image *image) {
  Instance *gone = nullptr;
  constexpr int kMaxListed = 16;
  Tcl_ThreadId others[kMaxListed];
  int otherCount = 0;
  addReference(image);  // the image outlives the owner's going until the end here
  {
    MutexLock lock(imageMutex());
    if (!dropOwner(image)) {
      const Tcl_ThreadId self = Tcl_GetCurrentThread();
      for (Instance *instance = image->instances, *next; instance != nullptr; instance = next) {
        next = instance->next;
        if (instance->users != 0) continue;
        if (instance->thread == self) {
          unlink(instance);
          instance->nextOnDisplay = gone;
          gone = instance;
          continue;
        }
        // Each other thread is asked once; past the list's room, at once
        // (a second sweep finds nothing to do).
        bool listed = false;
        for (int i = 0; i < otherCount; ++i) listed = listed || others[i] == instance->thread;
        if (listed) continue;
        if (otherCount < kMaxListed) others[otherCount++] = instance->thread;
        else askToSweep(instance->thread);
      }
    }
  }
  freeAll(gone);
  for (int i = 0; i < otherCount; ++i) askToSweep(others[i]);
  dropReference(image);
}

}  // namespace tkpixmap
