// item.cc - the "pixmap" canvas item type: shows a loaded image, anchored at
// a canvas point, by copying from the image's shared server pixmap.
//
// The item is deliberately thin and immovable: it reports no coordinates,
// ignores move and scale requests, and owns nothing but its place (the image
// and its pixmap belong to the process-wide registry).  It uses Tk's
// Tcl_Obj item interface, the only one Tk 9 has, so that one source serves
// Tk 8.6 and Tk 9.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tcl.h>
#include <tk.h>

#include "tkpixmap/record.h"
#include "tkpixmap/xbuild.h"
#include "tkpixmap/xlib.h"

// Tk 9 counts words with Tcl_Size; Tcl 8.6 has no such type and uses int.
#ifndef TCL_SIZE_MAX
typedef int Tcl_Size;
#endif

namespace tkpixmap {
namespace {

// Tk 8.6 takes word objects through its string entry point when told so
// with TK_CONFIG_OBJS (in the item type and in each configure call); Tk 9
// takes nothing else.
#if TK_MAJOR_VERSION >= 9
constexpr int kObjectWords = 0;
int configureFromTable(Tcl_Interp *interp, Tk_Window tkwin, const Tk_ConfigSpec *specs,
                       Tcl_Size objc, Tcl_Obj *const objv[], void *record, int flags) {
  return Tk_ConfigureWidget(interp, tkwin, specs, objc, objv, record, flags);
}
#else
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
  Tk_Item header;        // its box is x1, y1 to x2, y2, with x2 and y2 exclusive
  double x;              // canvas point of the anchor
  double y;
  Tk_Anchor anchor;      // which point of the image lies at (x, y)
  PixmapRecord *record;  // borrowed from the registry, never freed here
};

// The tag procedures are Tk stubs, only known once Tk's stubs table is set
// up, so they are filled in when the item type is registered.
Tk_CustomOption pixmapTagsOption = {nullptr, nullptr, nullptr};

Tk_ConfigSpec pixmapConfigSpecs[] = {
    {TK_CONFIG_ANCHOR, "-anchor", nullptr, nullptr, "nw", offsetof(PixmapItem, anchor),
     TK_CONFIG_DONT_SET_DEFAULT, nullptr},
    {TK_CONFIG_CUSTOM, "-tags", nullptr, nullptr, nullptr, 0, TK_CONFIG_NULL_OK,
     &pixmapTagsOption},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

constexpr const char kPixmapOption[] = "-pixmap";

void setResult(Tcl_Interp *interp, const char *text) {
  Tcl_SetResult(interp, const_cast<char *>(text), TCL_STATIC);
}

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
  const int w = item->record->width;
  const int h = item->record->height;
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

// An item copies from a pixmap made for one display and depth; anything
// else would be an X protocol error, which ends a Tk process.  So an image
// is shown only where its pixmap exists and fits.
int checkShowable(Tcl_Interp *interp, Tk_Canvas canvas, const PixmapRecord *record) {
  if (record->pixmap == kNoPixmap) {
    setResult(interp, "pixmap: image has no pixels to show");
    return TCL_ERROR;
  }
  Tk_Window tkwin = Tk_CanvasTkwin(canvas);
  if (record->display != Tk_Display(tkwin)) {
    setResult(interp, "pixmap: image was built for another display");
    return TCL_ERROR;
  }
  if (record->depth != Tk_Depth(tkwin)) {
    char text[120];
    snprintf(text, sizeof text, "pixmap: image was built for depth %d, canvas depth is %d",
             record->depth, Tk_Depth(tkwin));
    Tcl_SetResult(interp, text, TCL_VOLATILE);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// Builds the record's pixmap if need be and makes it the item's image; the
// item keeps the image it had when that fails.
int showRecord(Tcl_Interp *interp, Tk_Canvas canvas, PixmapItem *item, PixmapRecord *record) {
  if (create_pixmap(record, interp, canvas) != TCL_OK) {
    Tcl_AppendResult(interp, " create_pixmap error", nullptr);
    return TCL_ERROR;
  }
  if (checkShowable(interp, canvas, record) != TCL_OK) return TCL_ERROR;
  item->record = record;
  return TCL_OK;
}

void DeletePixmapItem(Tk_Canvas, Tk_Item *, Display *) {
  // The image, its pixmap and its GC are shared and live on.
}

int ConfigurePixmapItem(Tcl_Interp *interp, Tk_Canvas canvas, Tk_Item *itemPtr, Tcl_Size objc,
                        Tcl_Obj *const objv[], int flags) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);

  // Option words go by pairs; "-pixmap" pairs are the item's own, the rest
  // go to the option table.
  Tcl_Obj **tableWords =
      static_cast<Tcl_Obj **>(malloc(sizeof(Tcl_Obj *) * static_cast<size_t>(objc + 1)));
  if (tableWords == nullptr) {
    setResult(interp, "pixmap: malloc() error");
    return TCL_ERROR;
  }
  Tcl_Size tableCount = 0;
  for (Tcl_Size i = 0; i < objc; i += 2) {
    if (strcmp(Tcl_GetString(objv[i]), kPixmapOption) == 0) continue;
    tableWords[tableCount++] = objv[i];
    if (i + 1 < objc) tableWords[tableCount++] = objv[i + 1];
  }
  tableWords[tableCount] = nullptr;
  int status = configureFromTable(interp, Tk_CanvasTkwin(canvas), pixmapConfigSpecs, tableCount,
                                  tableWords, item, flags);
  free(tableWords);
  if (status != TCL_OK) return TCL_ERROR;

  for (Tcl_Size i = 0; i < objc; i += 2) {
    if (strcmp(Tcl_GetString(objv[i]), kPixmapOption) != 0) continue;
    if (i + 1 >= objc) {
      Tcl_AppendResult(interp, "Need argument for -pixmap", nullptr);
      return TCL_ERROR;
    }
    PixmapRecord *record = lookUpRecord(interp, Tcl_GetString(objv[i + 1]));
    if (record == nullptr) return TCL_ERROR;
    if (showRecord(interp, canvas, item, record) != TCL_OK) return TCL_ERROR;
  }
  ComputePixmapItemBbox(canvas, item);
  return TCL_OK;
}

int CreatePixmapItem(Tcl_Interp *interp, Tk_Canvas canvas, Tk_Item *itemPtr, Tcl_Size objc,
                     Tcl_Obj *const objv[]) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  item->record = nullptr;
  item->anchor = TK_ANCHOR_NW;
  item->x = 0.0;
  item->y = 0.0;
  if (objc < 3) {
    Tcl_AppendResult(interp, "wrong # args: should be \"", Tk_PathName(Tk_CanvasTkwin(canvas)),
                     " create ", itemPtr->typePtr->name, " pixmap_handle x y ?options?\"",
                     nullptr);
    return TCL_ERROR;
  }
  PixmapRecord *record = lookUpRecord(interp, Tcl_GetString(objv[0]));
  if (record == nullptr) return TCL_ERROR;
  // The pixmap is built before the coordinates are read.
  if (showRecord(interp, canvas, item, record) != TCL_OK) return TCL_ERROR;

  item->anchor = TK_ANCHOR_NW;
  // The string reader: the object one takes words such as "1i+" that the
  // item has always refused.
  if (Tk_CanvasGetCoord(interp, canvas, Tcl_GetString(objv[1]), &item->x) != TCL_OK ||
      Tk_CanvasGetCoord(interp, canvas, Tcl_GetString(objv[2]), &item->y) != TCL_OK)
    return TCL_ERROR;
  if (ConfigurePixmapItem(interp, canvas, itemPtr, objc - 3, objv + 3, 0) != TCL_OK) {
    DeletePixmapItem(canvas, itemPtr, item->record->display);
    return TCL_ERROR;
  }
  return TCL_OK;
}

// The item has no coordinates to report and cannot be moved through them.
int PixmapItemCoords(Tcl_Interp *, Tk_Canvas, Tk_Item *, Tcl_Size, Tcl_Obj *const[]) {
  return TCL_OK;
}

void DisplayPixmapItem(Tk_Canvas canvas, Tk_Item *itemPtr, Display *display, Drawable drawable,
                       int x, int y, int width, int height) {
  auto *item = reinterpret_cast<PixmapItem *>(itemPtr);
  const PixmapRecord *record = item->record;
  const XlibFunctions *x11 = resolvedXlib();
  // Never drawn without a pixmap made for this display.
  if (record == nullptr || record->pixmap == kNoPixmap || record->gc == nullptr ||
      record->display != display || x11 == nullptr)
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
  x11->CopyArea(display, record->pixmap, drawable, record->gc, sourceColumn, sourceRow,
                static_cast<unsigned>(copyWidth), static_cast<unsigned>(copyHeight), drawableX,
                drawableY);
}

// Any point the canvas asks about (only near the box) lies on the item.
double PixmapItemToPoint(Tk_Canvas, Tk_Item *, double *) { return 0.0; }

// The item counts as wholly inside any area the canvas asks about.
int PixmapItemToArea(Tk_Canvas, Tk_Item *, double *) { return 1; }

void ScalePixmapItem(Tk_Canvas, Tk_Item *, double, double, double, double) {}

void TranslatePixmapItem(Tk_Canvas, Tk_Item *, double, double) {}

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
    nullptr,                   // PostScript
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

bool itemTypeRegistered = false;

}  // namespace

void registerItemTypeIfTk(Tcl_Interp *interp) {
  if (itemTypeRegistered) return;
  // Tk_InitStubs would load Tk if it were missing; only look for it.
  Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
  bool haveTk = Tcl_PkgPresent(interp, "Tk", nullptr, 0) != nullptr &&
                Tk_InitStubs(interp, "8.6-10", 0) != nullptr;
  Tcl_RestoreInterpState(interp, saved);
  if (!haveTk) return;
  pixmapTagsOption.parseProc = Tk_CanvasTagsParseProc;
  pixmapTagsOption.printProc = Tk_CanvasTagsPrintProc;
  Tk_CreateItemType(&pixmapItemType);
  itemTypeRegistered = true;
}

}  // namespace tkpixmap
