// x11_harness.h - what the X benchmarks share: a Tcl interpreter with Tk and
// the Pixmap package, canvases on the X servers of each screen kind, and the
// photo-like test images they show.
//
// The servers are the ones scripts/xvfb.sh starts: TKPIXMAP_XVFB_STATE names
// its state folder (d8.display, d16.display, d24.display hold the display
// numbers).  Without it only $DISPLAY is used, for the kind its depth gives.
// A 32-bit canvas is a "truecolor 32" window on the 24-bit server.
#pragma once

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <tcl.h>
#include <tk.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/plasma.h"
#include "tests/support/gif_writer.h"
#include "tkpixmap.h"

namespace xbench {

// Screen kinds by the depth of the canvas they give.
inline const std::vector<int> &allDepths() {
  static const std::vector<int> depths = {8, 16, 24, 32};
  return depths;
}

inline std::string readDisplayFile(const std::string &state, const char *kind) {
  std::ifstream in(state + "/" + kind + ".display");
  std::string number;
  if (!(in >> number)) return {};
  return ":" + number + ".0";
}

// Display name for a depth, or empty when no server offers it.
inline std::string displayFor(int depth) {
  const char *state = getenv("TKPIXMAP_XVFB_STATE");
  if (state != nullptr) {
    switch (depth) {
      case 8: return readDisplayFile(state, "d8");
      case 16: return readDisplayFile(state, "d16");
      case 24:
      case 32: return readDisplayFile(state, "d24");
      default: return {};
    }
  }
  return {};
}

inline void die(const std::string &what) {
  fprintf(stderr, "%s\n", what.c_str());
  exit(1);
}

// The interpreter: Tk's main window on the 24-bit server (or $DISPLAY),
// withdrawn; the Pixmap package initialised.
inline Tcl_Interp *interp() {
  static Tcl_Interp *interpreter = [] {
    std::string main = displayFor(24);
    if (!main.empty()) setenv("DISPLAY", main.c_str(), 1);
    Tcl_FindExecutable(nullptr);
    Tcl_Interp *i = Tcl_CreateInterp();
    if (Tcl_Init(i) != TCL_OK || Tk_Init(i) != TCL_OK)
      die(std::string("Tk: ") + Tcl_GetStringResult(i));
    if (Pixmap_Init(i) != TCL_OK) die(std::string("Pixmap: ") + Tcl_GetStringResult(i));
    Tcl_Eval(i, "wm withdraw .");
    // What the suites' clear steps call to delete the images a shown
    // script returned, pixmaps and photos alike.
    Tcl_Eval(i, R"(proc xbench_free {images} {
        foreach image $images {
            if {[string match pixmap* $image]} { pixmap delete $image } else { image delete $image }
        }
    })");
    return i;
  }();
  return interpreter;
}

inline std::string eval(const std::string &script) {
  Tcl_Interp *i = interp();
  if (Tcl_Eval(i, script.c_str()) != TCL_OK)
    die("Tcl error in {" + script + "}: " + Tcl_GetStringResult(i));
  return Tcl_GetStringResult(i);
}

// A canvas of the given size on a server of the given depth, drawn once;
// its path name, or empty when there is no such server.  Callers that want
// canvases of their own pass distinct tags.  8-bit canvases get a colour map
// of their own, so that what one takes does not crowd out another.
inline std::string canvasFor(int depth, int width, int height, const std::string &tag = "") {
  static std::map<std::string, std::string> made;
  std::string display = displayFor(depth);
  if (display.empty()) {
    // No state folder: only the depth $DISPLAY has.
    if (getenv("TKPIXMAP_XVFB_STATE") != nullptr) return {};
    interp();
    if (std::stoi(eval("winfo depth .")) != (depth == 32 ? 24 : depth)) return {};
    display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  }
  std::ostringstream key;
  key << depth << "x" << width << "x" << height << tag;
  if (made.count(key.str())) return made[key.str()];
  std::string top = ".d" + key.str();
  std::string options = "-screen " + display;
  if (depth == 32) {
    interp();
    eval("toplevel " + top + "probe -screen " + display);
    bool has32 = std::stoi(eval("expr {\"truecolor 32\" in [winfo visualsavailable " + top +
                                "probe]}")) != 0;
    eval("destroy " + top + "probe");
    if (!has32) return {};
    options += " -visual {truecolor 32}";
  }
  if (depth == 8) options += " -colormap new";
  eval("toplevel " + top + " " + options);
  eval("wm geometry " + top + " +0+0");
  std::string c = top + ".c";
  eval("canvas " + c + " -width " + std::to_string(width) + " -height " + std::to_string(height) +
       " -highlightthickness 0 -borderwidth 0 -background #102030");
  eval("pack " + c);
  eval("update");
  if (std::stoi(eval("winfo depth " + c)) != depth) die("canvas " + c + " is not " + key.str());
  made[key.str()] = c;
  return c;
}

// The X display a canvas window lives on.
inline Display *displayOf(const std::string &canvas) {
  Tk_Window tkwin = Tk_NameToWindow(interp(), canvas.c_str(), Tk_MainWindow(interp()));
  if (tkwin == nullptr) die("no window " + canvas);
  return Tk_Display(tkwin);
}

// A peer's canvas (canvasFor, tagged with the peer's name) raised to the
// top, after `procs`, a suite's Tcl procedures, have been defined once; or
// empty, with the benchmark marked skipped, when no server has the depth.
inline std::string peerCanvas(benchmark::State &state, const char *procs, int depth, int width,
                              int height, const std::string &peer) {
  static std::map<const char *, bool> defined;
  if (!defined[procs]) {
    eval(procs);
    defined[procs] = true;
  }
  std::string c = canvasFor(depth, width, height, peer);
  if (c.empty()) {
    state.SkipWithError(("no server for depth " + std::to_string(depth)).c_str());
    return c;
  }
  eval("raise [winfo toplevel " + c + "]; update");
  return c;
}

// Times `show`, a script that draws on `canvas` and returns what it made,
// until the server has drawn everything (XSync); then, untimed, `clear` is
// called with the canvas and that result, and the server waited for again.
inline void timeShows(benchmark::State &state, const std::string &canvas, const std::string &show,
                      const std::string &clear) {
  Display *display = displayOf(canvas);
  for (auto _ : state) {
    const std::string made = eval(show);
    XSync(display, False);
    state.PauseTiming();
    eval(clear + " " + canvas + " {" + made + "}");
    XSync(display, False);
    state.ResumeTiming();
  }
}

// A smooth plasma in `colours` colours (at most 128 fit an 8-bit
// PseudoColor build), with a little grain so that runs stay short, as in a
// photograph reduced to a small palette.
struct Plasma {
  std::vector<tkpixmap::testing::Rgb> palette;
  std::vector<int> indices;  // rows top to bottom
};

inline Plasma plasma(int width, int height, int colours) {
  Plasma p;
  for (int i = 0; i < colours; ++i) {
    double t = i * (6.2831853 / colours);
    p.palette.push_back({uint8_t(128 + 127 * std::sin(t)), uint8_t(128 + 127 * std::sin(t + 2.1)),
                         uint8_t(128 + 127 * std::sin(t + 4.2))});
  }
  // A grain of 4 levels.
  p.indices = bench::plasmaLevels(width, height, colours / 8.0, 4);
  for (int &index : p.indices) index = ((index % colours) + colours) % colours;
  return p;
}

// The same plasma as the reader delivers it: RGBA, 4 bytes per pixel.
inline std::vector<unsigned char> plasmaRgba(int width, int height, int colours) {
  Plasma p = plasma(width, height, colours);
  std::vector<unsigned char> rgba(p.indices.size() * 4);
  for (size_t i = 0; i < p.indices.size(); ++i) {
    const tkpixmap::testing::Rgb &c = p.palette[size_t(p.indices[i])];
    rgba[4 * i] = c.r;
    rgba[4 * i + 1] = c.g;
    rgba[4 * i + 2] = c.b;
    rgba[4 * i + 3] = 255;
  }
  return rgba;
}

// transparent: a palette index the file marks transparent, or -1.
inline tkpixmap::testing::Bytes plasmaGif(int width, int height, int colours,
                                          int transparent = -1) {
  Plasma p = plasma(width, height, colours);
  return tkpixmap::testing::encodeGif(width, height, p.palette, p.indices, false, transparent);
}

// Bytes written to a file under /tmp (the pixmap command and Tk's photo
// images read files), removed at exit; its path.
inline std::string tempFile(const tkpixmap::testing::Bytes &bytes) {
  static std::vector<std::string> files;
  static bool registered = false;
  if (!registered) {
    registered = true;
    atexit([] {
      for (const std::string &f : files) remove(f.c_str());
    });
  }
  char name[] = "/tmp/xbench_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) die("mkstemp failed");
  FILE *out = fdopen(fd, "wb");
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
  files.push_back(name);
  return name;
}

// The plasma written to such a file.
inline std::string plasmaFile(int width, int height, int colours, int transparent = -1) {
  return tempFile(plasmaGif(width, height, colours, transparent));
}

}  // namespace xbench
