// command.cc - the "pixmap" command: it only dispatches.  Loading lives in
// image/load.cc, the handles in image/registry.cc, what is built on the X
// server in x11/.

#include "tkpixmap/command.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tk.h>

#include "tkpixmap.h"
#include "tkpixmap/image/load.h"
#include "tkpixmap/image/registry.h"
#include "tkpixmap/result.h"
#include "tkpixmap/tcl_compat.h"
#include "tkpixmap/x11/instance.h"

namespace tkpixmap {
namespace {

constexpr const char kUsage[] =
    "Usage: pixmap create ?-index n? giffile\n"
    "   or  pixmap create ?-index n? -data data\n"
    "   or  pixmap frames giffile\n"
    "   or  pixmap frames -data data\n"
    "   or  pixmap delete name\n"
    "   or  pixmap name width\n"
    "   or  pixmap name height\n"
    "   or  pixmap name ncolors\n"
    "   or  pixmap name delay\n";

int usage(Tcl_Interp *interp) { return failWith(interp, kUsage, "TCL", "WRONGARGS"); }

// The source words after "create" or "frames": ?-index n? (create only),
// then a file name or -data and the data.  Three words in all are always
// a file name, whatever it looks like.  TCL_ERROR with the usage text or
// the index's own message.
int parseSource(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], bool indexed,
                ImageSource *source) {
  if (objc == 3) {
    source->file = objv[2];
    return TCL_OK;
  }
  int at = 2;
  if (indexed && objc >= 5 && strcmp(Tcl_GetString(objv[at]), "-index") == 0) {
    if (Tcl_GetIntFromObj(interp, objv[at + 1], &source->index) != TCL_OK) return TCL_ERROR;
    at += 2;
  }
  if (objc - at == 1) {
    source->file = objv[at];
  } else if (objc - at == 2 && strcmp(Tcl_GetString(objv[at]), "-data") == 0) {
    source->data = objv[at + 1];
  } else {
    return usage(interp);
  }
  return TCL_OK;
}

// Registers the image under a new handle name, which becomes the result
// (or is appended to the result list).
int registerHandle(Tcl_Interp *interp, Image *image, Tcl_Obj *list = nullptr) {
  char name[kHandleNameSize];
  if (!registerImage(image, name)) {
    releaseOwner(image);
    return failNoMemory(interp);
  }
  if (list != nullptr) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(name, -1));
  else Tcl_SetObjResult(interp, Tcl_NewStringObj(name, -1));
  return TCL_OK;
}

int createImage(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  ImageSource source;
  if (parseSource(interp, objc, objv, true, &source) != TCL_OK) return TCL_ERROR;
  Image *image = loadImage(interp, source);
  return image != nullptr ? registerHandle(interp, image) : TCL_ERROR;
}

// "pixmap frames": a handle for every composited frame, from one pass.
int createFrames(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  ImageSource source;
  if (parseSource(interp, objc, objv, false, &source) != TCL_OK) return TCL_ERROR;
  LoadedFrames frames;
  if (!loadFrames(interp, source, &frames)) return TCL_ERROR;
  Tcl_Obj *handles = Tcl_NewObj();
  Tcl_IncrRefCount(handles);
  int registered = 0;
  while (registered < frames.count &&
         registerHandle(interp, frames.images[registered], handles) == TCL_OK)
    ++registered;
  if (registered < frames.count) {
    // Memory ran short: the frames named so far go again, with the rest.
    Tcl_Size count = 0;
    Tcl_Obj **names = nullptr;
    Tcl_ListObjGetElements(nullptr, handles, &count, &names);
    for (Tcl_Size i = 0; i < count; ++i) releaseOwner(unregisterImage(Tcl_GetString(names[i])));
    for (int i = registered + 1; i < frames.count; ++i) releaseOwner(frames.images[i]);
  } else {
    Tcl_SetObjResult(interp, handles);
  }
  free(frames.images);
  Tcl_DecrRefCount(handles);
  return registered < frames.count ? TCL_ERROR : TCL_OK;
}

// "pixmap delete name": the name goes at once and for good.  The image
// goes with it unless a Tk image was made from it; what the server holds
// goes as the last item or widget showing it lets go.
int deleteImage(Tcl_Interp *interp, const char *handle) {
  Image *image;
  {
    MutexLock lock(imageMutex());
    if (lookUpImage(interp, handle) == nullptr) return TCL_ERROR;
    image = unregisterImage(handle);
  }
  releaseOwner(image);
  return TCL_OK;
}

int query(Tcl_Interp *interp, const char *handle, const char *what) {
  int value;
  {
    MutexLock lock(imageMutex());
    const Image *image = lookUpImage(interp, handle);
    if (image == nullptr) return TCL_ERROR;
    if (strcmp(what, "width") == 0) {
      value = image->width;
    } else if (strcmp(what, "height") == 0) {
      value = image->height;
    } else if (strcmp(what, "ncolors") == 0) {
      value = image->ncolors;
    } else if (strcmp(what, "delay") == 0) {
      value = image->delayMs;
    } else {
      return failWith(interp, "Unrecognized argument", "PIXMAP", "LOOKUP", "QUERY", what);
    }
  }
  Tcl_SetObjResult(interp, Tcl_NewIntObj(value));
  return TCL_OK;
}

}  // namespace

Image *lookUpImage(Tcl_Interp *interp, const char *handle) {
  Image *image = findImage(handle);
  if (image != nullptr) return image;
  Tcl_AppendResult(interp, "Cannot find pixmap", nullptr);
  Tcl_SetErrorCode(interp, "PIXMAP", "LOOKUP", "HANDLE", handle != nullptr ? handle : "",
                   nullptr);
  return nullptr;
}

int pixmapObjCmd(void *, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  const char *word = objc > 1 ? Tcl_GetString(objv[1]) : "";
  const bool creating = strcmp(word, "create") == 0;
  const bool framing = strcmp(word, "frames") == 0;
  if (objc != 3 && !((creating || framing) && objc > 3)) return usage(interp);
  // A tclsh may load Tk after the package: the Tk types come with the
  // next call.
  registerTkTypesIfTk(interp);
  if (creating) return createImage(interp, objc, objv);
  if (framing) return createFrames(interp, objc, objv);
  if (strcmp(word, "delete") == 0) return deleteImage(interp, Tcl_GetString(objv[2]));
  return query(interp, word, Tcl_GetString(objv[2]));
}

}  // namespace tkpixmap

extern "C" int Tcl_pixmap(void *clientData, Tcl_Interp *interp, int argc, const char **argv) {
  Tcl_Obj *stack[8] = {};
  Tcl_Obj **objv = argc <= 8 ? stack : reinterpret_cast<Tcl_Obj **>(Tcl_Alloc(
                                           static_cast<unsigned>(sizeof(Tcl_Obj *) * argc)));
  for (int i = 0; i < argc; ++i) {
    objv[i] = Tcl_NewStringObj(argv[i], -1);
    Tcl_IncrRefCount(objv[i]);
  }
  const int status = tkpixmap::pixmapObjCmd(clientData, interp, argc, objv);
  for (int i = 0; i < argc; ++i) Tcl_DecrRefCount(objv[i]);
  if (objv != stack) Tcl_Free(reinterpret_cast<char *>(objv));
  return status;
}
