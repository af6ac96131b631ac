// colourmap.cc - colour-map cells for builds on visuals of at most 8 bits.

#include "tkpixmap/x11/colourmap.h"

#include <stdlib.h>
#include <string.h>

#include "tkpixmap/x11/colours.h"

namespace tkpixmap {
namespace {

// Takes read-only cells for requests[0..count-1] in order, pipelined when
// libX11 runs on XCB; how many were taken before the first refusal.
int takeCells(Display *display, Colormap colormap, const XlibFunctions &x11,
              const XColor *requests, int count, unsigned long *pixels) {
  const colours::PipelineCalls *pipeline = colours::pipelineCalls();
  return pipeline != nullptr
             ? colours::allocatePipelined(*pipeline, display, colormap, requests, count, pixels)
             : colours::allocateInTurn(x11.AllocColor, display, colormap, requests, count, pixels);
}

XColor requestFor(uint32_t rgb) {
  XColor request{};
  request.red = pack::colourRequest(rgb >> 16);
  request.green = pack::colourRequest(rgb >> 8 & 0xff);
  request.blue = pack::colourRequest(rgb & 0xff);
  return request;
}

// 0xRRGGBB of an RGBA word in memory order.
uint32_t rgbOf(uint32_t word) {
  unsigned char rgba[4];
  memcpy(rgba, &word, 4);
  return uint32_t{rgba[0]} << 16 | uint32_t{rgba[1]} << 8 | rgba[2];
}

int distance(uint32_t a, uint32_t b) {
  const int dr = int(a >> 16) - int(b >> 16);
  const int dg = int(a >> 8 & 0xff) - int(b >> 8 & 0xff);
  const int db = int(a & 0xff) - int(b & 0xff);
  return dr * dr + dg * dg + db * db;
}

// The index of the colour of `among` (count of them) nearest to `rgb`.
int nearest(uint32_t rgb, const uint32_t *among, int count) {
  int best = 0;
  for (int i = 1; i < count; ++i)
    if (distance(rgb, among[i]) < distance(rgb, among[best])) best = i;
  return best;
}

bool allocateData(const pack::PixelSource &source, unsigned char **data, size_t *bytes) {
  *data = pack::imageBytes(source.width, source.height, 1, bytes)
              ? static_cast<unsigned char *>(malloc(*bytes))
              : nullptr;
  return *data != nullptr;
}

// Every colour its own cell, in the order the colours' texts sort.
bool mapExactly(const pack::PixelSource &source, Display *display, Colormap colormap,
                const XlibFunctions &x11, MappedPixels *out, Failure *failure) {
  pack::ColourTable table;
  unsigned char entryNumber[256];  // a one-byte source: each palette entry's colour number
  unsigned char *data = nullptr;
  size_t bytes = 0;
  bool numbered = false;  // data holds each pixel's colour number
  int count;
  if (source.palette != nullptr) {
    count = pack::indexColours(pack::paletteRow(source), table, entryNumber);
  } else {
    // With the data in hand, one pass both counts the colours and numbers
    // each pixel; without, they are counted alone and numbered later, so
    // that failures come in their usual order (too many colours, no
    // cells, then no memory).
    numbered = allocateData(source, &data, &bytes);
    count = data != nullptr ? pack::indexColours(source, table, data)
                            : pack::countColours(source, table);
  }
  out->colourCount = count;
  if (count > pack::kMaxColours) {
    free(data);
    failure->refusal = Refusal::tooManyColours;
    return false;
  }
  int order[pack::kMaxColours];
  pack::allocationOrder(table, order);
  XColor requests[pack::kMaxColours];
  for (int i = 0; i < count; ++i) requests[i] = requestFor(table.colours[order[i]]);
  const int taken = takeCells(display, colormap, x11, requests, count, out->cells);
  out->cellCount = taken;
  if (taken < count) {
    failure->refusal = Refusal::noColours;
  } else if (data == nullptr && !allocateData(source, &data, &bytes)) {
    failure->refusal = Refusal::noMemory;
  }
  if (failure->refusal != Refusal::none) {
    // The cells taken are given back: a colour map is shared with every
    // other client of the screen.
    if (taken > 0) x11.FreeColors(display, colormap, out->cells, taken, 0);
    out->cellCount = 0;
    free(data);
    return false;
  }
  for (int i = 0; i < count; ++i) table.pixels[order[i]] = out->cells[i];
  if (source.palette != nullptr) {
    unsigned char cell[256];
    for (int e = 0; e < source.paletteSize; ++e)
      cell[e] = static_cast<unsigned char>(table.pixels[entryNumber[e]] & 0xff);
    pack::lookUpIndices(source, cell, 1, data, static_cast<size_t>(source.width));
  } else {
    if (!numbered) {
      pack::ColourTable renumbered;  // the same scan numbers the colours as the count did
      pack::indexColours(source, renumbered, data);
    }
    pack::indicesToPixels(table, data, bytes);
  }
  out->data = data;
  return true;
}

// Pixels of more colours than a byte names are put in a 3-3-2 cube first.
int cubeEntry(const unsigned char *rgba) { return (rgba[0] >> 5) << 5 | (rgba[1] >> 5) << 2 | rgba[2] >> 6; }
uint32_t cubeColour(int entry) {
  return uint32_t((entry >> 5) << 5 | 16) << 16 | uint32_t((entry >> 2 & 7) << 5 | 16) << 8 |
         uint32_t((entry & 3) << 6 | 32);
}

// The image's colours as at most 256 entries, with how many pixels use each.
int entriesOf(const pack::PixelSource &source, uint32_t *rgb, uint32_t *usage) {
  const bool indexed = source.palette != nullptr;
  const int entries = indexed ? source.paletteSize : 256;
  for (int e = 0; e < entries; ++e) {
    rgb[e] = indexed ? rgbOf(source.palette[e]) : cubeColour(e);
    usage[e] = 0;
  }
  for (int y = 0; y < source.height; ++y) {
    const unsigned char *row = source.pixels + static_cast<size_t>(y) * source.pitch;
    for (int x = 0; x < source.width; ++x)
      ++usage[indexed ? row[x] : cubeEntry(row + 4 * x)];
  }
  return entries;
}

// As many colours as the map gives, the most used first; the rest the
// nearest of those.
bool mapNearest(const pack::PixelSource &source, Display *display, Visual *visual,
                Colormap colormap, const XlibFunctions &x11, MappedPixels *out,
                Failure *failure) {
  uint32_t entryRgb[256], usage[256];
  const int entries = entriesOf(source, entryRgb, usage);
  // Distinct colours (equal entries merged), then ranked by use.
  uint32_t colour[256], uses[256];
  int distinctOf[256], count = 0;
  for (int e = 0; e < entries; ++e) {
    if (usage[e] == 0 && source.palette == nullptr) { distinctOf[e] = -1; continue; }
    int d = 0;
    while (d < count && colour[d] != entryRgb[e]) ++d;
    if (d == count) { colour[count] = entryRgb[e]; uses[count++] = 0; }
    uses[d] += usage[e];
    distinctOf[e] = d;
  }
  int rank[256];  // distinct colours, most used first
  for (int d = 0; d < count; ++d) {
    int at = d;
    for (; at > 0 && uses[rank[at - 1]] < uses[d]; --at) rank[at] = rank[at - 1];
    rank[at] = d;
  }
  const int asked = count < pack::kMaxColours ? count : pack::kMaxColours;
  XColor requests[pack::kMaxColours];
  uint32_t takenRgb[pack::kMaxColours];
  for (int i = 0; i < asked; ++i) requests[i] = requestFor(colour[rank[i]]);
  const int taken = takeCells(display, colormap, x11, requests, asked, out->cells);
  out->cellCount = taken;
  out->colourCount = count;
  out->inexact = taken == count ? Refusal::none
                 : taken == asked ? Refusal::tooManyColours : Refusal::noColours;
  for (int i = 0; i < taken; ++i) takenRgb[i] = colour[rank[i]];

  // With no cell of its own, a colour takes the nearest taken one; when
  // the map gave none at all, the nearest cell the map holds.
  unsigned long cellOf[256];
  XColor mapCells[256];
  int mapCount = 0;
  uint32_t mapRgb[256];
  if (taken == 0 && count > 0) {
    mapCount = visual->map_entries < 256 ? visual->map_entries : 256;
    for (int i = 0; i < mapCount; ++i) mapCells[i].pixel = static_cast<unsigned long>(i);
    x11.QueryColors(display, colormap, mapCells, mapCount);
    for (int i = 0; i < mapCount; ++i)
      mapRgb[i] = uint32_t(mapCells[i].red >> 8) << 16 | uint32_t(mapCells[i].green >> 8) << 8 |
                  uint32_t(mapCells[i].blue >> 8);
  }
  for (int i = 0; i < count; ++i) {
    const int d = rank[i];
    if (i < taken) cellOf[d] = out->cells[i];
    else if (taken > 0) cellOf[d] = out->cells[nearest(colour[d], takenRgb, taken)];
    else cellOf[d] = mapCount > 0 ? mapCells[nearest(colour[d], mapRgb, mapCount)].pixel : 0;
  }
  unsigned char cell[256] = {};
  for (int e = 0; e < entries; ++e)
    if (distinctOf[e] >= 0) cell[e] = static_cast<unsigned char>(cellOf[distinctOf[e]] & 0xff);

  size_t bytes = 0;
  unsigned char *data = nullptr;
  if (!allocateData(source, &data, &bytes)) {
    if (taken > 0) x11.FreeColors(display, colormap, out->cells, taken, 0);
    out->cellCount = 0;
    failure->refusal = Refusal::noMemory;
    return false;
  }
  if (source.palette != nullptr) {
    pack::lookUpIndices(source, cell, 1, data, static_cast<size_t>(source.width));
  } else {
    unsigned char *to = data;
    for (int y = 0; y < source.height; ++y) {
      const unsigned char *row = source.pixels + static_cast<size_t>(y) * source.pitch;
      for (int x = 0; x < source.width; ++x) *to++ = cell[cubeEntry(row + 4 * x)];
    }
  }
  out->data = data;
  return true;
}

}  // namespace

bool mapColours(const pack::PixelSource &source, Display *display, Visual *visual,
                Colormap colormap, Client client, const XlibFunctions &x11, MappedPixels *out,
                Failure *failure) {
  return client == Client::item ? mapExactly(source, display, colormap, x11, out, failure)
                                : mapNearest(source, display, visual, colormap, x11, out, failure);
}

}  // namespace tkpixmap
