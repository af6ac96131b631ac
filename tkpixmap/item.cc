// item.cc - the "pixmap" canvas item type: shows a loaded image, anchored at
// a canvas point, by copying from the server pixmap built for the image on
// the canvas's display, screen, visual and colour map (an instance, shared
// with every other item and widget there).
//
// The item owns its place and its hold on the instance; the image belongs
// to its handle.  Like Tk's image item it moves and scales by its anchor
// point, the image keeping its size.  It uses Tk's Tcl_Obj item interface,
// the only one Tk 9 has, so that one source serves Tk 8.6 and Tk 9.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/command.h"
#include "tkpixmap/postscript.h"
#include "tkpixmap/result.h"
#include "tkpixmap/tcl_compat.h"
#include "tkpixmap/x11/instance.h"
#include "tkpixmap/x11/xlib.h"

namespace tkpixmap {
namespace {

// Tk 8.6 takes word objects through its string entry point when told so
// with TK_CONFIG_OBJS (in the item type and in each configure call); Tk 9
// takes nothing else.
#if TK_MAJOR_VERSION >= 9
using OptionValue = const char *;  // what option procedures take and give
using PrintedValue = const char *;
constexpr int kObjectWords = 0;
int configureFromTable(Tcl_Interp *interp, Tk_Window tkwin, const Tk_ConfigSpec *specs,
                       Tcl_Size objc, Tcl_Obj *const objv[], void *record, int flags) {
  return Tk_ConfigureWidget(interp, tkwin, specs, objc, objv, record, flags);
}
#else
using OptionValue = CONST84 char *;
using PrintedValue = CONST86 char *;
constexpr int kObjectWords = TK_CONFIG_OBJS;
int configureFromTable(Tcl_Interp *interp, Tk_Window tkwin, const Tk_ConfigSpec *specs,
                       Tcl_Size objc, Tcl_Obj *const objv[], void *record, int flags) {
  return Tk_ConfigureWidget(interp, tkwin, specs, objc,
                            static_cast<CONST84 char **>(static_cast<void *>(const_cast<Tcl_Obj **>(objv))),
                            static_cast<char *>(record), flags | TK_CONFIG_OBJS);
}
#endif

// The canvas allocates and frees this record; the header must come first.
struct PixmapItem {
  Tk_Item header;        // its box is x1, y1 to x2, y2, with x2 and y2 exclusive;
                         // its state is the -state option
  double x;              // canvas point of the anchor
  double y;
  Tk_Anchor anchor;      // which point of the image lies at (x, y)
  Instance *instance;    // what the image shown was built into here; one of its users
  const Instance *configuredFrom;  // during a configure of a copy: the item's own instance
  Tk_Canvas canvas;      // for the -pixmap option, whose procedures get no canvas
  int transparent;       // -transparent: leave the image's transparent pixels undrawn
  char handle[TCL_INTEGER_SPACE + 8];  // -pixmap as last given: "pixmap" and a number
};

// The option procedures are Tk stubs, only known once Tk's stubs table is
// set up, so they are filled in when the item type is registered.
Tk_CustomOption pixmapTagsOption = {nullptr, nullptr, nullptr};
Tk_CustomOption pixmapStateOption = {nullptr, nullptr, nullptr};
Tk_CustomOption pixmapImageOption = {nullptr, nullptr, nullptr};

Tk_ConfigSpec pixmapConfigSpecs[] = {
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "nw", offsetof(PixmapItem, anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-pixmap", nullptr, nullptr, nullptr, 0, 0, &pixmapImageOption},
    {TK_CONFIG_CUSTOM, "-state", nullptr, nullptr, nullptr, offsetof(Tk_Item, state),
     TK_CONFIG_NULL_OK, &pixmapStateOption},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK,
     &pixmapTagsOption},
    {TK_CONFIG_BOOLEAN, "-transparent", nullptr, nullptr, "0", offsetof(PixmapItem, transparent),
     0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

constexpr const char kPixmapOption[] = "-pixmap";

// Coordinates far outside any window still give a box; clamping keeps the
// integer arithmetic below defined.
int roundHalfAwayFromZero(double value) {
  constexpr double kLimit = 1e9;
  if (!(value > -kLimit)) value = -kLimit;  // also catches NaN
  if (value > kLimit) value = kLimit;
  return value >= 0.0 ? static_cast<int>(value + 0.5) : static_cast<int>(value - 0.5);
}

void ComputePixmapItemBbox(Tk_Canvas, PixmapItem *item) {
  int x = roundHalfAwayFromZero(item->x);
  int y = roundHalfAwayFromZero(item->y);
  const int w = item->instance->image->width;
  const int h = item->instance->image->height;
  switch (item->anchor) {
    case TK_ANCHOR_N: x -= w / 2; break;
    case TK_ANCHOR_NE: x -= w; break;
    case TK_ANCHOR_E: x -= w; y -= h / 2; break;
    case TK_ANCHOR_SE: x -= w; y -= h; break;
    case TK_ANCHOR_S: x -= w / 2; y -= h; break;
    case TK_ANCHOR_SW: y -= h; break;
    case TK_ANCHOR_W: y -= h / 2; break;
    case TK_ANCHOR_CENTER: x -= w / 2; y -= h / 2; break;
    default: break;  // nw, and Tk 9's "no anchor", which the table never sets
  }
  item->header.x1 = x;
  item->header.y1 = y;
  item->header.x2 = x + w;
  item->header.y2 = y + h;
}

// Makes the image named `handle` the one `item` is to show: its instance
// for the canvas, built if need be.  `item` may be the scratch copy of a
// configure, which holds its instance (is one of its users) unless that is
// `kept`, the instance the item had before, whose hold stays the item's.
// So an instance it took earlier in the same configure (a second -pixmap)
// is let go, and no second hold is kept on one already held.
int takeImage(Tcl_Interp *interp, PixmapItem *item, const char *handle, const Instance *kept) {
  Image *image;
  {
    MutexLock lock(imageMutex());  // a "pixmap delete" elsewhere must not free it before it is held
    image = lookUpImage(interp, handle);
    if (image == nullptr) return TCL_ERROR;
    addReference(image);
  }
  Failure failure;
  Instance *instance = acquireInstance(image, Tk_CanvasTkwin(item->canvas), Client::item, &failure);
  dropReference(image);
  if (instance == nullptr) {
    reportFailure(interp, failure);
    // A refusal of this window's; an image without pixels is refused anywhere.
    if (failure.refusal != Refusal::noPixels)
      Tcl_AppendResult(interp, " create_pixmap error", nullptr);
    return TCL_ERROR;
  }
  if (item->instance != nullptr && item->instance != kept && item->instance != instance)
    releaseInstance(item->instance);
  if (instance == kept || instance == item->instance) releaseInstance(instance);
  item->instance = instance;
  snprintf(item->handle, sizeof item->handle, "%s", handle);
  return TCL_OK;
}

// -pixmap through the option table: abbreviations such as -pix, and the
// value that itemcget and itemconfigure report.
int parseImageOption(void *, Tcl_Interp *interp, Tk_Window, OptionValue value,
                     char *widgRec, Tcl_Size) {
  auto *item = reinterpret_cast<PixmapItem *>(widgRec);
  return takeImage(interp, item, value, item->configuredFrom);
}

PrintedValue printImageOption(void *, Tk_Window, char *widgRec, Tcl_Size,
                               Tcl_FreeProc **freeProc) {
  *freeProc = nullptr;
  return reinterpret_cast<PixmapItem *>(widgRec)->handle;
}

// -state as every Tk item has it: normal, hidden or disabled (drawn as
// normal), or empty for the canvas's own state.  Abbreviations are taken.
int parseStateOption(void *, Tcl_Interp *interp, Tk_Window, OptionValue value,
                     char *widgRec, Tcl_Size offset) {
  auto *state = reinterpret_cast<Tk_State *>(widgRec + offset);
  const size_t length = value == nullptr ? 0 : strlen(value);
  if (length == 0) {
    *state = TK_STATE_NULL;
    return TCL_OK;
  }
  static const struct {
    const char *name;
    Tk_State state;
  } kStates[] = {{"normal", TK_STATE_NORMAL},
                 {"hidden", TK_STATE_HIDDEN},
                 {"disabled", TK_STATE_DISABLED}};
  for (const auto &known : kStates) {
    if (strncmp(value, known.name, length) == 0) {
      *state = known.state;
      return TCL_OK;
    }
  }
  Tcl_ResetResult(interp);
  Tcl_AppendResult(interp, "bad state value \"", value,
                   "\": must be normal, hidden, or disabled", nullptr);
  Tcl_SetErrorCode(interp, "TK", "VALUE", "STATE", nullptr);
  return TCL_ERROR;
}

PrintedValue printStateOption(void *, Tk_Window, char *widgRec, Tcl_Size offset,
                               Tcl_FreeProc **freeProc) {
  *freeProc = nullptr;
  switch (*reinterpret_cast<Tk_State *>(widgRec + offset)) {
    case TK_STATE_NORMAL: return const_cast<char *>("normal");
    case TK_STATE_HIDDEN: return const_cast<char *>("hidden");
    case TK_STATE_DISABLED: return const_cast<char *>("disabled");
    default: return const_cast<char *>("");
  }
}

void DeletePixmapItem(Tk_Canvas, Tk_Item *itemPtr, Display *) {
  // The image lives on with its handle; the item only lets go of what was
  // built for it here.
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  if (item->instance != nullptr) releaseInstance(item->instance);
  item->instance = nullptr;
}

// The option words applied to `item`: the table's first, then each
// "-pixmap" pair in the order given (their own message for a missing value).
int applyOptionWords(Tcl_Interp *interp, PixmapItem *item, Tcl_Size objc, Tcl_Obj *const objv[],
                     int flags) {
  Tcl_Obj **tableWords =
      static_cast<Tcl_Obj **>(malloc(sizeof(Tcl_Obj *) * static_cast<size_t>(objc + 1)));
  if (tableWords == nullptr) {
    failNoMemory(interp);
    return TCL_ERROR;
  }
  Tcl_Size tableCount = 0;
  for (Tcl_Size i = 0; i < objc; i += 2) {
    if (strcmp(Tcl_GetString(objv[i]), kPixmapOption) == 0) continue;
    tableWords[tableCount++] = objv[i];
    if (i + 1 < objc) tableWords[tableCount++] = objv[i + 1];
  }
  tableWords[tableCount] = nullptr;
  int status = configureFromTable(interp, Tk_CanvasTkwin(item->canvas), pixmapConfigSpecs,
                                  tableCount, tableWords, item, flags);
  free(tableWords);
  if (status != TCL_OK) return TCL_ERROR;

  for (Tcl_Size i = 0; i < objc; i += 2) {
    if (strcmp(Tcl_GetString(objv[i]), kPixmapOption) != 0) continue;
    if (i + 1 >= objc) {
      Tcl_AppendResult(interp, "Need argument for -pixmap", nullptr);
      Tcl_SetErrorCode(interp, "TK", "VALUE_MISSING", nullptr);
      return TCL_ERROR;
    }
    if (takeImage(interp, item, Tcl_GetString(objv[i + 1]), item->configuredFrom) != TCL_OK)
      return TCL_ERROR;
  }
  return TCL_OK;
}

// The tag list is the one part of the item that may own memory (when it
// outgrows the header's own space).  A configure works on a copy of the item
// with tags of its own, so that a failure leaves the item as it was.
void copyTags(Tk_Item *to, const Tk_Item &from) {
  to->tagPtr = to->staticTagSpace;
  to->tagSpace = TK_TAG_SPACE;
  if (from.numTags > TK_TAG_SPACE) {
    to->tagPtr = reinterpret_cast<Tk_Uid *>(
        Tcl_Alloc(static_cast<unsigned>(sizeof(Tk_Uid) * static_cast<size_t>(from.numTags))));
    to->tagSpace = from.numTags;
  }
  for (decltype(from.numTags) i = 0; i < from.numTags; ++i) to->tagPtr[i] = from.tagPtr[i];
  to->numTags = from.numTags;
}

void freeTags(Tk_Item *header) {
  if (header->tagPtr != header->staticTagSpace) Tcl_Free(reinterpret_cast<char *>(header->tagPtr));
  header->tagPtr = header->staticTagSpace;
}

int ConfigurePixmapItem(Tcl_Interp *interp, Tk_Canvas canvas, Tk_Item *itemPtr, Tcl_Size objc,
                        Tcl_Obj *const objv[], int flags) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  PixmapItem next = *item;
  copyTags(&next.header, item->header);
  next.configuredFrom = item->instance;
  if (applyOptionWords(interp, &next, objc, objv, flags) != TCL_OK) {
    if (next.instance != item->instance) releaseInstance(next.instance);
    freeTags(&next.header);
    return TCL_ERROR;
  }

  // Nothing below can fail.
  freeTags(&item->header);
  if (next.header.tagPtr == next.header.staticTagSpace) {
    for (int i = 0; i < TK_TAG_SPACE; ++i)
      item->header.staticTagSpace[i] = next.header.staticTagSpace[i];
  } else {
    item->header.tagPtr = next.header.tagPtr;
  }
  item->header.tagSpace = next.header.tagSpace;
  item->header.numTags = next.header.numTags;
  item->header.state = next.header.state;
  if (next.instance != item->instance && item->instance != nullptr)
    releaseInstance(item->instance);
  item->instance = next.instance;
  item->anchor = next.anchor;
  item->transparent = next.transparent;
  memcpy(item->handle, next.handle, sizeof item->handle);
  ComputePixmapItemBbox(canvas, item);
  return TCL_OK;
}

int CreatePixmapItem(Tcl_Interp *interp, Tk_Canvas canvas, Tk_Item *itemPtr, Tcl_Size objc,
                     Tcl_Obj *const objv[]) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  item->instance = nullptr;
  item->configuredFrom = nullptr;
  item->anchor = TK_ANCHOR_NW;
  item->x = 0.0;
  item->y = 0.0;
  item->canvas = canvas;
  item->transparent = 0;
  item->handle[0] = '\0';
  if (objc < 3) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", Tk_PathName(Tk_CanvasTkwin(canvas)),
                     " create ", itemPtr->typePtr->name, " pixmap_handle x y ?options?\"",
                     nullptr);
    Tcl_SetErrorCode(interp, "TCL", "WRONGARGS", nullptr);
    goto error;
  }
  // The pixmap is built before the coordinates are read.
  if (takeImage(interp, item, Tcl_GetString(objv[0]), nullptr) != TCL_OK) goto error;

  // The string reader: the object one takes words such as "1i+" that the
  // item has always refused.
  if (Tk_CanvasGetCoord(interp, canvas, Tcl_GetString(objv[1]), &item->x) != TCL_OK ||
      Tk_CanvasGetCoord(interp, canvas, Tcl_GetString(objv[2]), &item->y) != TCL_OK)
    goto error;
  if (ConfigurePixmapItem(interp, canvas, itemPtr, objc - 3, objv + 3, 0) == TCL_OK) return TCL_OK;

error:
  // Lets go of the image if the item got as far as holding it.
  DeletePixmapItem(canvas, itemPtr, Tk_Display(Tk_CanvasTkwin(canvas)));
  return TCL_ERROR;
}

// The anchor point, as Tk's image item gives and takes it: no words give it,
// two words (or one list of two) set it.
int PixmapItemCoords(Tcl_Interp *interp, Tk_Canvas canvas, Tk_Item *itemPtr, Tcl_Size objc,
                     Tcl_Obj *const objv[]) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  if (objc == 0) {
    Tcl_Obj *point = Tcl_NewObj();
    Tcl_ListObjAppendElement(interp, point, Tcl_NewDoubleObj(item->x));
    Tcl_ListObjAppendElement(interp, point, Tcl_NewDoubleObj(item->y));
    Tcl_SetObjResult(interp, point);
    return TCL_OK;
  }
  Tcl_Obj *const *words = objv;
  Tcl_Size count = objc;
  if (objc == 1 && Tcl_ListObjGetElements(interp, objv[0], &count,
                                          const_cast<Tcl_Obj ***>(&words)) != TCL_OK)
    return TCL_ERROR;
  if (count != 2) {
    char text[80];
    snprintf(text, sizeof text, "wrong # coordinates: expected %s, got %d",
             objc == 1 ? "2" : "0 or 2", static_cast<int>(count));
    return failWith(interp, text, "TK", "CANVAS", "COORDS", "PIXMAP");
  }
  double x, y;
  if (Tk_CanvasGetCoord(interp, canvas, Tcl_GetString(words[0]), &x) != TCL_OK ||
      Tk_CanvasGetCoord(interp, canvas, Tcl_GetString(words[1]), &y) != TCL_OK)
    return TCL_ERROR;
  item->x = x;
  item->y = y;
  ComputePixmapItemBbox(canvas, item);
  return TCL_OK;
}

void DisplayPixmapItem(Tk_Canvas canvas, Tk_Item *itemPtr, Display *display, Drawable drawable,
                       int x, int y, int width, int height) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  Instance *instance = item->instance;
  const XlibFunctions *x11 = resolvedXlib();
  // Never drawn without a pixmap made for this display.
  if (instance == nullptr || instance->display != display || x11 == nullptr ||
      !confirmInstance(instance))
    return;

  const Tk_Item &box = item->header;
  const int sourceColumn = x > box.x1 ? x - box.x1 : 0;
  const int sourceRow = y > box.y1 ? y - box.y1 : 0;
  const int copyWidth = (x + width < box.x2 ? x + width : box.x2) - (x > box.x1 ? x : box.x1);
  const int copyHeight = (y + height < box.y2 ? y + height : box.y2) - (y > box.y1 ? y : box.y1);
  if (copyWidth <= 0 || copyHeight <= 0) return;

  short drawableX = 0;
  short drawableY = 0;
  Tk_CanvasDrawableCoords(canvas, static_cast<double>(box.x1 + sourceColumn),
                          static_cast<double>(box.y1 + sourceRow), &drawableX, &drawableY);
  copyFromInstance(instance, display, drawable, sourceColumn, sourceRow, copyWidth, copyHeight,
                   drawableX, drawableY, item->transparent != 0);
}

// Distance from the point to the item's box, 0 inside, as Tk's own items
// measure it; the canvas picks the closest item (and the current one) by it.
double PixmapItemToPoint(Tk_Canvas, Tk_Item *itemPtr, double *point) {
  const Tk_Item &box = *itemPtr;
  double dx = 0.0;
  double dy = 0.0;
  if (point[0] < box.x1) dx = box.x1 - point[0];
  else if (point[0] > box.x2) dx = point[0] - box.x2;
  if (point[1] < box.y1) dy = box.y1 - point[1];
  else if (point[1] > box.y2) dy = point[1] - box.y2;
  return hypot(dx, dy);
}

// -1 when the box lies wholly outside the area, 1 wholly inside, else 0.
int PixmapItemToArea(Tk_Canvas, Tk_Item *itemPtr, double *area) {
  const Tk_Item &box = *itemPtr;
  if (area[2] <= box.x1 || area[0] >= box.x2 || area[3] <= box.y1 || area[1] >= box.y2)
    return -1;
  if (area[0] <= box.x1 && area[1] <= box.y1 && area[2] >= box.x2 && area[3] >= box.y2) return 1;
  return 0;
}

// The canvas's postscript command: the image as shown.  Its first pass only
// gathers fonts.  A -transparent item is written opaque.
int PixmapItemToPostscript(Tcl_Interp *interp, Tk_Canvas canvas, Tk_Item *itemPtr, int prepass) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  if (prepass || item->instance == nullptr || !confirmInstance(item->instance)) return TCL_OK;
  return appendImagePostscript(interp, canvas, item->instance, item->header.x1, item->header.y1);
}

// Scaling moves the anchor point; the image keeps its size.
void ScalePixmapItem(Tk_Canvas canvas, Tk_Item *itemPtr, double originX, double originY,
                     double scaleX, double scaleY) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  item->x = originX + scaleX * (item->x - originX);
  item->y = originY + scaleY * (item->y - originY);
  ComputePixmapItemBbox(canvas, item);
}

void TranslatePixmapItem(Tk_Canvas canvas, Tk_Item *itemPtr, double deltaX, double deltaY) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  item->x += deltaX;
  item->y += deltaY;
  ComputePixmapItemBbox(canvas, item);
}

Tk_ItemType pixmapItemType = {
    "pixmap",                  // name
    sizeof(PixmapItem),        // item size
    CreatePixmapItem,          // create
    pixmapConfigSpecs,         // option table
    ConfigurePixmapItem,       // configure
    PixmapItemCoords,          // coords
    DeletePixmapItem,          // delete
    DisplayPixmapItem,         // display
    kObjectWords,              // never redrawn off-screen; Tcl_Obj words in Tk 8.6
    PixmapItemToPoint,         // point
    PixmapItemToArea,          // area
    PixmapItemToPostscript,    // PostScript
    ScalePixmapItem,           // scale
    TranslatePixmapItem,       // translate
    nullptr,                   // index
    nullptr,                   // insertion cursor
    nullptr,                   // selection
    nullptr,                   // insert
    nullptr,                   // delete characters
    nullptr,                   // next: the canvas links its types here
    nullptr,                   // reserved
    0,
    nullptr,
    nullptr,
};

}  // namespace

void registerItemType() {
  pixmapTagsOption.parseProc = Tk_CanvasTagsParseProc;
  pixmapTagsOption.printProc = Tk_CanvasTagsPrintProc;
  pixmapStateOption.parseProc = parseStateOption;
  pixmapStateOption.printProc = printStateOption;
  pixmapImageOption.parseProc = parseImageOption;
  pixmapImageOption.printProc = printImageOption;
  Tk_CreateItemType(&pixmapItemType);
}

}  // namespace tkpixmap
