// imagetype.cc - the Tk image type "gifpixmap": a loaded image wherever Tk
// shows an image (labels, buttons, menus, ttk widgets, treeview rows, text
// and canvas image items).  Each widget draws from the instance built for
// the image on its display, screen, visual and colour map, the same one the
// pixmap canvas item shares there.
//
//   image create gifpixmap ?name? ?-file F | -data D | -pixmap HANDLE?
//
// A Tk image is one of its loaded image's owners: "pixmap delete" of the
// handle it was made from leaves it showing.

#include <stdio.h>
#include <string.h>

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/command.h"
#include "tkpixmap/image/load.h"
#include "tkpixmap/result.h"
#include "tkpixmap/tcl_compat.h"
#include "tkpixmap/x11/instance.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {
namespace {

constexpr const char kTypeName[] = "gifpixmap";

struct WidgetUse;

// The options, in the order configure lists them.
enum Option { kData, kFile, kPixmap, kOptionCount };
constexpr const char *kOptionNames[] = {"-data", "-file", "-pixmap", nullptr};

// One per Tk image of this type.  Lives in its interpreter's thread.
struct Model {
  Tk_ImageModel tkModel;  // null once Tk has begun deleting the image
  Tcl_Interp *interp;
  Tcl_Command command;    // the image's own command; null once deleted
  Image *image;           // owned; null for an image without a source
  // The options as last given (each a Tcl_Obj with a reference, or null).
  Tcl_Obj *options[kOptionCount];
  WidgetUse *uses;        // the widgets showing it
};

// One per widget showing the image (Tk asks for one with each Tk_GetImage).
struct WidgetUse {
  Model *model;
  Tk_Window tkwin;
  Instance *instance;  // null where the image cannot be shown (no pixels, a refused build)
  WidgetUse *next;
};

void takeInstance(WidgetUse *use) {
  use->instance = nullptr;
  if (use->model->image == nullptr) return;
  Failure failure;
  use->instance = acquireInstance(use->model->image, use->tkwin, Client::widget, &failure);
}

void dropInstance(WidgetUse *use) {
  if (use->instance != nullptr) releaseInstance(use->instance);
  use->instance = nullptr;
}

void tellWidgets(Model *model) {
  const int width = model->image != nullptr ? model->image->width : 0;
  const int height = model->image != nullptr ? model->image->height : 0;
  if (model->tkModel != nullptr) Tk_ImageChanged(model->tkModel, 0, 0, width, height, width, height);
}

// Makes `image` (owned, may be null) the one shown: every widget moves to
// its instance, and the old image's owner lets go.
void showImage(Model *model, Image *image) {
  Image *old = model->image;
  model->image = image;
  for (WidgetUse *use = model->uses; use != nullptr; use = use->next) {
    dropInstance(use);
    takeInstance(use);
  }
  if (old != nullptr) releaseOwner(old);
  tellWidgets(model);
}

// The image a source option names: loaded from a file or inline data, or
// taken from a handle.  Owned by the caller; null with the reason in interp.
Image *imageFrom(Tcl_Interp *interp, int option, Tcl_Obj *value) {
  if (option == kPixmap) {
    ImageLock lock;
    Image *image = lookUpImage(interp, Tcl_GetString(value));
    if (image != nullptr) addOwner(image);
    return image;
  }
  ImageSource source;
  (option == kData ? source.data : source.file) = value;
  return loadImage(interp, source);
}

void setOption(Tcl_Obj *&slot, Tcl_Obj *value) {
  if (value != nullptr) Tcl_IncrRefCount(value);
  if (slot != nullptr) Tcl_DecrRefCount(slot);
  slot = value;
}

// Applies option words.  The sources are alternatives: the last one given
// is the image's (an empty value leaves it without one), the others no
// longer apply.  A failure leaves everything as it was.
int configure(Model *model, Tcl_Interp *interp, Tcl_Size objc, Tcl_Obj *const objv[]) {
  int source = -1;
  Tcl_Obj *value = nullptr;
  for (Tcl_Size i = 0; i < objc; i += 2) {
    int option;
    if (Tcl_GetIndexFromObj(interp, objv[i], kOptionNames, "option", 0, &option) != TCL_OK)
      return TCL_ERROR;
    if (i + 1 >= objc) {
      Tcl_ResetResult(interp);
      Tcl_AppendResult(interp, "value for \"", Tcl_GetString(objv[i]), "\" missing", nullptr);
      Tcl_SetErrorCode(interp, "TK", "VALUE_MISSING", nullptr);
      return TCL_ERROR;
    }
    source = option;
    value = objv[i + 1];
  }
  if (source < 0) return TCL_OK;
  const bool empty = Tcl_GetString(value)[0] == '\0';
  Image *image = nullptr;
  if (!empty && (image = imageFrom(interp, source, value)) == nullptr) return TCL_ERROR;
  for (int i = 0; i < kOptionCount; ++i)
    setOption(model->options[i], i == source && !empty ? value : nullptr);
  showImage(model, image);
  return TCL_OK;
}

Tcl_Obj *optionValue(const Model *model, int option) {
  return model->options[option] != nullptr ? model->options[option] : Tcl_NewObj();
}

// configure with no words or one option name: as Tk's own types answer.
Tcl_Obj *optionInfo(const Model *model, int option) {
  Tcl_Obj *info[5] = {Tcl_NewStringObj(kOptionNames[option], -1), Tcl_NewObj(), Tcl_NewObj(),
                      Tcl_NewObj(), optionValue(model, option)};
  return Tcl_NewListObj(5, info);
}

int imageCommand(void *clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
  auto *model = static_cast<Model *>(clientData);
  static const char *const kSubcommands[] = {"cget", "configure", nullptr};
  int subcommand;
  if (objc < 2) {
    Tcl_WrongNumArgs(interp, 1, objv, "option ?arg ...?");
    return TCL_ERROR;
  }
  if (Tcl_GetIndexFromObj(interp, objv[1], kSubcommands, "option", 0, &subcommand) != TCL_OK)
    return TCL_ERROR;
  if (subcommand == 0) {  // cget
    if (objc != 3) {
      Tcl_WrongNumArgs(interp, 2, objv, "option");
      return TCL_ERROR;
    }
    int option;
    if (Tcl_GetIndexFromObj(interp, objv[2], kOptionNames, "option", 0, &option) != TCL_OK)
      return TCL_ERROR;
    Tcl_SetObjResult(interp, optionValue(model, option));
    return TCL_OK;
  }
  if (objc == 2) {
    Tcl_Obj *all = Tcl_NewObj();
    for (int option = 0; option < kOptionCount; ++option)
      Tcl_ListObjAppendElement(interp, all, optionInfo(model, option));
    Tcl_SetObjResult(interp, all);
    return TCL_OK;
  }
  if (objc == 3) {
    int option;
    if (Tcl_GetIndexFromObj(interp, objv[2], kOptionNames, "option", 0, &option) != TCL_OK)
      return TCL_ERROR;
    Tcl_SetObjResult(interp, optionInfo(model, option));
    return TCL_OK;
  }
  return configure(model, interp, objc - 2, objv + 2);
}

void imageCommandDeleted(void *clientData) {
  auto *model = static_cast<Model *>(clientData);
  model->command = nullptr;
  // Renaming the command away deletes the image, as for Tk's own types.
  if (model->tkModel != nullptr) Tk_DeleteImage(model->interp, Tk_NameOfImage(model->tkModel));
}

int CreateImage(Tcl_Interp *interp, const char *name, Tcl_Size objc, Tcl_Obj *const objv[],
                const Tk_ImageType *, Tk_ImageModel tkModel, ClientData *modelData) {
  auto *model = reinterpret_cast<Model *>(Tcl_Alloc(sizeof(Model)));
  memset(model, 0, sizeof *model);
  model->tkModel = tkModel;
  model->interp = interp;
  if (configure(model, interp, objc, objv) != TCL_OK) {
    for (Tcl_Obj *&option : model->options) setOption(option, nullptr);
    Tcl_Free(reinterpret_cast<char *>(model));
    return TCL_ERROR;
  }
  model->command = Tcl_CreateObjCommand(interp, name, imageCommand, model, imageCommandDeleted);
  *modelData = model;
  return TCL_OK;
}

ClientData GetImage(Tk_Window tkwin, ClientData modelData) {
  auto *model = static_cast<Model *>(modelData);
  auto *use = reinterpret_cast<WidgetUse *>(Tcl_Alloc(sizeof(WidgetUse)));
  *use = WidgetUse{model, tkwin, nullptr, model->uses};
  model->uses = use;
  takeInstance(use);
  return use;
}

// Copies the part of the image the widget asks for; transparent pixels
// leave what is behind them, as with photo images.
void DisplayImage(ClientData useData, Display *display, Drawable drawable, int imageX, int imageY,
                  int width, int height, int drawableX, int drawableY) {
  auto *use = static_cast<WidgetUse *>(useData);
  Instance *instance = use->instance;
  const XlibFunctions *x11 = resolvedXlib();
  if (instance == nullptr || instance->display != display || x11 == nullptr ||
      !confirmInstance(instance))
    return;
  if (instance->mask != None) {
    x11->SetClipMask(display, instance->gc, instance->mask);
    x11->SetClipOrigin(display, instance->gc, drawableX - imageX, drawableY - imageY);
  }
  x11->CopyArea(display, instance->pixmap, drawable, instance->gc, imageX, imageY,
                static_cast<unsigned>(width), static_cast<unsigned>(height), drawableX,
                drawableY);
  if (instance->mask != None) x11->SetClipMask(display, instance->gc, None);
}

void FreeImage(ClientData useData, Display *) {
  auto *use = static_cast<WidgetUse *>(useData);
  for (WidgetUse **link = &use->model->uses; *link != nullptr; link = &(*link)->next) {
    if (*link == use) {
      *link = use->next;
      break;
    }
  }
  dropInstance(use);
  Tcl_Free(reinterpret_cast<char *>(use));
}

// Tk has freed every widget's use by now.
void DeleteImage(ClientData modelData) {
  auto *model = static_cast<Model *>(modelData);
  model->tkModel = nullptr;
  if (model->command != nullptr) {
    Tcl_Command command = model->command;
    model->command = nullptr;
    Tcl_DeleteCommandFromToken(model->interp, command);
  }
  if (model->image != nullptr) releaseOwner(model->image);
  for (Tcl_Obj *&option : model->options) setOption(option, nullptr);
  Tcl_Free(reinterpret_cast<char *>(model));
}

Tk_ImageType imageType = {
    kTypeName,     // name
    CreateImage,   // create
    GetImage,      // get: a widget starts showing the image
    DisplayImage,  // display
    FreeImage,     // free: a widget stops showing it
    DeleteImage,   // delete
    nullptr,       // PostScript: Tk reads the image back from where it is drawn
    nullptr,       // next: Tk links its types here
    nullptr,       // reserved
};

}  // namespace

void registerImageType() { Tk_CreateImageType(&imageType); }

}  // namespace tkpixmap
