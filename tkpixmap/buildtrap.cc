// buildtrap.cc - the X errors of unconfirmed pixmap builds: one Tk error
// handler per display, which finds the build an error belongs to by its
// request serial.

#include "tkpixmap/buildtrap.h"

#include <pthread.h>
#include <stdlib.h>

#include "tkpixmap/display_list.h"
#include "tkpixmap/mutex_lock.h"
#include "tkpixmap/xlib.h"

namespace tkpixmap {
namespace {

// A display with unconfirmed builds and the handler that covers them.
struct DisplayTrap {
  Display *display;
  Tk_ErrorHandler handler;
  PixmapRecord *unconfirmed;  // linked through nextUnconfirmed, newest first
  DisplayTrap *next;
};

// Process-wide: the displays of every thread that builds.  The list, every
// DisplayTrap and every record's nextUnconfirmed, buildFirst and (while the
// record is listed) buildRequest and buildError are guarded by trapMutex.
// Never held across an X call: an error callback made inside one takes it.
DisplayTrap *traps = nullptr;
pthread_mutex_t trapMutex = PTHREAD_MUTEX_INITIALIZER;

// The buildRequest of a build whose requests are still being made.
constexpr unsigned long kOpenSpan = ~0ul;

DisplayTrap **findTrap(const Display *display) { return findEntry(&traps, display); }

// Looks the display up rather than trusting a pointer given at creation:
// Tk may call a deleted handler for requests made before its deletion, when
// the DisplayTrap is gone.  1 passes the error on.
int noteBuildError(ClientData, XErrorEvent *event) {
  MutexLock lock(trapMutex);
  DisplayTrap *trap = *findTrap(event->display);
  if (trap == nullptr) return 1;
  for (PixmapRecord *record = trap->unconfirmed; record != nullptr;
       record = record->nextUnconfirmed) {
    if (event->serial >= record->buildFirst && event->serial <= record->buildRequest) {
      if (record->buildError == Success) record->buildError = event->error_code;
      return 0;
    }
  }
  return 1;
}

// Takes off trap's list every record the server has handled up to
// `handled`, and `record` whatever its state.
void unlist(DisplayTrap *trap, const PixmapRecord *record, unsigned long handled) {
  for (PixmapRecord **r = &trap->unconfirmed; *r != nullptr;) {
    if (*r == record || (*r)->buildRequest <= handled) {
      PixmapRecord *done = *r;
      *r = done->nextUnconfirmed;
      done->nextUnconfirmed = nullptr;
    } else {
      r = &(*r)->nextUnconfirmed;
    }
  }
}

int ignoreXError(ClientData data, XErrorEvent *event) {
  int *first = static_cast<int *>(data);
  if (*first == Success) *first = event->error_code;
  return 0;
}

}  // namespace

IgnoredErrors::IgnoredErrors(Display *display, bool wanted) {
  if (wanted) handler_ = Tk_CreateErrorHandler(display, -1, -1, -1, ignoreXError, &first_);
}
IgnoredErrors::~IgnoredErrors() {
  if (handler_ != nullptr) Tk_DeleteErrorHandler(handler_);
}

// Runs in the thread that lets go of the image last, which for an image
// shown on a canvas is that canvas's.
void awaitBuild(PixmapRecord *record) {
  if (record->buildRequest == 0) return;
  const XlibFunctions *x11 = resolvedXlib();
  if (x11 != nullptr && LastKnownRequestProcessed(record->display) < record->buildRequest)
    x11->Sync(record->display, False);  // confirms every build made before it too
  buildtrap::settle(record);
  record->buildRequest = 0;
}

namespace buildtrap {

bool open(PixmapRecord *record) {
  MutexLock lock(trapMutex);
  DisplayTrap **link = findTrap(record->display);
  if (*link == nullptr) {
    auto *trap = static_cast<DisplayTrap *>(malloc(sizeof(DisplayTrap)));
    if (trap == nullptr) return false;
    *trap = DisplayTrap{record->display,
                        Tk_CreateErrorHandler(record->display, -1, -1, -1, noteBuildError, nullptr),
                        nullptr, nullptr};
    *link = trap;
  }
  record->buildError = Success;
  record->buildFirst = NextRequest(record->display);
  record->buildRequest = kOpenSpan;
  record->nextUnconfirmed = (*link)->unconfirmed;
  (*link)->unconfirmed = record;
  return true;
}

void close(PixmapRecord *record) {
  MutexLock lock(trapMutex);
  record->buildRequest = NextRequest(record->display) - 1;
}

void settle(PixmapRecord *record) {
  Tk_ErrorHandler unused = nullptr;
  {
    MutexLock lock(trapMutex);
    DisplayTrap **link = findTrap(record->display);
    DisplayTrap *trap = *link;
    if (trap == nullptr) return;
    unlist(trap, record, LastKnownRequestProcessed(record->display));
    if (trap->unconfirmed == nullptr) {
      *link = trap->next;
      unused = trap->handler;
      free(trap);
    }
  }
  // Outside the lock: Tk may wait for the server here, and the errors that
  // brings are noted under the lock.  Right after the wait that confirmed
  // the last build Tk has nothing to wait for.
  if (unused != nullptr) Tk_DeleteErrorHandler(unused);
}

}  // namespace buildtrap
}  // namespace tkpixmap
