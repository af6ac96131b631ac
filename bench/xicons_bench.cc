// xicons_bench.cc - an application's icons end to end: 500 distinct small
// GIF files (16 to 64 pixels a side, 4 to 256 colours, a third with a
// transparent colour) each loaded and shown by one canvas item, against Tk's
// photo images, on canvases of the same depth, measured in the same run in
// wall time until the server has drawn everything (XSync).
//   icons/d<depth>/<peer>   load every file, create its item, draw
// <peer> is pixmap (pixmap create + pixmap item) or photo (image create
// photo -file + image item).  Between runs, untimed, each peer's items and
// images are deleted, so that neither server fills up with earlier runs'
// pixmaps.  And animations:
//   frames/<peer>           every frame of a 100-frame animation: pixmap
//                           frames (one pass) or, as Tk's photo images must,
//                           image create photo -format {gif -index N} per frame
//   animate/<peer>          100 animations of 25 frames a second playing on one
//                           canvas for 2 s: the process's CPU time over the
//                           wall time (counter cpu_share); gifpixmap images
//                           with -animate, or photo frames swapped into
//                           canvas image items by an after loop each
// And icons where most of them live, in widgets:
//   widgets/<kind>/<peer>   2,000 distinct 48x48 GIF files, each made an
//                           image of type <peer> (gifpixmap or photo) and
//                           shown in a ttk::treeview row (<kind> treeview) or
//                           a button of its own (buttons), until the server
//                           has drawn the first screen; each run in a fresh
//                           process (this program started again), which
//                           also reports how much its resident memory grew
//                           (counter rss_growth_mb)
//   widgets/sharedbuttons/photo  the same buttons all showing one photo
//                           image: what the buttons themselves cost, which
//                           no image type can take away
// The servers: see x11_harness.h.

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <tcl.h>
#include <tk.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
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
proc xicons_frames_pixmap {c file} {
    pixmap frames $file
}
proc xicons_frames_photo {c file} {
    set images {}
    for {set i 0} {![catch {image create photo -file $file -format "gif -index $i"} image]} {incr i} {
        lappend images $image
    }
    return $images
}
proc xicons_animate_pixmap {c file n} {
    for {set i 0} {$i < $n} {incr i} {
        set image [image create gifpixmap -file $file -animate 1]
        $c create image [expr {($i % 10) * 70 + 10}] [expr {($i / 10) * 55 + 10}] -image $image -anchor nw
    }
}
# How a script animates with photo images: every frame decoded ahead, then
# an after loop per animation that swaps them into its item.
proc xicons_animate_photo {c file n} {
    set frames [xicons_frames_photo $c $file]
    for {set i 0} {$i < $n} {incr i} {
        set item [$c create image [expr {($i % 10) * 70 + 10}] [expr {($i / 10) * 55 + 10}] -anchor nw]
        xicons_step $c $item $frames 0
    }
}
proc xicons_step {c item frames k} {
    if {![winfo exists $c]} return
    $c itemconfigure $item -image [lindex $frames $k]
    after 40 [list xicons_step $c $item $frames [expr {($k + 1) % [llength $frames]}]]
}
proc xicons_clear {c images} {
    $c delete all
    xbench_free $images
    update
}
# Widgets of every icon, made the same way for either image type.
proc xicons_widgets_treeview {top type files} {
    ttk::style configure Icons.Treeview -rowheight 50
    set tree [ttk::treeview $top.tree -style Icons.Treeview -show tree -height 11]
    pack $tree
    foreach f $files {
        $tree insert {} end -image [image create $type -file $f] -text [file tail $f]
    }
}
proc xicons_widgets_buttons {top type files} {
    set images {}
    foreach f $files { lappend images [image create $type -file $f] }
    xicons_button_grid $top $images
}
# The buttons' own cost: as many, all showing the first icon.
proc xicons_widgets_sharedbuttons {top type files} {
    set image [image create $type -file [lindex $files 0]]
    xicons_button_grid $top [lrepeat [llength $files] $image]
}
proc xicons_button_grid {top images} {
    set i 0
    foreach image $images {
        button $top.b$i -image $image -borderwidth 0 -highlightthickness 0 -padx 0 -pady 0
        grid $top.b$i -row [expr {$i / 40}] -column [expr {$i % 40}]
        incr i
    }
}
)";

// The icons, written once under /tmp and removed at exit.
const std::string &iconList() {
  static const std::string list = [] {
    std::mt19937 random(20261208);
    std::string names;
    for (int n = 0; n < kIcons; ++n) {
      int width = 16 + int(random() % 49), height = 16 + int(random() % 49);
      int colours = 4 << (random() % 7);  // 4 to 256
      xbench::Plasma p = xbench::plasma(width, height, colours);
      // Each icon its own: the field shifted by a per-icon offset.
      for (int &index : p.indices) index = (index + n) % colours;
      int transparent = n % 3 == 0 ? int(random() % unsigned(colours)) : -1;
      names += " " + xbench::tempFile(tkpixmap::testing::encodeGif(
                         width, height, p.palette, p.indices, false, transparent));
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

// An animation of `count` frames of 60 x 45 pixels, 40 ms each, looping for
// ever: a plasma moving across the frame, as real animations change.
const std::string &animationFile(int count) {
  static std::map<int, std::string> files;
  std::string &name = files[count];
  if (!name.empty()) return name;
  std::vector<tkpixmap::testing::FrameSpec> frames;
  xbench::Plasma p = xbench::plasma(60, 45, 64);
  for (int f = 0; f < count; ++f) {
    tkpixmap::testing::FrameSpec frame;
    frame.width = 60;
    frame.height = 45;
    frame.delay = 4;
    for (int index : p.indices) frame.indices.push_back((index + f) % 64);
    frames.push_back(frame);
  }
  name = xbench::tempFile(tkpixmap::testing::encodeAnimation(60, 45, p.palette, frames, 0));
  return name;
}

void allFrames(benchmark::State &state, bool photo) {
  const char *peer = photo ? "photo" : "pixmap";
  const std::string c = xbench::peerCanvas(state, kProcs, 24, 200, 150, std::string("frames") + peer);
  if (c.empty()) return;
  xbench::timeShows(state, c, std::string("xicons_frames_") + peer + " " + c + " " + animationFile(100),
                    "xicons_clear");
  state.SetItemsProcessed(state.iterations() * 100);
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The client's share of one core while 100 animations play for 2 s (the
// start, loading and first cycle, is not counted).
void animate(benchmark::State &state, bool photo) {
  const char *peer = photo ? "photo" : "pixmap";
  const std::string c = xbench::peerCanvas(state, kProcs, 24, 720, 580, std::string("animate") + peer);
  if (c.empty()) return;
  double share = 0;
  for (auto _ : state) {
    xbench::eval(std::string("xicons_animate_") + peer + " " + c + " " + animationFile(25) + " 100");
    xbench::eval("after 1000 {set ::xicons_done 1}; vwait ::xicons_done");  // the first cycle
    const double cpu = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    xbench::eval("after 2000 {set ::xicons_done 1}; vwait ::xicons_done");
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    share = (cpuSeconds() - cpu) / wall;
    state.SetIterationTime(share);  // the figure compared: CPU per second of play
    state.PauseTiming();
    xbench::eval("foreach id [after info] {after cancel $id}; " + c + " delete all; " +
                 "xbench_free [lsearch -all -inline -not [image names] ::tk::*]; update");
    state.ResumeTiming();
  }
  state.counters["cpu_share"] = share;
}

constexpr int kWidgetIcons = 2000;

// The widgets' icons, written once; a file naming them, one a line.
const std::string &widgetIconList() {
  static const std::string list = [] {
    std::mt19937 random(20261210);
    std::string names;
    for (int n = 0; n < kWidgetIcons; ++n) {
      int colours = 4 << (random() % 5);  // 4 to 64
      xbench::Plasma p = xbench::plasma(48, 48, colours);
      for (int &index : p.indices) index = (index + n) % colours;
      int transparent = n % 3 == 0 ? int(random() % unsigned(colours)) : -1;
      names += xbench::tempFile(tkpixmap::testing::encodeGif(48, 48, p.palette, p.indices, false,
                                                             transparent)) +
               "\n";
    }
    std::string path = xbench::tempFile(tkpixmap::testing::Bytes(names.begin(), names.end()));
    return path;
  }();
  return list;
}

long residentKb() {
  std::ifstream status("/proc/self/status");
  std::string field;
  long kb = 0;
  while (status >> field)
    if (field == "VmRSS:" && status >> kb) break;
  return kb;
}

// What the child started by `widgets` does: show every icon in a fresh
// process and print the seconds until the server has drawn them, then the
// growth of its resident memory in kB.
const char kChildVariable[] = "XICONS_WIDGETS_CHILD";

[[noreturn]] void widgetsChild(const std::string &kind, const std::string &type,
                               const std::string &list) {
  xbench::eval(kProcs);
  xbench::eval("toplevel .w; wm geometry .w +0+0; update");
  xbench::eval("set f [open {" + list + "}]; set ::xicons_files [split [string trim [read $f]] \\n]; "
               "close $f");
  Display *display = xbench::displayOf(".w");
  XSync(display, False);
  const long before = residentKb();
  const auto start = std::chrono::steady_clock::now();
  xbench::eval("xicons_widgets_" + kind + " .w " + type + " $::xicons_files; update");
  XSync(display, False);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("%.6f %ld\n", seconds, residentKb() - before);
  fflush(stdout);
  _exit(0);
}

void widgets(benchmark::State &state, const std::string &kind, const std::string &type) {
  if (xbench::displayFor(24).empty() && getenv("DISPLAY") == nullptr) {
    state.SkipWithError("no 24-bit server");
    return;
  }
  const std::string command = std::string(kChildVariable) + "='" + kind + " " + type + " " +
                              widgetIconList() + "' /proc/" + std::to_string(getpid()) + "/exe";
  double growthMb = 0;  // summed over the runs
  for (auto _ : state) {
    FILE *child = popen(command.c_str(), "r");
    double seconds = -1;
    long kb = 0;
    if (child == nullptr || fscanf(child, "%lf %ld", &seconds, &kb) != 2 || pclose(child) != 0 ||
        seconds < 0) {
      state.SkipWithError("the child showing the icons failed");
      return;
    }
    state.SetIterationTime(seconds);
    growthMb += double(kb) / 1024;
  }
  state.counters["rss_growth_mb"] = benchmark::Counter(growthMb, benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations() * kWidgetIcons);
}

}  // namespace

void bench::registerSuite() {
  if (const char *child = getenv(kChildVariable)) {
    char kind[32], type[32], list[4096];
    if (sscanf(child, "%31s %31s %4095s", kind, type, list) != 3) xbench::die("bad child request");
    widgetsChild(kind, type, list);
  }
  for (const char *kind : {"treeview", "buttons", "sharedbuttons"}) {
    for (const char *type : {"gifpixmap", "photo"}) {
      if (kind == std::string("sharedbuttons") && type == std::string("gifpixmap")) continue;
      benchmark::RegisterBenchmark((std::string("widgets/") + kind + "/" + type).c_str(), widgets,
                                   std::string(kind), std::string(type))
          ->UseManualTime()
          ->Iterations(3)
          ->Unit(benchmark::kMillisecond);
    }
  }
  for (bool photo : {false, true}) {
    benchmark::RegisterBenchmark(photo ? "frames/photo" : "frames/pixmap", allFrames, photo)
        ->UseRealTime()
        ->Iterations(photo ? 2 : 10)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(photo ? "animate/photo" : "animate/pixmap", animate, photo)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
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
