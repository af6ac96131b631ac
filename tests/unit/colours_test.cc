// Colour-map cells for 8-bit builds: the pipelined path must end exactly as
// taking the colours in turn does - same cells, same pixel values, and after
// a refusal nothing held that the in-turn path would not hold.  Checked with
// scripted XCB replies, and on the 8-bit PseudoColor server of the X fixture.

// GoogleTest first: Xlib's headers define macros (None, Bool, Status) that
// its headers would trip over.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tkpixmap/x11/colours.h"

namespace colours = tkpixmap::colours;

namespace {

// ---------------------------------------------------------- scripted replies

enum class Outcome { granted, refused, connection_lost };

struct Script {
  std::vector<Outcome> outcomes;
  std::vector<unsigned> sent;         // requests, by their red component
  std::vector<uint32_t> givenBack;    // pixels passed to FreeColors
  int freeRequests = 0;
} script;

xcb_connection_t *fakeConnection(Display *) { return reinterpret_cast<xcb_connection_t *>(&script); }

xcb_alloc_color_cookie_t fakeAlloc(xcb_connection_t *, xcb_colormap_t, uint16_t red, uint16_t,
                                   uint16_t) {
  script.sent.push_back(red);
  return {static_cast<unsigned>(script.sent.size() - 1)};
}

xcb_alloc_color_reply_t *fakeReply(xcb_connection_t *, xcb_alloc_color_cookie_t cookie,
                                   xcb_generic_error_t **error) {
  switch (script.outcomes.at(cookie.sequence)) {
    case Outcome::granted: {
      auto *reply = static_cast<xcb_alloc_color_reply_t *>(calloc(1, sizeof(xcb_alloc_color_reply_t)));
      reply->pixel = 100 + cookie.sequence;
      return reply;
    }
    case Outcome::refused:
      *error = static_cast<xcb_generic_error_t *>(calloc(1, sizeof(xcb_generic_error_t)));
      (*error)->error_code = XCB_ALLOC;
      return nullptr;
    case Outcome::connection_lost:
      return nullptr;
  }
  return nullptr;
}

xcb_void_cookie_t fakeFree(xcb_connection_t *, xcb_colormap_t, uint32_t, uint32_t count,
                           const uint32_t *pixels) {
  script.givenBack.assign(pixels, pixels + count);
  ++script.freeRequests;
  return {0};
}

xcb_generic_error_t *fakeCheck(xcb_connection_t *, xcb_void_cookie_t) { return nullptr; }

const colours::PipelineCalls fakeCalls{fakeConnection, fakeAlloc, fakeReply, fakeFree, fakeCheck};

std::vector<XColor> requestsOfReds(size_t count) {
  std::vector<XColor> requests(count);
  for (size_t i = 0; i < count; ++i) requests[i].red = static_cast<unsigned short>(i * 256);
  return requests;
}

TEST(ColoursPipelined, RefusalsKeepOnlyWhatInTurnWouldHaveKept) {
  using O = Outcome;
  const O g = O::granted, r = O::refused, lost = O::connection_lost;
  struct Case {
    const char *what;
    std::vector<Outcome> outcomes;
    int taken;
    std::vector<uint32_t> givenBack;
  };
  std::vector<Case> cases = {
      {"all granted", {g, g, g, g}, 4, {}},
      {"nothing asked", {}, 0, {}},
      {"the last refused", {g, g, g, r}, 3, {}},
      {"the first refused, the rest granted", {r, g, g}, 0, {101, 102}},
      {"granted around two refusals", {g, r, g, r, g}, 1, {102, 104}},
      {"the connection lost midway", {g, g, lost, g}, 2, {103}},
  };
  // Longer lists go out in batches; a refusal in one batch ends the walk.
  const int batch = colours::kBatch;
  std::vector<Outcome> twoBatches(size_t(batch) + 10, g), refusedInSecond = twoBatches,
                                                         refusedInFirst = twoBatches;
  refusedInSecond[size_t(batch) + 3] = r;
  refusedInFirst[size_t(batch) - 1] = r;
  cases.push_back({"two batches", twoBatches, batch + 10, {}});
  std::vector<uint32_t> grantedAfter;
  for (int i = batch + 4; i < batch + 10; ++i) grantedAfter.push_back(100u + unsigned(i));
  cases.push_back({"refused in the second batch", refusedInSecond, batch + 3, grantedAfter});
  cases.push_back({"refused at the end of the first batch", refusedInFirst, batch - 1, {}});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    script = Script{c.outcomes, {}, {}, 0};
    const std::vector<XColor> requests = requestsOfReds(c.outcomes.size());
    std::vector<unsigned long> pixels(c.outcomes.size() + 1, 7777);
    const int taken = colours::allocatePipelined(fakeCalls, nullptr, 1, requests.data(),
                                                 static_cast<int>(requests.size()), pixels.data());
    EXPECT_EQ(taken, c.taken);
    // Every request up to the end of the refusing batch went out, in order.
    const size_t sent =
        std::min(requests.size(), (size_t(c.taken) / size_t(batch) + 1) * size_t(batch));
    ASSERT_EQ(script.sent.size(), sent);
    for (size_t i = 0; i < sent; ++i) EXPECT_EQ(script.sent[i], requests[i].red);
    for (int i = 0; i < taken; ++i) EXPECT_EQ(pixels[size_t(i)], 100u + unsigned(i));
    EXPECT_EQ(pixels[size_t(taken)], 7777u) << "a pixel written past the refusal";
    EXPECT_EQ(script.givenBack, c.givenBack);
    EXPECT_EQ(script.freeRequests, c.givenBack.empty() ? 0 : 1);
  }
}

// ------------------------------------------------------- a real 8-bit server

// The fixture's 8-bit PseudoColor server, or null when it is not running.
Display *pseudoColorServer() {
  static Display *display = [] () -> Display * {
    std::ifstream in(std::string(TKPIXMAP_BINARY_DIR) + "/xvfb/d8.display");
    std::string number;
    if (!(in >> number)) return nullptr;
    return XOpenDisplay((":" + number).c_str());
  }();
  return display;
}

// Read-write cells are how a test fills a colour map: each one is a cell no
// read-only request can share.
int takeReadWriteCells(Display *display, Colormap map, int most) {
  int taken = 0;
  unsigned long pixel;
  while (taken < most && XAllocColorCells(display, map, False, nullptr, 0, &pixel, 1) != 0)
    ++taken;
  return taken;
}

int freeCells(Display *display, Colormap map) {
  std::vector<unsigned long> cells;
  unsigned long pixel;
  while (XAllocColorCells(display, map, False, nullptr, 0, &pixel, 1) != 0) cells.push_back(pixel);
  if (!cells.empty()) XFreeColors(display, map, cells.data(), int(cells.size()), 0);
  return int(cells.size());
}

XColor rgb(unsigned short red, unsigned short green, unsigned short blue) {
  XColor colour{};
  colour.red = red;
  colour.green = green;
  colour.blue = blue;
  colour.flags = DoRed | DoGreen | DoBlue;
  return colour;
}

struct Outcomes {
  int taken;
  std::vector<unsigned long> pixels;
  int freeAfterRelease;  // free cells once the test has given back all it took
};

// On a new colour map: two colours taken beforehand (read-only), all but
// `spare` of the other cells filled, then the requests.  Afterwards the
// test gives back its own two colours and every cell the requests took.
Outcomes runOnNewMap(Display *display, bool pipelined, const std::vector<XColor> &held,
                     int spare, const std::vector<XColor> &requests) {
  const int screen = DefaultScreen(display);
  Colormap map = XCreateColormap(display, RootWindow(display, screen),
                                 DefaultVisual(display, screen), AllocNone);
  std::vector<unsigned long> heldPixels;
  for (XColor colour : held) {
    EXPECT_NE(XAllocColor(display, map, &colour), 0);
    heldPixels.push_back(colour.pixel);
  }
  takeReadWriteCells(display, map, freeCells(display, map) - spare);
  // The colour map's creation may still sit in Xlib's buffer: the pipelined
  // requests must reach the server after it.
  Outcomes out{0, std::vector<unsigned long>(requests.size()), 0};
  out.taken = pipelined ? colours::allocatePipelined(*colours::pipelineCalls(), display, map,
                                                     requests.data(), int(requests.size()),
                                                     out.pixels.data())
                        : colours::allocateInTurn(XAllocColor, display, map, requests.data(),
                                                  int(requests.size()), out.pixels.data());
  out.pixels.resize(size_t(out.taken));
  XFreeColors(display, map, heldPixels.data(), int(heldPixels.size()), 0);
  if (!out.pixels.empty()) XFreeColors(display, map, out.pixels.data(), int(out.pixels.size()), 0);
  out.freeAfterRelease = freeCells(display, map);
  XFreeColormap(display, map);
  return out;
}

TEST(ColoursOnServer, PipelinedAndInTurnEndTheSame) {
  Display *display = pseudoColorServer();
  if (display == nullptr) GTEST_SKIP() << "the X fixture's 8-bit server is not running";
  ASSERT_NE(colours::pipelineCalls(), nullptr) << "libX11 here is XCB-backed";

  const XColor sharedA = rgb(0x1100, 0x2200, 0x3300), sharedB = rgb(0x4400, 0x5500, 0x6600);
  auto fresh = [](int i) {
    return rgb(static_cast<unsigned short>(0x8000 + i * 0x0100), 0x0700,
               static_cast<unsigned short>(i * 0x0300));
  };
  struct Case {
    const char *what;
    int spare;
    std::vector<XColor> requests;
    int taken;
  } cases[] = {
      {"room for all", 10, {fresh(0), sharedA, fresh(1), fresh(2)}, 4},
      {"nothing asked", 3, {}, 0},
      // Five spare cells: the sixth new colour is refused; the shared
      // colours after it would be granted if asked, and must not stay held.
      {"refused at the sixth new colour",
       5,
       {fresh(0), fresh(1), fresh(2), sharedA, fresh(3), fresh(4), fresh(5), sharedB, fresh(6),
        sharedA},
       6},
      {"a full map", 0, {sharedB, fresh(0), sharedA}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Outcomes inTurn = runOnNewMap(display, false, {sharedA, sharedB}, c.spare, c.requests);
    const Outcomes pipelined = runOnNewMap(display, true, {sharedA, sharedB}, c.spare, c.requests);
    EXPECT_EQ(inTurn.taken, c.taken);
    EXPECT_EQ(pipelined.taken, inTurn.taken);
    EXPECT_EQ(pipelined.pixels, inTurn.pixels);
    // Everything taken was given back: the spare cells and the two held
    // colours' cells are free again.
    EXPECT_EQ(inTurn.freeAfterRelease, c.spare + 2);
    EXPECT_EQ(pipelined.freeAfterRelease, c.spare + 2);
  }
  // Xlib's own requests still work after XCB's.
  XSync(display, False);
  XColor probe = rgb(0, 0, 0);
  EXPECT_NE(XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &probe), 0);
}

}  // namespace
