// trap.h - catches the X errors of pixmap builds the server has not
// answered yet, with one Tk error handler per display for all of them.
//
// A Tk error handler per build would cost a round trip every tenth build:
// Tk waits for the server when it tidies up deleted handlers, and a small
// build is otherwise never waited for.  Here a display's handler lives while
// any of its builds is unconfirmed and is deleted right after the wait that
// confirms the last of them, when Tk has nothing left to wait for.  Errors
// of requests outside every build's span are passed on untouched, to older
// handlers and then to Tk's own.
#pragma once

#include <tk.h>

#include "tkpixmap/x11/instance.h"

namespace tkpixmap {

// Waits, if need be, until the server has handled a small build's requests
// (see instance.h), so that no error of theirs can arrive any more.  One
// round trip confirms every earlier build on the display too.
void awaitBuild(Instance *instance);

// Swallows the X errors of the requests made on `display` while it exists:
// for giving back server resources that may already be gone (a refused
// build's, or those of a colour map that went with its window), where an
// error must not reach Tk's default handler, which would end the process.
// Nothing is waited for: the errors may arrive after the guard has gone,
// and Tk (8.6) still calls a deleted handler for the requests made while it
// lived, so the handler holds no pointer into the guard.
class IgnoredErrors {
 public:
  // Only while `wanted`: a guard that is not needed costs nothing.
  explicit IgnoredErrors(Display *display, bool wanted = true);
  ~IgnoredErrors();
  IgnoredErrors(const IgnoredErrors &) = delete;
  IgnoredErrors &operator=(const IgnoredErrors &) = delete;

 private:
  Tk_ErrorHandler handler_ = nullptr;
};

// Catches the X errors of the requests made on `display` while it exists,
// for asking what the server may refuse.  first() and the guard's going
// wait for the server (a round trip), so no error of those requests can
// arrive later.
class CaughtErrors {
 public:
  explicit CaughtErrors(Display *display);
  ~CaughtErrors();
  CaughtErrors(const CaughtErrors &) = delete;
  CaughtErrors &operator=(const CaughtErrors &) = delete;

  // Success, or the code of the first error.
  int first();

 private:
  Display *display_;
  int first_ = Success;
  Tk_ErrorHandler handler_ = nullptr;
};

}  // namespace tkpixmap

namespace tkpixmap::trap {

// From now on the X errors of the requests made on instance->display go to
// instance->buildError (the first one is kept), until close().  Clears
// buildError.  False when memory for the display's bookkeeping is short:
// nothing was opened, and the build must not be sent.
bool open(Instance *instance);

// Ends the span of requests open() began: instance->buildRequest becomes the
// serial of its last request.  Errors for them may still arrive until the
// build is confirmed (awaitBuild).
void close(Instance *instance);

// Called by awaitBuild once the server has handled the instance's requests: no
// error can come for them any more.  Every other build on the display the
// server has handled is let go too, and with the last one the handler.
void settle(Instance *instance);

// The display is closing: its trap goes (Tk drops its handlers itself) and
// every build still listed is taken off the list unconfirmed.
void forget(Display *display);

}  // namespace tkpixmap::trap
