/*
 * xreadback.c - prints what an X window shows, for the X tests.
 *
 *   xreadback WINDOW X Y WIDTH HEIGHT
 *
 * WINDOW is a window id as Tk's "winfo id" gives it.  The first output line
 * is "depth D class C" (C is the visual class name); then one line per row
 * of the area, each pixel as "rrggbb" hex: for TrueColor windows each
 * component taken through its mask and placed in the top bits of a byte
 * (a 5-bit red 0x1f prints as f8), for PseudoColor windows the colour-map
 * entry of the pixel value (16-bit components cut to their top 8 bits).
 * Exits 1 with a message on standard error when anything fails.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

static int failed(Display *display, XErrorEvent *event) {
  char text[200];
  XGetErrorText(display, event->error_code, text, sizeof text);
  fprintf(stderr, "xreadback: X error: %s\n", text);
  exit(1);
}

/* The component of a TrueColor pixel under mask, in the top bits of a byte. */
static unsigned component(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask & 1)) {
    mask >>= 1;
    pixel >>= 1;
    ++shift;
  }
  int bits = 0;
  while (mask & 1) {
    mask >>= 1;
    ++bits;
  }
  unsigned long value = pixel & ((1ul << bits) - 1);
  return (unsigned)(bits >= 8 ? value >> (bits - 8) : value << (8 - bits));
}

static const char *className(int class_) {
  switch (class_) {
    case StaticGray: return "StaticGray";
    case GrayScale: return "GrayScale";
    case StaticColor: return "StaticColor";
    case PseudoColor: return "PseudoColor";
    case TrueColor: return "TrueColor";
    case DirectColor: return "DirectColor";
    default: return "unknown";
  }
}

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: xreadback WINDOW X Y WIDTH HEIGHT\n");
    return 2;
  }
  Window window = (Window)strtoul(argv[1], NULL, 0);
  int x = atoi(argv[2]), y = atoi(argv[3]);
  int width = atoi(argv[4]), height = atoi(argv[5]);
  if (width <= 0 || height <= 0) {
    fprintf(stderr, "xreadback: empty area\n");
    return 2;
  }
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "xreadback: cannot open display\n");
    return 1;
  }
  XSetErrorHandler(failed);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) {
    fprintf(stderr, "xreadback: no window %s\n", argv[1]);
    return 1;
  }
  XImage *image = XGetImage(display, window, x, y, (unsigned)width, (unsigned)height, AllPlanes,
                            ZPixmap);
  if (image == NULL) {
    fprintf(stderr, "xreadback: XGetImage failed\n");
    return 1;
  }
  Visual *visual = attributes.visual;
  printf("depth %d class %s\n", attributes.depth, className(visual->class));

  XColor *cells = NULL;
  if (visual->class == PseudoColor || visual->class == StaticColor ||
      visual->class == GrayScale || visual->class == StaticGray) {
    int count = visual->map_entries;
    cells = calloc((size_t)count, sizeof *cells);
    for (int i = 0; i < count; ++i) cells[i].pixel = (unsigned long)i;
    XQueryColors(display, attributes.colormap, cells, count);
  }
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      unsigned long pixel = XGetPixel(image, column, row);
      unsigned r, g, b;
      if (cells != NULL) {
        XColor *cell = &cells[pixel % (unsigned long)visual->map_entries];
        r = cell->red >> 8;
        g = cell->green >> 8;
        b = cell->blue >> 8;
      } else {
        r = component(pixel, visual->red_mask);
        g = component(pixel, visual->green_mask);
        b = component(pixel, visual->blue_mask);
      }
      printf(column ? " %02x%02x%02x" : "%02x%02x%02x", r, g, b);
    }
    putchar('\n');
  }
  free(cells);
  XDestroyImage(image);
  XCloseDisplay(display);
  return 0;
}
