// xicons_bench.cc - an application's icons end to end: 500 distinct small
// GIF files (16 to 64 pixels a side, 4 to 256 colours, a third with a
// transparent colour) each loaded and shown by one canvas item, against Tk's
// photo images, on canvases of the same depth, measured in the same run in
// wall time until the server has drawn everything (XSync).
//   icons/d<depth>/<peer>   load every file, create its item, draw
// <peer> is pixmap (pixmap create + pixmap item) or photo (image create
// photo -file + image item).  Between runs, untimed, each peer's items and
// images are deleted, so that neither server fills up with earlier runs'
// pixmaps.
// The servers: see x11_harness.h.

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <tcl.h>
#include <tk.h>

#include <random>
#include <string>
#include <vector>

#include "bench/suite_main.h"
#include "bench/x11_harness.h"

namespace {

constexpr int kIcons = 500;

const char kProcs[] = R"(
proc xicons_show_pixmap {c files} {
    set i 0
    set images {}
    foreach f $files {
        set image [pixmap create $f]
        $c create pixmap $image [expr {($i * 37) % 740}] [expr {($i * 53) % 540}]
        lappend images $image
        incr i
    }
    update idletasks
    return $images
}
proc xicons_show_photo {c files} {
    set i 0
    set images {}
    foreach f $files {
        set image [image create photo -file $f]
        $c create image [expr {($i * 37) % 740}] [expr {($i * 53) % 540}] -image $image -anchor nw
        lappend images $image
        incr i
    }
    update idletasks
    return $images
}
proc xicons_clear {c images} {
    $c delete all
    xbench_free $images
    update
}
)";

// The icons, written once under /tmp and removed at exit.
const std::string &iconList() {
  static const std::string list = [] {
    static std::vector<std::string> files;
    atexit([] {
      for (const std::string &f : files) remove(f.c_str());
    });
    std::mt19937 random(20261208);
    std::string names;
    for (int n = 0; n < kIcons; ++n) {
      int width = 16 + int(random() % 49), height = 16 + int(random() % 49);
      int colours = 4 << (random() % 7);  // 4 to 256
      xbench::Plasma p = xbench::plasma(width, height, colours);
      // Each icon its own: the field shifted by a per-icon offset.
      for (int &index : p.indices) index = (index + n) % colours;
      int transparent = n % 3 == 0 ? int(random() % unsigned(colours)) : -1;
      tkpixmap::testing::Bytes bytes = tkpixmap::testing::encodeGif(
          width, height, p.palette, p.indices, false, transparent);
      char name[] = "/tmp/xicons_XXXXXX";
      int fd = mkstemp(name);
      if (fd < 0) xbench::die("mkstemp failed");
      FILE *out = fdopen(fd, "wb");
      fwrite(bytes.data(), 1, bytes.size(), out);
      fclose(out);
      files.push_back(name);
      names += std::string(" ") + name;
    }
    return "{" + names + "}";
  }();
  return list;
}

void icons(benchmark::State &state, int depth, bool photo) {
  const char *peer = photo ? "photo" : "pixmap";
  const std::string c =
      xbench::peerCanvas(state, kProcs, depth, 800, 600, std::string("icons") + peer);
  if (c.empty()) return;
  xbench::timeShows(state, c, std::string("xicons_show_") + peer + " " + c + " " + iconList(),
                    "xicons_clear");
  state.SetItemsProcessed(state.iterations() * kIcons);
}

}  // namespace

void bench::registerSuite() {
  for (int depth : {16, 24, 32}) {
    for (bool photo : {false, true}) {
      benchmark::RegisterBenchmark(("icons/d" + std::to_string(depth) + (photo ? "/photo" : "/pixmap"))
                                       .c_str(),
                                   icons, depth, photo)
          ->UseRealTime()
          ->Iterations(8)
          ->Unit(benchmark::kMillisecond);
    }
  }
}
