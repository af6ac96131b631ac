// colours.h - taking read-only colour-map cells for an 8-bit image's colours.
//
// Each cell costs the server a reply, so taking them one XAllocColor at a
// time costs one round trip per colour: for a small image that is most of
// its build.  When the process's libX11 is backed by XCB (every libX11 of
// the last fifteen years), the requests go out together and the replies are
// collected afterwards; otherwise they are made in turn.  Either way the
// outcome is that of taking the colours in order and stopping at the first
// refusal: the cells taken before it stay taken, none after it is kept.
#pragma once

#include <X11/Xlib.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace tkpixmap::colours {

// The XCB calls the pipelined path makes, looked up at run time like Xlib's.
struct PipelineCalls {
  xcb_connection_t *(*connectionOf)(Display *);  // XGetXCBConnection
  xcb_alloc_color_cookie_t (*allocColor)(xcb_connection_t *, xcb_colormap_t, uint16_t, uint16_t,
                                         uint16_t);
  xcb_alloc_color_reply_t *(*allocColorReply)(xcb_connection_t *, xcb_alloc_color_cookie_t,
                                              xcb_generic_error_t **);
  xcb_void_cookie_t (*freeColorsChecked)(xcb_connection_t *, xcb_colormap_t, uint32_t, uint32_t,
                                         const uint32_t *);
  xcb_generic_error_t *(*requestCheck)(xcb_connection_t *, xcb_void_cookie_t);
};

// The calls of the XCB under this process's libX11, or null when libX11 is
// not backed by one we can reach (libX11-xcb.so.1 is missing).  Looked up
// once per process.
const PipelineCalls *pipelineCalls();

// The pipelined path sends at most this many requests before reading
// their replies (an 8-bit build asks for at most 128 colours).
constexpr int kBatch = 256;

// Takes a read-only cell of `colormap` for each of requests[0..count-1]
// (their red, green and blue), in that order, writing each cell's pixel value
// to pixels[i].  Returns how many were taken before the first the server
// refused: count when all were.  Colours past a refusal are left untaken.
int allocateInTurn(Status (*allocColor)(Display *, Colormap, XColor *), Display *display,
                   Colormap colormap, const XColor *requests, int count, unsigned long *pixels);
int allocatePipelined(const PipelineCalls &calls, Display *display, Colormap colormap,
                      const XColor *requests, int count, unsigned long *pixels);

}  // namespace tkpixmap::colours
