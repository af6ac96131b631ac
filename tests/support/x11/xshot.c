/*
 * xshot.c - writes what an X window (or the whole screen) shows to a PNG
 * file, for the demo's screenshot.
 *
 *   xshot [-window ID] output.png
 *
 * Without -window the root window is taken.  TrueColor and colour-mapped
 * visuals are both read back as 8-bit RGB.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <zlib.h>

static unsigned component(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  while (!(mask & 1)) {
    mask >>= 1;
    pixel >>= 1;
  }
  int bits = 0;
  while (mask & 1) {
    mask >>= 1;
    ++bits;
  }
  unsigned long value = pixel & ((1ul << bits) - 1);
  if (bits >= 8) return (unsigned)(value >> (bits - 8));
  /* Stretch short components to the full byte: 0x1f of 5 bits is 0xff. */
  return (unsigned)((value * 255 + ((1ul << bits) - 1) / 2) / ((1ul << bits) - 1));
}

static void put32(unsigned char *at, uint32_t value) {
  at[0] = (unsigned char)(value >> 24);
  at[1] = (unsigned char)(value >> 16);
  at[2] = (unsigned char)(value >> 8);
  at[3] = (unsigned char)value;
}

static int writeChunk(FILE *file, const char *type, const unsigned char *data, uint32_t size) {
  unsigned char head[8];
  put32(head, size);
  memcpy(head + 4, type, 4);
  uLong crc = crc32(0, head + 4, 4);
  if (size > 0) crc = crc32(crc, data, size);
  unsigned char tail[4];
  put32(tail, (uint32_t)crc);
  return fwrite(head, 1, 8, file) == 8 && (size == 0 || fwrite(data, 1, size, file) == size) &&
         fwrite(tail, 1, 4, file) == 4;
}

/* rgb: width*height*3 bytes.  Returns 0 on success. */
static int writePng(const char *path, const unsigned char *rgb, int width, int height) {
  size_t rowBytes = (size_t)width * 3 + 1;
  size_t rawBytes = rowBytes * (size_t)height;
  unsigned char *raw = malloc(rawBytes);
  uLongf packedBytes = compressBound((uLong)rawBytes);
  unsigned char *packed = malloc(packedBytes);
  if (raw == NULL || packed == NULL) return -1;
  for (int row = 0; row < height; ++row) {
    raw[row * rowBytes] = 0; /* filter: none */
    memcpy(raw + row * rowBytes + 1, rgb + (size_t)row * width * 3, (size_t)width * 3);
  }
  if (compress2(packed, &packedBytes, raw, (uLong)rawBytes, 9) != Z_OK) return -1;

  FILE *file = fopen(path, "wb");
  if (file == NULL) return -1;
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  unsigned char header[13];
  put32(header, (uint32_t)width);
  put32(header + 4, (uint32_t)height);
  header[8] = 8;  /* bits per sample */
  header[9] = 2;  /* RGB */
  header[10] = 0; /* deflate */
  header[11] = 0; /* adaptive filtering */
  header[12] = 0; /* no interlace */
  int ok = fwrite(signature, 1, 8, file) == 8 && writeChunk(file, "IHDR", header, 13) &&
           writeChunk(file, "IDAT", packed, (uint32_t)packedBytes) &&
           writeChunk(file, "IEND", NULL, 0);
  ok = (fclose(file) == 0) && ok;
  free(raw);
  free(packed);
  return ok ? 0 : -1;
}

int main(int argc, char **argv) {
  const char *output = NULL;
  Window window = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-window") == 0 && i + 1 < argc) {
      window = (Window)strtoul(argv[++i], NULL, 0);
    } else if (output == NULL) {
      output = argv[i];
    } else {
      output = NULL;
      break;
    }
  }
  if (output == NULL) {
    fprintf(stderr, "usage: xshot [-window ID] output.png\n");
    return 2;
  }
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "xshot: cannot open display\n");
    return 1;
  }
  if (window == 0) window = DefaultRootWindow(display);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) {
    fprintf(stderr, "xshot: no such window\n");
    return 1;
  }
  /* Only the part of the window on the screen can be read: XGetImage
   * refuses a window that reaches past the screen's edge. */
  int rootX = 0, rootY = 0;
  Window child;
  XTranslateCoordinates(display, window, attributes.root, 0, 0, &rootX, &rootY, &child);
  XWindowAttributes rootAttributes;
  XGetWindowAttributes(display, attributes.root, &rootAttributes);
  int left = rootX < 0 ? -rootX : 0, top = rootY < 0 ? -rootY : 0;
  int width = attributes.width - left, height = attributes.height - top;
  if (rootX + attributes.width > rootAttributes.width) width -= rootX + attributes.width - rootAttributes.width;
  if (rootY + attributes.height > rootAttributes.height) height -= rootY + attributes.height - rootAttributes.height;
  if (width <= 0 || height <= 0) {
    fprintf(stderr, "xshot: the window is off the screen\n");
    return 1;
  }
  XImage *image =
      XGetImage(display, window, left, top, (unsigned)width, (unsigned)height, AllPlanes, ZPixmap);
  if (image == NULL) {
    fprintf(stderr, "xshot: XGetImage failed\n");
    return 1;
  }
  Visual *visual = attributes.visual;
  XColor *cells = NULL;
  if (visual->class != TrueColor && visual->class != DirectColor) {
    cells = calloc((size_t)visual->map_entries, sizeof *cells);
    for (int i = 0; i < visual->map_entries; ++i) cells[i].pixel = (unsigned long)i;
    XQueryColors(display, attributes.colormap, cells, visual->map_entries);
  }
  unsigned char *rgb = malloc((size_t)width * (size_t)height * 3);
  if (rgb == NULL) return 1;
  unsigned char *at = rgb;
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      unsigned long pixel = XGetPixel(image, column, row);
      if (cells != NULL) {
        const XColor *cell = &cells[pixel % (unsigned long)visual->map_entries];
        *at++ = (unsigned char)(cell->red >> 8);
        *at++ = (unsigned char)(cell->green >> 8);
        *at++ = (unsigned char)(cell->blue >> 8);
      } else {
        *at++ = (unsigned char)component(pixel, visual->red_mask);
        *at++ = (unsigned char)component(pixel, visual->green_mask);
        *at++ = (unsigned char)component(pixel, visual->blue_mask);
      }
    }
  }
  if (writePng(output, rgb, width, height) != 0) {
    fprintf(stderr, "xshot: cannot write %s\n", output);
    return 1;
  }
  free(rgb);
  free(cells);
  XDestroyImage(image);
  XCloseDisplay(display);
  return 0;
}
