// gif_bench.cc - decoding GIF files to RGBA pixels: myReadGIF (from memory,
// through an interpreter as the pixmap command calls it) against giflib
// (DGifSlurp, then the first image expanded through its colour map),
// stb_image and, when its release is beside the project, Wuffs, on the same
// bytes in the same run.
//
// Inputs are made by our own writer from deterministic generators, so the
// suite needs no outside files: a photo-like plasma quantised to 256 colours,
// the same interlaced, a flat image with few colours, incompressible noise
// (about one pixel per code), heavily dithered photos, a stream whose encoder
// clears the table every 64 codes, and small images where the fixed cost of
// a call counts.  The good files of the shared corpus are measured as one set
// when the folder exists.

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <stb/stb_image.h>
#include <stdio.h>
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
#if TKPIXMAP_WUFFS_PEER
#include "bench/wuffs_peer.h"
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

std::vector<Bytes> corpusGoodFiles() {
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
    std::ifstream in(root / columns[0], std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
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
    std::vector<Bytes> corpus = corpusGoodFiles();
    if (!corpus.empty()) m["corpus_good"] = corpus;
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
#endif

template <size_t (*Decode)(const Bytes &)>
void run(benchmark::State &state, const std::string &input) {
  const auto &files = inputs().at(input);
  size_t pixelBytes = 0;
  for (auto _ : state) {
    for (const Bytes &file : files) pixelBytes += Decode(file);
  }
  // Throughput in output pixels: bytes/s of RGBA written, same for all.
  state.SetBytesProcessed(int64_t(pixelBytes));
}

}  // namespace

void bench::registerSuite() {
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
  }
#if !TKPIXMAP_WUFFS_PEER
  fprintf(stderr, "gif_bench: built without the Wuffs release; its rows are left out\n");
#endif
}
