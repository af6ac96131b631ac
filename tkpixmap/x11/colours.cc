// colours.cc - colour-map cells for 8-bit builds, in turn or pipelined.

#include "tkpixmap/x11/colours.h"

#include <stdlib.h>

#include "tkpixmap/x11/symbols.h"

namespace tkpixmap::colours {

const PipelineCalls *pipelineCalls() {
  const RuntimeX &x = runtimeX();
  return x.pipelineFound ? &x.pipeline : nullptr;
}

int allocateInTurn(Status (*allocColor)(Display *, Colormap, XColor *), Display *display,
                   Colormap colormap, const XColor *requests, int count, unsigned long *pixels) {
  for (int i = 0; i < count; ++i) {
    XColor request = requests[i];
    request.flags = DoRed | DoGreen | DoBlue;
    if (allocColor(display, colormap, &request) == 0) return i;
    pixels[i] = request.pixel;
  }
  return count;
}

namespace {

// One batch of at most kBatch requests, pipelined.
int allocateBatch(const PipelineCalls &calls, xcb_connection_t *connection, xcb_colormap_t map,
                  const XColor *requests, int count, unsigned long *pixels) {
  // Sending a request through XCB first hands XCB everything Xlib still
  // holds, so the server sees the requests in the order they were made.
  xcb_alloc_color_cookie_t cookies[kBatch];
  for (int i = 0; i < count; ++i)
    cookies[i] = calls.allocColor(connection, map, requests[i].red, requests[i].green,
                                  requests[i].blue);

  // Every reply is collected, so none is left for Xlib to trip over.  A
  // colour the server granted after refusing an earlier one would not have
  // been asked for in turn: it is given back below.  Any error counts as a
  // refusal; a broken connection yields neither reply nor error, and counts
  // too.
  int taken = count;
  uint32_t givenBack[kBatch];
  uint32_t givenBackCount = 0;
  for (int i = 0; i < count; ++i) {
    xcb_generic_error_t *error = nullptr;
    xcb_alloc_color_reply_t *reply = calls.allocColorReply(connection, cookies[i], &error);
    if (reply == nullptr) {
      if (taken == count) taken = i;
    } else if (taken == count) {
      pixels[i] = reply->pixel;
    } else {
      givenBack[givenBackCount++] = reply->pixel;
    }
    free(reply);
    free(error);
  }
  if (givenBackCount > 0) {
    // Checked, so that an error here (there should be none: the cells were
    // just granted) comes back to us rather than to Tk's error handler.
    free(calls.requestCheck(connection, calls.freeColorsChecked(connection, map, 0,
                                                                givenBackCount, givenBack)));
  }
  return taken;
}

}  // namespace

int allocatePipelined(const PipelineCalls &calls, Display *display, Colormap colormap,
                      const XColor *requests, int count, unsigned long *pixels) {
  xcb_connection_t *connection = calls.connectionOf(display);
  const auto map = static_cast<xcb_colormap_t>(colormap);
  int taken = 0;
  while (taken < count) {
    const int batch = count - taken < kBatch ? count - taken : kBatch;
    const int granted =
        allocateBatch(calls, connection, map, requests + taken, batch, pixels + taken);
    taken += granted;
    if (granted < batch) break;
  }
  return taken;
}

}  // namespace tkpixmap::colours
