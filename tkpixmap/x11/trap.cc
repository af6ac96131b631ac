// trap.cc - the X errors of unconfirmed pixmap builds: one Tk error
// handler per display, which finds the build an error belongs to by its
// request serial.

#include "tkpixmap/x11/trap.h"

#include <pthread.h>
#include <stdlib.h>

#include "tkpixmap/x11/display_list.h"
#include "baseutil/mutex_lock.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {
namespace {

// A display with unconfirmed builds and the handler that covers them.
struct DisplayTrap {
  Display *display;
  Tk_ErrorHandler handler;
  Instance *unconfirmed;  // linked through nextUnconfirmed, newest first
  DisplayTrap *next;
};

// Process-wide: the displays of every thread that builds.  The list, every
// DisplayTrap and every Instance's nextUnconfirmed, buildFirst and (while the
// instance is listed) buildRequest and buildError are guarded by trapMutex.
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
  for (Instance *instance = trap->unconfirmed; instance != nullptr;
       instance = instance->nextUnconfirmed) {
    if (event->serial >= instance->buildFirst && event->serial <= instance->buildRequest) {
      if (instance->buildError == Success) instance->buildError = event->error_code;
      return 0;
    }
  }
  return 1;
}

// Takes off trap's list every instance the server has handled up to
// `handled`, and `instance` whatever its state.
void unlist(DisplayTrap *trap, const Instance *instance, unsigned long handled) {
  for (Instance **r = &trap->unconfirmed; *r != nullptr;) {
    if (*r == instance || (*r)->buildRequest <= handled) {
      Instance *done = *r;
      *r = done->nextUnconfirmed;
      done->nextUnconfirmed = nullptr;
    } else {
      r = &(*r)->nextUnconfirmed;
    }
  }
}

int ignoreXError(ClientData, XErrorEvent *) { return 0; }

int catchXError(ClientData data, XErrorEvent *event) {
  int *first = static_cast<int *>(data);
  if (*first == Success) *first = event->error_code;
  return 0;
}

void waitForServer(Display *display) {
  const XlibFunctions *x11 = resolvedXlib();
  if (x11 != nullptr) x11->Sync(display, False);
}

}  // namespace

IgnoredErrors::IgnoredErrors(Display *display, bool wanted) {
  if (wanted) handler_ = Tk_CreateErrorHandler(display, -1, -1, -1, ignoreXError, nullptr);
}
IgnoredErrors::~IgnoredErrors() {
  if (handler_ != nullptr) Tk_DeleteErrorHandler(handler_);
}

CaughtErrors::CaughtErrors(Display *display)
    : display_(display),
      handler_(Tk_CreateErrorHandler(display, -1, -1, -1, catchXError, &first_)) {}
CaughtErrors::~CaughtErrors() {
  waitForServer(display_);  // before the handler, which points here, goes
  Tk_DeleteErrorHandler(handler_);
}
int CaughtErrors::first() {
  waitForServer(display_);
  return first_;
}

// Runs in the display's thread, as all X work for an instance does.
void awaitBuild(Instance *instance) {
  if (instance->buildRequest == 0) return;
  const XlibFunctions *x11 = resolvedXlib();
  if (x11 != nullptr && LastKnownRequestProcessed(instance->display) < instance->buildRequest)
    x11->Sync(instance->display, False);  // confirms every build made before it too
  trap::settle(instance);
  instance->buildRequest = 0;
}

namespace trap {

bool open(Instance *instance) {
  MutexLock lock(trapMutex);
  DisplayTrap **link = findTrap(instance->display);
  if (*link == nullptr) {
    auto *trap = static_cast<DisplayTrap *>(malloc(sizeof(DisplayTrap)));
    if (trap == nullptr) return false;
    *trap = DisplayTrap{instance->display,
                        Tk_CreateErrorHandler(instance->display, -1, -1, -1, noteBuildError, nullptr),
                        nullptr, nullptr};
    *link = trap;
  }
  instance->buildError = Success;
  instance->buildFirst = NextRequest(instance->display);
  instance->buildRequest = kOpenSpan;
  instance->nextUnconfirmed = (*link)->unconfirmed;
  (*link)->unconfirmed = instance;
  return true;
}

void close(Instance *instance) {
  MutexLock lock(trapMutex);
  instance->buildRequest = NextRequest(instance->display) - 1;
}

void settle(Instance *instance) {
  Tk_ErrorHandler unused = nullptr;
  {
    MutexLock lock(trapMutex);
    DisplayTrap **link = findTrap(instance->display);
    DisplayTrap *trap = *link;
    if (trap == nullptr) return;
    unlist(trap, instance, LastKnownRequestProcessed(instance->display));
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

void forget(Display *display) {
  MutexLock lock(trapMutex);
  DisplayTrap **link = findTrap(display);
  DisplayTrap *trap = *link;
  if (trap == nullptr) return;
  unlist(trap, nullptr, ~0ul);
  *link = trap->next;
  free(trap);
}

}  // namespace trap
}  // namespace tkpixmap
