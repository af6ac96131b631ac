// xbuild_bench.cc - building an image's X server pixmap (create_pixmap) on
// canvases 8, 16, 24 and 32 bits deep, for images up to 2000x1500, against
// two floors measured in the same run:
//   xbuild/<size>/d<depth>     the build as a canvas item's creation runs it,
//                              until the server has the pixmap (XSync);
//   colours/<size>/in_turn     the colour-map cells an 8-bit build of the
//   colours/<size>/pipelined   image asks for, taken one XAllocColor round
//                              trip at a time, and all requests sent before
//                              the replies are read (what the build does);
//   xbuild/<size>/putimage     the bare transfer of an already packed 32-bit
//                              image into a new pixmap (what no build can beat);
//   pack/<size>/<layout>       the X-free packing alone (pseudo8: number the
//                              pixels, order the colours, fill in the cells;
//                              true16, true24);
//   pack/<size>/memcpy         copying the same RGBA bytes.
// The images are a 120-colour plasma, so that the 8-bit PseudoColor build
// (at most 128 colours) takes the same image as the others.
//
// Each build is of a freshly loaded image (loaded, and deleted after, with
// the timer stopped): a loaded image keeps what was built for it while it
// lives.  The servers: see x11_harness.h.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>
#include <tcl.h>
#include <tk.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/suite_main.h"
#include "bench/x11_harness.h"
#include "byteorder.h"
#include "tkpixmap/x11/colours.h"
#include "tkpixmap/x11/pack.h"

namespace {

constexpr int kColours = 120;

struct Size {
  int width, height;
  std::string name() const { return std::to_string(width) + "x" + std::to_string(height); }
};
const Size kSizes[] = {{320, 240}, {1000, 750}, {2000, 1500}};

// The colour requests an 8-bit build of the image makes, one per distinct
// colour, as the build makes them.
std::vector<XColor> colourRequests(Size size) {
  xbench::Plasma plasma = xbench::plasma(size.width, size.height, kColours);
  std::vector<bool> used(plasma.palette.size());
  for (int index : plasma.indices) used[size_t(index)] = true;
  std::vector<XColor> requests;
  for (size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) continue;
    XColor request{};
    request.red = tkpixmap::pack::colourRequest(plasma.palette[i].r);
    request.green = tkpixmap::pack::colourRequest(plasma.palette[i].g);
    request.blue = tkpixmap::pack::colourRequest(plasma.palette[i].b);
    request.flags = DoRed | DoGreen | DoBlue;
    requests.push_back(request);
  }
  return requests;
}

void buildOnCanvas(benchmark::State &state, Size size, int depth) {
  std::string canvas = xbench::canvasFor(depth, 200, 150);
  if (canvas.empty()) {
    state.SkipWithError(("no server for depth " + std::to_string(depth)).c_str());
    return;
  }
  Display *display = xbench::displayOf(canvas);
  const std::string file = xbench::plasmaFile(size.width, size.height, kColours);
  for (auto _ : state) {
    state.PauseTiming();
    const std::string handle = xbench::eval("pixmap create " + file);
    XSync(display, False);
    state.ResumeTiming();
    xbench::eval(canvas + " create pixmap " + handle + " 0 0");
    XSync(display, False);  // the server has the pixels
    state.PauseTiming();
    if (xbench::eval(canvas + " find all").empty()) {
      state.SkipWithError("the image was not built");
      break;
    }
    xbench::eval(canvas + " delete all; pixmap delete " + handle);
    XSync(display, False);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * size.width * size.height);
}

// The window of a canvas on the server of that depth, or null (the
// benchmark skipped) when there is none.
Tk_Window canvasWindow(benchmark::State &state, int depth) {
  std::string canvas = xbench::canvasFor(depth, 200, 150);
  if (canvas.empty()) {
    state.SkipWithError(("no server for depth " + std::to_string(depth)).c_str());
    return nullptr;
  }
  return Tk_NameToWindow(xbench::interp(), canvas.c_str(), Tk_MainWindow(xbench::interp()));
}

// The 8-bit build's colour cells alone, on the canvas's colour map.  The
// cells are shared read-only ones, so taking them again and again only
// raises their reference counts.
void takeColours(benchmark::State &state, Size size, bool pipelined) {
  Tk_Window tkwin = canvasWindow(state, 8);
  if (tkwin == nullptr) return;
  Display *display = Tk_Display(tkwin);
  const std::vector<XColor> requests = colourRequests(size);
  std::vector<unsigned long> pixels(requests.size());
  const tkpixmap::colours::PipelineCalls *calls = tkpixmap::colours::pipelineCalls();
  if (pipelined && calls == nullptr) {
    state.SkipWithError("libX11 here is not backed by XCB");
    return;
  }
  const int count = int(requests.size());
  for (auto _ : state) {
    const int taken =
        pipelined ? tkpixmap::colours::allocatePipelined(*calls, display, Tk_Colormap(tkwin),
                                                         requests.data(), count, pixels.data())
                  : tkpixmap::colours::allocateInTurn(XAllocColor, display, Tk_Colormap(tkwin),
                                                      requests.data(), count, pixels.data());
    if (taken != count) {
      state.SkipWithError("the colour map is full");
      break;
    }
  }
  state.counters["colours"] = double(count);
}

// The floor: a new pixmap and one XPutImage of pixels already in the
// server's 32-bit layout.
void putImageOnly(benchmark::State &state, Size size) {
  Tk_Window tkwin = canvasWindow(state, 24);
  if (tkwin == nullptr) return;
  Display *display = Tk_Display(tkwin);
  std::vector<unsigned char> rgba = xbench::plasmaRgba(size.width, size.height, kColours);
  XImage *image = XCreateImage(display, Tk_Visual(tkwin), 24, ZPixmap, 0,
                               reinterpret_cast<char *>(rgba.data()), unsigned(size.width),
                               unsigned(size.height), 32, 0);
  for (auto _ : state) {
    Pixmap pixmap = Tk_GetPixmap(display, Tk_WindowId(tkwin), size.width, size.height, 24);
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, unsigned(size.width), unsigned(size.height));
    XSync(display, False);
    state.PauseTiming();
    XFreeGC(display, gc);
    Tk_FreePixmap(display, pixmap);
    XSync(display, False);
    state.ResumeTiming();
  }
  image->data = nullptr;  // the vector owns the pixels
  XDestroyImage(image);
  state.SetItemsProcessed(state.iterations() * size.width * size.height);
}

// ------------------------------------------------------------ X-free packing

tkpixmap::pack::PixelSource sourceOf(const std::vector<unsigned char> &rgba, Size size) {
  return {rgba.data(), size.width, size.height, size.width * 4, 4};
}

void packPseudo8(benchmark::State &state, Size size) {
  std::vector<unsigned char> rgba = xbench::plasmaRgba(size.width, size.height, kColours);
  std::vector<unsigned char> out(size_t(size.width) * size.height);
  const tkpixmap::pack::PixelSource source = sourceOf(rgba, size);
  auto *table = new tkpixmap::pack::ColourTable;
  for (auto _ : state) {
    int count = tkpixmap::pack::indexColours(source, *table, out.data());
    int order[tkpixmap::pack::kMaxColours];
    tkpixmap::pack::allocationOrder(*table, order);
    for (int i = 0; i < count; ++i) table->pixels[order[i]] = unsigned(i);  // stands for the map
    tkpixmap::pack::indicesToPixels(*table, out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  delete table;
  state.SetItemsProcessed(state.iterations() * size.width * size.height);
}

void packTrue(benchmark::State &state, Size size, int bytesPerPixel) {
  std::vector<unsigned char> rgba = xbench::plasmaRgba(size.width, size.height, kColours);
  std::vector<unsigned char> out(size_t(size.width) * size.height * size_t(bytesPerPixel));
  const tkpixmap::pack::PixelSource source = sourceOf(rgba, size);
  tkpixmap::pack::TrueColorLayout layout;
  // The masks of the local servers: LSBFirst 5-6-5 and 8-8-8.
  for (auto _ : state) {
    if (bytesPerPixel == 2) {
      tkpixmap::pack::resolveLayout16({0xf800, 0x07e0, 0x001f}, false, layout);
    } else {
      tkpixmap::pack::resolveLayout32({0xff0000, 0x00ff00, 0x0000ff}, false, swap4, layout);
    }
    tkpixmap::pack::packTrueColor(source, layout, out.data(),
                                   size_t(size.width) * size_t(bytesPerPixel));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * size.width * size.height);
}

void copyOnly(benchmark::State &state, Size size) {
  std::vector<unsigned char> rgba = xbench::plasmaRgba(size.width, size.height, kColours);
  std::vector<unsigned char> out(rgba.size());
  for (auto _ : state) {
    memcpy(out.data(), rgba.data(), rgba.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * size.width * size.height);
}

}  // namespace

void bench::registerSuite() {
  for (const Size &size : kSizes) {
    const std::string s = size.name();
    for (int depth : xbench::allDepths()) {
      benchmark::RegisterBenchmark(("xbuild/" + s + "/d" + std::to_string(depth)).c_str(),
                                   buildOnCanvas, size, depth)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
    for (bool pipelined : {false, true}) {
      benchmark::RegisterBenchmark(
          ("colours/" + s + (pipelined ? "/pipelined" : "/in_turn")).c_str(), takeColours, size,
          pipelined)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("xbuild/" + s + "/putimage").c_str(), putImageOnly, size)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("pack/" + s + "/pseudo8").c_str(), packPseudo8, size)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("pack/" + s + "/true16").c_str(), packTrue, size, 2)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("pack/" + s + "/true24").c_str(), packTrue, size, 4)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("pack/" + s + "/memcpy").c_str(), copyOnly, size)
        ->Unit(benchmark::kMillisecond);
  }
}
