// imagetype.cc - the Tk image type "gifpixmap": a loaded image wherever Tk
// shows an image (labels, buttons, menus, ttk widgets, treeview rows, text
// and canvas image items).  Each widget draws from the instance built for
// the image on its display, screen, visual and colour map, the same one the
// pixmap canvas item shares there.
//
//   image create gifpixmap ?name? ?-file F | -data D | -pixmap HANDLE?
//                                 ?-index N? ?-animate BOOLEAN?
//
// A Tk image is one of its loaded image's owners: "pixmap delete" of the
// handle it was made from leaves it showing.  An animated one holds every
// frame and steps through them on the thread's animation clock; each step
// copies from that frame's server pixmap.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/animation.h"
#include "tkpixmap/command.h"
#include "tkpixmap/image/load.h"
#include "tkpixmap/result.h"
#include "tkpixmap/tcl_compat.h"
#include "tkpixmap/x11/instance.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {
namespace {

constexpr const char kTypeName[] = "gifpixmap";

// The options, in the order configure lists them.  -data, -file and
// -pixmap are alternative sources of the pixels.
enum Option { kAnimate, kData, kFile, kIndex, kPixmap, kOptionCount };
constexpr const char *kOptionNames[] = {"-animate", "-data", "-file", "-index", "-pixmap", nullptr};
constexpr const char *kDefaults[] = {"0", "", "", "0", ""};
constexpr Option kSources[] = {kData, kFile, kPixmap};
constexpr Option kSettings[] = {kAnimate, kIndex};
bool isSource(int option) {
  for (Option source : kSources)
    if (option == source) return true;
  return false;
}

struct WidgetUse;

// One per Tk image of this type.  Lives in its interpreter's thread.
struct Model {
  Player player;          // first: the clock hands it back
  Tk_ImageModel tkModel;  // null once Tk has begun deleting the image
  Tcl_Interp *interp;
  Tcl_Command command;    // the image's own command; null once deleted
  LoadedFrames frames;    // owned; no frames for an image without a source
  bool allFrames;         // frames holds every frame (else only the -index one)
  int current;            // the frame shown
  int cycles;             // times the last frame has given way to the first
  int index;              // -index
  bool animate;           // -animate
  Tcl_Obj *options[kOptionCount];  // as last given (a reference each), or null
  WidgetUse *uses;        // the widgets showing it
};

// One per widget showing the image (Tk asks for one with each Tk_GetImage).
struct WidgetUse {
  Model *model;
  Tk_Window tkwin;
  Instance **instances;  // one per frame, built when the frame is first drawn; null where refused
  int count;
  WidgetUse *next;
};

Image *shownImage(const Model *model) {
  return model->frames.count > 0 ? model->frames.images[model->current] : nullptr;
}

void dropInstances(WidgetUse *use) {
  for (int i = 0; i < use->count; ++i)
    if (use->instances[i] != nullptr) releaseInstance(use->instances[i]);
  Tcl_Free(reinterpret_cast<char *>(use->instances));
  use->instances = nullptr;
  use->count = 0;
}

void makeRoom(WidgetUse *use) {
  use->count = use->model->frames.count;
  const size_t bytes = sizeof(Instance *) * static_cast<size_t>(use->count > 0 ? use->count : 1);
  use->instances = reinterpret_cast<Instance **>(Tcl_Alloc(static_cast<unsigned>(bytes)));
  memset(use->instances, 0, bytes);
}

// The instance of the frame shown, built on its first draw here.  A
// refusal draws nothing (a widget has nobody to tell), and is asked again
// at the next draw: a server may have room later.
Instance *instanceShown(WidgetUse *use) {
  const Model *model = use->model;
  if (model->current >= use->count) return nullptr;
  Instance *&slot = use->instances[model->current];
  if (slot == nullptr) {
    Failure failure;
    slot = acquireInstance(shownImage(model), use->tkwin, Client::widget, &failure);
  }
  return slot;
}

void tellWidgets(Model *model) {
  const Image *image = shownImage(model);
  const int width = image != nullptr ? image->width : 0;
  const int height = image != nullptr ? image->height : 0;
  if (model->tkModel != nullptr) Tk_ImageChanged(model->tkModel, 0, 0, width, height, width, height);
}

// ---------------------------------------------------------------- playing

// The next frame; how long it shows, or -1 once the loop count is played.
// Without a loop extension the frames play once; a count of N plays them
// N + 1 times (once, and N times again); 0 for ever.
double stepFrame(Player *player) {
  auto *model = reinterpret_cast<Model *>(player);
  const LoadedFrames &frames = model->frames;
  if (model->current + 1 >= frames.count) {
    const int plays = frames.loopCount == 0 ? 0 : frames.loopCount < 0 ? 1 : frames.loopCount + 1;
    if (plays != 0 && ++model->cycles >= plays) {
      model->animate = false;  // stays on the last frame
      Tcl_Obj *off = Tcl_NewBooleanObj(0);
      Tcl_IncrRefCount(off);
      if (model->options[kAnimate] != nullptr) Tcl_DecrRefCount(model->options[kAnimate]);
      model->options[kAnimate] = off;
      return -1;
    }
    model->current = 0;
  } else {
    ++model->current;
  }
  tellWidgets(model);
  return frameDelayMs(frames.images[model->current]->delayMs);
}

void playOrStop(Model *model) {
  if (model->animate && model->allFrames && model->frames.count > 1) {
    if (!model->player.playing)
      startPlaying(&model->player, frameDelayMs(shownImage(model)->delayMs));
  } else {
    stopPlaying(&model->player);
  }
}

// ---------------------------------------------------------------- configuring

void setOption(Tcl_Obj *&slot, Tcl_Obj *value) {
  if (value != nullptr) Tcl_IncrRefCount(value);
  if (slot != nullptr) Tcl_DecrRefCount(slot);
  slot = value;
}

// The frames a source gives: every one when playing, else the -index one.
bool framesFrom(Tcl_Interp *interp, int option, Tcl_Obj *value, int index, bool all,
                LoadedFrames *frames) {
  *frames = LoadedFrames{};
  Image *image = nullptr;
  if (option == kPixmap) {
    MutexLock lock(imageMutex());
    image = lookUpImage(interp, Tcl_GetString(value));
    if (image != nullptr) addOwner(image);
  } else {
    ImageSource source;
    (option == kData ? source.data : source.file) = value;
    if (all) return loadFrames(interp, source, frames);
    source.index = index;
    image = loadImage(interp, source);
  }
  if (image == nullptr) return false;
  frames->images = static_cast<Image **>(malloc(sizeof(Image *)));
  if (frames->images == nullptr) {
    releaseOwner(image);
    failNoMemory(interp);
    return false;
  }
  frames->images[0] = image;
  frames->count = 1;
  return true;
}

// Makes `frames` the ones shown, from frame `current`: every widget lets go
// of the old frames' instances, and the old frames' owner lets go.
void showFrames(Model *model, LoadedFrames *frames, bool all, int current) {
  LoadedFrames old = model->frames;
  model->frames = *frames;
  model->allFrames = all;
  model->current = current;
  model->cycles = 0;
  for (WidgetUse *use = model->uses; use != nullptr; use = use->next) {
    dropInstances(use);
    makeRoom(use);
  }
  releaseFrames(&old, releaseOwner);
  tellWidgets(model);
}

struct Given {
  Tcl_Obj *values[kOptionCount] = {};
  int source = -1;  // the last source option given
};

int parseOptions(Tcl_Interp *interp, Tcl_Size objc, Tcl_Obj *const objv[], Given *given) {
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
    given->values[option] = objv[i + 1];
    if (isSource(option)) given->source = option;
  }
  return TCL_OK;
}

// The -index and -animate a configuration asks for (the model's own where
// not given); TCL_ERROR with the message for a bad value.
int settingsOf(Tcl_Interp *interp, const Model *model, const Given &given, int *index,
               int *animate) {
  *index = model->index;
  *animate = model->animate ? 1 : 0;
  if (given.values[kIndex] != nullptr) {
    if (Tcl_GetIntFromObj(interp, given.values[kIndex], index) != TCL_OK) return TCL_ERROR;
    if (*index < 0) return noFrame(interp, *index);
  }
  if (given.values[kAnimate] != nullptr &&
      Tcl_GetBooleanFromObj(interp, given.values[kAnimate], animate) != TCL_OK)
    return TCL_ERROR;
  return TCL_OK;
}

// The source given, or the one the image has (a frame may have to be read
// again); -1 and null for none.
int sourceOf(const Model *model, const Given &given, Tcl_Obj **value) {
  *value = given.source >= 0 ? given.values[given.source] : nullptr;
  if (given.source >= 0) return given.source;
  for (Option option : kSources) {
    if (model->options[option] != nullptr) {
      *value = model->options[option];
      return option;
    }
  }
  return -1;
}

// Reads the frames again when the source changed, when playing needs every
// frame and only one was read, or when another single frame is asked for;
// else moves to the frame asked for among those it has.  Stopping keeps
// every frame read, and the frame shown.
int chooseFrames(Model *model, Tcl_Interp *interp, const Given &given, int index, bool animate) {
  Tcl_Obj *value;
  const int source = sourceOf(model, given, &value);
  const bool empty = value == nullptr || Tcl_GetString(value)[0] == '\0';
  const bool all = (animate && source != kPixmap) || (model->allFrames && given.source < 0);
  const bool reload = given.source >= 0 || (all && !model->allFrames) ||
                      (!all && index != model->index);
  if (!reload) {
    if (!model->allFrames || given.values[kIndex] == nullptr) return TCL_OK;
    if (index >= model->frames.count) return noFrame(interp, index);
    model->current = index;
    tellWidgets(model);
    return TCL_OK;
  }
  LoadedFrames frames;
  if (!empty && !framesFrom(interp, source, value, index, all, &frames)) return TCL_ERROR;
  // A file system of Tcl's that runs scripts may have deleted the image
  // meanwhile (the model is preserved, not yet freed).
  if (model->tkModel == nullptr) {
    releaseFrames(&frames, releaseOwner);
    return failWith(interp, "pixmap: the image was deleted while it was read", "PIXMAP",
                    "DELETED");
  }
  if (!empty && all && index >= frames.count) {
    releaseFrames(&frames, releaseOwner);
    return noFrame(interp, index);
  }
  stopPlaying(&model->player);
  showFrames(model, &frames, all && !empty, all ? index : 0);
  return TCL_OK;
}

// Applies option words.  The sources are alternatives: the last one given
// is the image's (an empty value leaves it without one).  -index picks the
// frame shown; -animate plays the frames from it.  A failure leaves
// everything as it was.
int configure(Model *model, Tcl_Interp *interp, Tcl_Size objc, Tcl_Obj *const objv[]) {
  Given given;
  int index, animate;
  if (parseOptions(interp, objc, objv, &given) != TCL_OK ||
      settingsOf(interp, model, given, &index, &animate) != TCL_OK ||
      chooseFrames(model, interp, given, index, animate != 0) != TCL_OK)
    return TCL_ERROR;
  if (given.source >= 0) {
    Tcl_Obj *value = given.values[given.source];
    const bool empty = Tcl_GetString(value)[0] == '\0';
    for (Option option : kSources)
      setOption(model->options[option], option == given.source && !empty ? value : nullptr);
  }
  for (Option option : kSettings)
    if (given.values[option] != nullptr) setOption(model->options[option], given.values[option]);
  model->index = index;
  // Turned on again after the frames have played out: from the start.
  if (animate && !model->animate && model->cycles > 0) {
    model->cycles = 0;
    model->current = 0;
    tellWidgets(model);
  }
  model->animate = animate != 0;
  playOrStop(model);
  return TCL_OK;
}

Tcl_Obj *optionValue(const Model *model, int option) {
  return model->options[option] != nullptr ? model->options[option]
                                           : Tcl_NewStringObj(kDefaults[option], -1);
}

// configure with no words or one option name: as Tk's own types answer.
Tcl_Obj *optionInfo(const Model *model, int option) {
  Tcl_Obj *info[5] = {Tcl_NewStringObj(kOptionNames[option], -1),
                      Tcl_NewObj(), Tcl_NewObj(), Tcl_NewStringObj(kDefaults[option], -1),
                      optionValue(model, option)};
  return Tcl_NewListObj(5, info);
}

int optionNamed(Tcl_Interp *interp, Tcl_Obj *name, int *option) {
  return Tcl_GetIndexFromObj(interp, name, kOptionNames, "option", 0, option);
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
  int option;
  if (subcommand == 0) {  // cget
    if (objc != 3) {
      Tcl_WrongNumArgs(interp, 2, objv, "option");
      return TCL_ERROR;
    }
    if (optionNamed(interp, objv[2], &option) != TCL_OK) return TCL_ERROR;
    Tcl_SetObjResult(interp, optionValue(model, option));
    return TCL_OK;
  }
  if (objc == 2) {
    Tcl_Obj *all = Tcl_NewObj();
    for (int each = 0; each < kOptionCount; ++each)
      Tcl_ListObjAppendElement(interp, all, optionInfo(model, each));
    Tcl_SetObjResult(interp, all);
    return TCL_OK;
  }
  if (objc == 3) {
    if (optionNamed(interp, objv[2], &option) != TCL_OK) return TCL_ERROR;
    Tcl_SetObjResult(interp, optionInfo(model, option));
    return TCL_OK;
  }
  Tcl_Preserve(model);
  const int status = configure(model, interp, objc - 2, objv + 2);
  Tcl_Release(model);
  return status;
}

void imageCommandDeleted(void *clientData) {
  auto *model = static_cast<Model *>(clientData);
  model->command = nullptr;
  // Renaming the command away deletes the image, as for Tk's own types.
  if (model->tkModel != nullptr) Tk_DeleteImage(model->interp, Tk_NameOfImage(model->tkModel));
}

// ---------------------------------------------------------------- Tk's image interface

int CreateImage(Tcl_Interp *interp, const char *name, Tcl_Size objc, Tcl_Obj *const objv[],
                const Tk_ImageType *, Tk_ImageModel tkModel, ClientData *modelData) {
  auto *model = reinterpret_cast<Model *>(Tcl_Alloc(sizeof(Model)));
  memset(static_cast<void *>(model), 0, sizeof *model);
  new (&model->player) Player();
  model->player.step = stepFrame;
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
  *use = WidgetUse{model, tkwin, nullptr, 0, model->uses};
  model->uses = use;
  makeRoom(use);
  return use;
}

// Copies the part of the frame shown that the widget asks for;
// transparent pixels leave what is behind them, as with photo images.
void DisplayImage(ClientData useData, Display *display, Drawable drawable, int imageX, int imageY,
                  int width, int height, int drawableX, int drawableY) {
  auto *use = static_cast<WidgetUse *>(useData);
  Instance *instance = instanceShown(use);
  if (instance == nullptr || instance->display != display) return;
  if (!confirmInstance(instance)) {
    // The server refused the build after all: asked again at the next draw.
    releaseInstance(instance);
    use->instances[use->model->current] = nullptr;
    return;
  }
  copyFromInstance(instance, display, drawable, imageX, imageY, width, height, drawableX,
                   drawableY, true);
}

void FreeImage(ClientData useData, Display *) {
  auto *use = static_cast<WidgetUse *>(useData);
  for (WidgetUse **link = &use->model->uses; *link != nullptr; link = &(*link)->next) {
    if (*link == use) {
      *link = use->next;
      break;
    }
  }
  dropInstances(use);
  Tcl_Free(reinterpret_cast<char *>(use));
}

// Tk has freed every widget's use by now.
void DeleteImage(ClientData modelData) {
  auto *model = static_cast<Model *>(modelData);
  stopPlaying(&model->player);
  model->tkModel = nullptr;
  if (model->command != nullptr) {
    Tcl_Command command = model->command;
    model->command = nullptr;
    Tcl_DeleteCommandFromToken(model->interp, command);
  }
  releaseFrames(&model->frames, releaseOwner);
  for (Tcl_Obj *&option : model->options) setOption(option, nullptr);
  Tcl_EventuallyFree(model, TCL_DYNAMIC);  // a configure under way may hold it
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
