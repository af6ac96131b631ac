// gif_bench.cc - decoding GIF files to RGBA pixels: myReadGIF (from memory,
// through an interpreter as the pixmap command calls it) against giflib
// (DGifSlurp, then the first image expanded through its colour map),
// stb_image and, when they are beside the project, Wuffs and libnsgif, on
// the same bytes in the same run.  Every frame of an animation: the frame
// decoder against Wuffs (frames blended over one buffer, disposal by the
// caller, as its examples do) and libnsgif (which composites them itself).
//
// Inputs are made by our own writer from deterministic generators, so the
// suite needs no outside files: a photo-like plasma quantised to 256 colours,
// the same interlaced, a flat image with few colours, incompressible noise
// (about one pixel per code), heavily dithered photos, a stream whose encoder
// clears the table every 64 codes, small images where the fixed cost of a
// call counts, and first images that cover only part of a large logical
// screen (a tile of a larger picture, an animation's small first frame).
// Animations: 100 frames of sprites with transparency over a photo, with
// every disposal, and 100 whole-screen frames.  The good files of the
// shared corpus are measured as one set when the folder exists (its
// animated ones as a set of animations too).

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <stb/stb_image.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tcl.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/plasma.h"
#include "bench/suite_main.h"
#include "tests/support/gif_writer.h"
#include "tkpixmap.h"
#include "tkpixmap/gif/frames.h"
#if TKPIXMAP_WUFFS_PEER
#include "bench/wuffs_peer.h"
#endif
#if TKPIXMAP_NSGIF_PEER
#include "bench/libnsgif_peer.h"
#endif

namespace {

using tkpixmap::testing::Bytes;
using tkpixmap::testing::Rgb;

// ------------------------------------------------------------ inputs

std::vector<Rgb> plasmaPalette() {
  std::vector<Rgb> palette;
  for (int i = 0; i < 256; ++i) {
    palette.push_back({uint8_t(128 + 127 * std::sin(i * 0.0245)),
                       uint8_t(128 + 127 * std::sin(i * 0.0245 + 2.1)),
                       uint8_t(128 + 127 * std::sin(i * 0.0245 + 4.2))});
  }
  return palette;
}

// A smooth plasma field quantised to 256 colours: long runs of similar
// indices, like a photograph after palette reduction.  `grain` is the
// spread of the dither noise: 8 for a little grain as in real photos, 64
// for a heavily dithered one.
Bytes plasma(int width, int height, bool interlaced, int grain = 8,
             const tkpixmap::testing::LzwOptions &options = {}) {
  std::vector<int> indices = bench::plasmaLevels(width, height, 32.0, grain);
  for (int &index : indices) index = std::clamp(index, 0, 255);
  return tkpixmap::testing::encodeGif(width, height, plasmaPalette(), indices, interlaced, -1, 0,
                                      options);
}

// Uniform noise in `colours` colours: nothing repeats, so nearly every code
// is one or two pixels.
Bytes noise(int width, int height, int colours) {
  std::vector<Rgb> palette = plasmaPalette();
  palette.resize(size_t(colours));
  std::vector<int> indices(size_t(width) * height);
  uint32_t state = 2463534242u;
  for (int &index : indices) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    index = int(state % unsigned(colours));
  }
  return tkpixmap::testing::encodeGif(width, height, palette, indices);
}

// Small photo-like images of the given sizes, each its own file.
std::vector<Bytes> smallPhotos(std::initializer_list<int> sides) {
  std::vector<Bytes> files;
  for (int side : sides) files.push_back(plasma(side, side, false, 16));
  return files;
}

// Large flat areas in 8 colours: diagrams, screenshots, logos.
Bytes flat(int width, int height) {
  std::vector<Rgb> palette = {{255, 255, 255}, {0, 0, 0},     {200, 30, 30}, {30, 200, 30},
                              {30, 30, 200},   {240, 200, 0}, {0, 160, 160}, {128, 128, 128}};
  std::vector<int> indices(size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      indices[size_t(y) * width + x] = ((x / 97) + (y / 61) * 3) % 8;
    }
  }
  return tkpixmap::testing::encodeGif(width, height, palette, indices);
}

// The good files of the corpus; animated ones only (2 frames or more) when
// `animated`.
std::vector<Bytes> corpusGoodFiles(bool animated = false) {
  namespace fs = std::filesystem;
  std::vector<Bytes> files;
  fs::path root = TKPIXMAP_CORPUS_DIR;
  std::ifstream index(root / "INDEX.tsv");
  std::string line;
  std::getline(index, line);
  while (std::getline(index, line)) {
    std::vector<std::string> columns;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      columns.push_back(line.substr(start, tab - start));
    }
    columns.push_back(line.substr(start));
    if (columns.size() < 12 || columns[11] != "good") continue;
    if (animated && atoi(columns[9].c_str()) < 2) continue;
    std::ifstream in(root / columns[0], std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

// The plasma's levels fitted to the palette.
std::vector<int> plasmaIndices(int width, int height, int grain) {
  std::vector<int> indices = bench::plasmaLevels(width, height, 32.0, grain);
  for (int &index : indices) index = std::clamp(index, 0, 254);
  return indices;
}

// A photo-like first image of width x height at (left, top) on a larger
// screen: a tile of a larger picture.
Bytes tile(int screenWidth, int screenHeight, int left, int top, int width, int height) {
  tkpixmap::testing::FrameSpec f;
  f.left = left, f.top = top, f.width = width, f.height = height;
  f.indices = plasmaIndices(width, height, 8);
  return tkpixmap::testing::encodeAnimation(screenWidth, screenHeight, plasmaPalette(), {f});
}

// An animation of `frames` frames on a photo-like first frame: sprites (a
// quarter of the screen's sides, their corners transparent) moving over
// it, with disposals 1, 2 and 3 in turn, or (wholeScreen) every frame a
// new photo of the whole screen.  A first frame smaller than the screen
// when firstWidth > 0.
Bytes animation(int width, int height, int frames, bool wholeScreen, int firstWidth = 0,
                int firstHeight = 0) {
  std::vector<tkpixmap::testing::FrameSpec> specs;
  tkpixmap::testing::FrameSpec first;
  first.width = firstWidth > 0 ? firstWidth : width;
  first.height = firstHeight > 0 ? firstHeight : height;
  first.left = (width - first.width) / 3, first.top = (height - first.height) / 3;
  first.indices = plasmaIndices(first.width, first.height, 8);
  specs.push_back(first);
  for (int n = 1; n < frames; ++n) {
    tkpixmap::testing::FrameSpec f;
    if (wholeScreen) {
      f.width = width, f.height = height;
      f.indices = plasmaIndices(width, height, 8 + n % 16);
      f.disposal = 1;
    } else {
      f.width = width / 4, f.height = height / 4;
      f.left = n * 7 % (width - f.width), f.top = n * 5 % (height - f.height);
      f.indices = plasmaIndices(f.width, f.height, 8 + n % 16);
      const int r2 = f.width * f.width / 4;
      for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
          const int dx = 2 * x - f.width, dy = 2 * y - f.height;
          if (dx * dx + dy * dy > 4 * r2) f.indices[size_t(y) * f.width + x] = 255;
        }
      }
      f.transparent = 255;
      f.disposal = 1 + n % 3;
    }
    f.delay = 4;
    specs.push_back(std::move(f));
  }
  return tkpixmap::testing::encodeAnimation(width, height, plasmaPalette(), specs, 0);
}

const std::map<std::string, std::vector<Bytes>> &inputs() {
  static const std::map<std::string, std::vector<Bytes>> all = [] {
    std::map<std::string, std::vector<Bytes>> m;
    m["photo_1024x768"] = {plasma(1024, 768, false)};
    m["photo_2000x1500"] = {plasma(2000, 1500, false)};
    m["photo_interlaced_1024x768"] = {plasma(1024, 768, true)};
    m["flat_2000x1500"] = {flat(2000, 1500)};
    m["noise256_640x480"] = {noise(640, 480, 256)};
    m["noise16_640x480"] = {noise(640, 480, 16)};
    m["dithered_160x120"] = {plasma(160, 120, false, 64)};
    m["dithered_640x480"] = {plasma(640, 480, false, 64)};
    tkpixmap::testing::LzwOptions clearEvery64;
    clearEvery64.clearEvery = 64;
    m["clear_every_64_512x512"] = {plasma(512, 512, false, 8, clearEvery64)};
    m["small_16_to_64"] = smallPhotos({16, 24, 32, 48, 64});
    m["small_36x28"] = {plasma(36, 28, false, 16)};
    m["tile_500x375_of_2000x1500"] = {tile(2000, 1500, 700, 500, 500, 375)};
    m["first_frame_320x240_of_1024x768"] = {animation(1024, 768, 3, false, 320, 240)};
    std::vector<Bytes> corpus = corpusGoodFiles();
    if (!corpus.empty()) m["corpus_good"] = corpus;
    return m;
  }();
  return all;
}

// Animations, for every frame.
const std::map<std::string, std::vector<Bytes>> &animations() {
  static const std::map<std::string, std::vector<Bytes>> all = [] {
    std::map<std::string, std::vector<Bytes>> m;
    m["frames_sprites_100_of_480x360"] = {animation(480, 360, 100, false)};
    m["frames_whole_100_of_320x240"] = {animation(320, 240, 100, true)};
    std::vector<Bytes> corpus = corpusGoodFiles(true);
    if (!corpus.empty()) m["frames_corpus_animated"] = corpus;
    return m;
  }();
  return all;
}

// ------------------------------------------------------------ decoders

Tcl_Interp *interpreter() {
  static Tcl_Interp *interp = [] {
    Tcl_FindExecutable(nullptr);
    Tcl_Interp *i = Tcl_CreateInterp();
    Pixmap_Init(i);  // sets up the library's stubs table
    return i;
  }();
  return interp;
}

size_t decodeOurs(const Bytes &file) {
  FILE *stream = fmemopen(const_cast<uint8_t *>(file.data()), file.size(), "r");
  PixelBlock block;
  memset(&block, 0, sizeof block);
  int width = 0, height = 0;
  myReadGIF(interpreter(), stream, "bench", "gif", &block, 0, 0, &width, &height, 0, 0);
  fclose(stream);
  size_t bytes = size_t(block.pitch) * block.height;
  if (block.pixelPtr != nullptr) {
    benchmark::DoNotOptimize(block.pixelPtr[0]);
    Tcl_Free(reinterpret_cast<char *>(block.pixelPtr));
  }
  return bytes;
}

struct Reader {
  const Bytes *data;
  size_t at;
};

int readMemory(GifFileType *gif, GifByteType *buffer, int count) {
  auto *r = static_cast<Reader *>(gif->UserData);
  size_t n = std::min(size_t(count), r->data->size() - r->at);
  memcpy(buffer, r->data->data() + r->at, n);
  r->at += n;
  return int(n);
}

// giflib as an application uses it: slurp, then expand the first image
// through its colour map into an RGBA screen.
size_t decodeGiflib(const Bytes &file) {
  Reader reader{&file, 0};
  int error;
  GifFileType *gif = DGifOpen(&reader, readMemory, &error);
  if (gif == nullptr) return 0;
  size_t bytes = 0;
  if (DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0) {
    const SavedImage &image = gif->SavedImages[0];
    const ColorMapObject *map =
        image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
    GraphicsControlBlock gcb;
    int transparent = -1;
    if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
    const int sw = gif->SWidth, sh = gif->SHeight;
    std::vector<uint8_t> rgba(size_t(sw) * sh * 4, 0);
    const GifImageDesc &d = image.ImageDesc;
    for (int y = 0; y < d.Height; ++y) {
      int sy = d.Top + y;
      if (sy >= sh) break;
      const GifByteType *row = image.RasterBits + size_t(y) * d.Width;
      uint8_t *out = &rgba[(size_t(sy) * sw + d.Left) * 4];
      int visible = std::min(d.Width, sw - d.Left);
      for (int x = 0; x < visible; ++x, out += 4) {
        int index = row[x];
        if (index == transparent || map == nullptr || index >= map->ColorCount) continue;
        const GifColorType &c = map->Colors[index];
        out[0] = c.Red, out[1] = c.Green, out[2] = c.Blue, out[3] = 255;
      }
    }
    benchmark::DoNotOptimize(rgba.data());
    bytes = rgba.size();
  }
  DGifCloseFile(gif, &error);
  return bytes;
}

size_t decodeStb(const Bytes &file) {
  int w, h, n;
  stbi_uc *pixels = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 4);
  if (pixels == nullptr) return 0;
  benchmark::DoNotOptimize(pixels[0]);
  stbi_image_free(pixels);
  return size_t(w) * h * 4;
}

#if TKPIXMAP_WUFFS_PEER
size_t decodeWuffs(const Bytes &file) { return wuffsPeerDecodeGif(file.data(), file.size()); }
size_t decodeWuffsFrames(const Bytes &file) {
  return wuffsPeerDecodeGifFrames(file.data(), file.size());
}
#endif
#if TKPIXMAP_NSGIF_PEER
size_t decodeNsgif(const Bytes &file) { return nsgifPeerDecodeGif(file.data(), file.size(), 0); }
size_t decodeNsgifFrames(const Bytes &file) {
  return nsgifPeerDecodeGif(file.data(), file.size(), 1);
}
#endif

// Every frame, as a player takes them.
size_t decodeOursFrames(const Bytes &file) {
  using namespace tkpixmap::gif;
  FrameDecoder frames(malloc, free);
  ByteSource source(file.data(), file.size());
  if (frames.open(source) != ReadStatus::ok) return 0;
  const size_t bytes = size_t(frames.screenWidth()) * size_t(frames.screenHeight()) * 4;
  size_t delivered = 0;
  while (frames.next()) {
    benchmark::DoNotOptimize(frames.canvas()[0]);
    delivered += bytes;
  }
  return delivered;
}

template <size_t (*Decode)(const Bytes &)>
void run(benchmark::State &state, const std::string &input) {
  const auto &files = inputs().count(input) != 0 ? inputs().at(input) : animations().at(input);
  size_t pixelBytes = 0;
  for (auto _ : state) {
    for (const Bytes &file : files) pixelBytes += Decode(file);
  }
  // Throughput in output pixels: bytes/s of RGBA written, same for all.
  state.SetBytesProcessed(int64_t(pixelBytes));
}

}  // namespace

namespace {

// The peers should deliver what we do; where they deliver more or fewer
// frames of a file, the rates compare different work, so say so.
void noteDifferentFrameCounts() {
  for (const auto &[name, files] : animations()) {
    for (size_t i = 0; i < files.size(); ++i) {
      const size_t ours = decodeOursFrames(files[i]);
      const std::pair<const char *, size_t> peers[] = {
#if TKPIXMAP_WUFFS_PEER
        {"wuffs", decodeWuffsFrames(files[i])},
#endif
#if TKPIXMAP_NSGIF_PEER
        {"libnsgif", decodeNsgifFrames(files[i])},
#endif
        {"ours", ours},
      };
      for (const auto &[peer, bytes] : peers) {
        if (bytes != ours) {
          fprintf(stderr,
                  "gif_bench: %s file %zu: %s delivers %zu bytes of frames, we %zu (a peer "
                  "may grow the screen to hold frames outside it)\n",
                  name.c_str(), i, peer, bytes, ours);
        }
      }
    }
  }
}

}  // namespace

void bench::registerSuite() {
  noteDifferentFrameCounts();
  for (const auto &[name, files] : inputs()) {
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/ours").c_str(), run<decodeOurs>, name);
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/giflib").c_str(), run<decodeGiflib>,
                                 name);
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/stb_image").c_str(), run<decodeStb>,
                                 name);
#if TKPIXMAP_WUFFS_PEER
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/wuffs").c_str(), run<decodeWuffs>,
                                 name);
#endif
#if TKPIXMAP_NSGIF_PEER
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/libnsgif").c_str(), run<decodeNsgif>,
                                 name);
#endif
  }
  for (const auto &[name, files] : animations()) {
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/ours").c_str(), run<decodeOursFrames>,
                                 name);
#if TKPIXMAP_WUFFS_PEER
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/wuffs").c_str(), run<decodeWuffsFrames>,
                                 name);
#endif
#if TKPIXMAP_NSGIF_PEER
    benchmark::RegisterBenchmark(("gif_decode/" + name + "/libnsgif").c_str(),
                                 run<decodeNsgifFrames>, name);
#endif
  }
#if !TKPIXMAP_WUFFS_PEER
  fprintf(stderr, "gif_bench: built without the Wuffs release; its rows are left out\n");
#endif
#if !TKPIXMAP_NSGIF_PEER
  fprintf(stderr, "gif_bench: built without libnsgif; its rows are left out\n");
#endif
}
