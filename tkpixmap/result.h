// result.h - how the Tcl-facing code reports a failure: the message as the
// interpreter result and the words of its error code, in one call, so that
// no path sets one without the other.
#pragma once

#include <tcl.h>

namespace tkpixmap {

// Sets `message` (copied, so it may live on the caller's stack) as the
// result, leaving the error code as it is (for callers that set it another
// way, Tcl_PosixError say).
inline void setMessage(Tcl_Interp *interp, const char *message) {
  Tcl_SetResult(interp, const_cast<char *>(message), TCL_VOLATILE);
}

// Sets `message` (copied, so it may live on the caller's stack) and the
// error code made of `codeWords` (a null word ends the code early); returns
// TCL_ERROR for the caller to pass on.
template <class... Words>
int failWith(Tcl_Interp *interp, const char *message, Words... codeWords) {
  setMessage(interp, message);
  Tcl_SetErrorCode(interp, static_cast<const char *>(codeWords)..., static_cast<char *>(nullptr));
  return TCL_ERROR;
}

// The one report of memory that ran short: "pixmap: malloc() error",
// PIXMAP NOMEM; TCL_ERROR.
inline int failNoMemory(Tcl_Interp *interp) {
  return failWith(interp, "pixmap: malloc() error", "PIXMAP", "NOMEM");
}

}  // namespace tkpixmap
