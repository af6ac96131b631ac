// xdisplay_bench.cc - one image shown by 1,000 canvas items, against Tk's
// photo images shown by canvas image items: the same GIF file, canvases of
// the same size and depth, measured in the same run, in wall time until the
// server has drawn everything (XSync).
//   display/create/d<depth>/<peer>   load the file, create 1,000 items, draw
//   display/redraw/d<depth>/<peer>   redraw the whole canvas with its items
//   display/redraw-transparent/d<depth>/<peer>   the same with an image whose
//       file marks one of its 120 colours transparent, shown by pixmap
//       items with -transparent 1 (photo items always leave such pixels out)
// <peer> is pixmap (our item) or photo (image create photo + create image).
// The shipped library is measured, loaded as a Tk application would.
// The servers: see x11_harness.h.

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <tcl.h>
#include <tk.h>

#include <string>

#include "bench/suite_main.h"
#include "bench/x11_harness.h"

namespace {

constexpr int kItems = 1000;
constexpr int kImageWidth = 100;
constexpr int kImageHeight = 75;
constexpr int kCanvasWidth = 800;
constexpr int kCanvasHeight = 600;

// Both peers run the same Tcl loop, byte-compiled, placing items over the
// whole canvas.
const char kProcs[] = R"(
proc xbench_place {i} {
    list [expr {($i * 37) % 700}] [expr {($i * 53) % 525}]
}
proc xbench_show_pixmap {c file n args} {
    set image [pixmap create $file]
    for {set i 0} {$i < $n} {incr i} {
        $c create pixmap $image {*}[xbench_place $i] {*}$args
    }
    update idletasks
    return $image
}
# (photo items take no options: they always show transparency)
proc xbench_show_photo {c file n args} {
    set image [image create photo -file $file]
    for {set i 0} {$i < $n} {incr i} {
        $c create image {*}[xbench_place $i] -image $image -anchor nw
    }
    update idletasks
    return $image
}
proc xbench_clear {c image} {
    $c delete all
    xbench_free $image
    update
}
proc xbench_redraw {c} {
    $c configure -background [expr {[$c cget -background] eq "#102030" ? "#203040" : "#102030"}]
    update idletasks
}
)";

const std::string &imageFile(bool transparent = false) {
  static const std::string opaque = xbench::plasmaFile(kImageWidth, kImageHeight, 120);
  static const std::string clear = xbench::plasmaFile(kImageWidth, kImageHeight, 120, 7);
  return transparent ? clear : opaque;
}

// Each peer draws on a canvas of its own (on 8-bit screens each with its own
// colour map, so neither takes cells from the other), raised to the top.
std::string canvasFor(benchmark::State &state, int depth, const char *peer) {
  return xbench::peerCanvas(state, kProcs, depth, kCanvasWidth, kCanvasHeight, peer);
}

void create(benchmark::State &state, int depth, bool photo) {
  const char *peer = photo ? "photo" : "pixmap";
  const std::string c = canvasFor(state, depth, peer);
  if (c.empty()) return;
  xbench::timeShows(state, c,
                    std::string("xbench_show_") + peer + " " + c + " " + imageFile() + " " +
                        std::to_string(kItems),
                    "xbench_clear");
  state.SetItemsProcessed(state.iterations() * kItems);
}

void redraw(benchmark::State &state, int depth, bool photo, bool transparent) {
  const char *peer = photo ? "photo" : "pixmap";
  const std::string c = canvasFor(state, depth, peer);
  if (c.empty()) return;
  Display *display = xbench::displayOf(c);
  std::string image = xbench::eval(std::string("xbench_show_") + peer + " " + c + " " +
                                   imageFile(transparent) + " " + std::to_string(kItems) +
                                   (transparent ? " -transparent 1" : ""));
  XSync(display, False);
  const std::string again = "xbench_redraw " + c;
  for (auto _ : state) {
    xbench::eval(again);
    XSync(display, False);
  }
  xbench::eval("xbench_clear " + c + " {" + image + "}");
  state.SetItemsProcessed(state.iterations() * kItems);
}

}  // namespace

void bench::registerSuite() {
  for (int depth : xbench::allDepths()) {
    const std::string d = "/d" + std::to_string(depth);
    for (bool photo : {false, true}) {
      const std::string peer = photo ? "/photo" : "/pixmap";
      benchmark::RegisterBenchmark(("display/create" + d + peer).c_str(), create, depth, photo)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
    for (bool transparent : {false, true}) {
      for (bool photo : {false, true}) {
        const std::string name = std::string(transparent ? "display/redraw-transparent"
                                                         : "display/redraw") +
                                 d + (photo ? "/photo" : "/pixmap");
        benchmark::RegisterBenchmark(name.c_str(), redraw, depth, photo, transparent)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
}
