// make_gif_seeds.cc - writes the GIF fuzzer's seed files, made by our own
// writer so that every block type and decoding path is represented.
//   make_gif_seeds DIR

#include <stdio.h>

#include <string>
#include <vector>

#include "tests/support/gif_writer.h"

using namespace tkpixmap::testing;

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  std::vector<Rgb> palette;
  for (int i = 0; i < 256; ++i) palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
  std::vector<int> ramp, noise;
  unsigned seed = 7;
  for (int i = 0; i < 24 * 16; ++i) {
    ramp.push_back(i % 16);
    seed = seed * 1103515245u + 12345u;
    noise.push_back(int(seed >> 24));
  }
  LzwOptions noClear;
  noClear.clearWhenFull = false;
  LzwOptions literals;
  literals.literalsOnly = true;
  literals.clearEvery = 200;
  std::vector<std::pair<std::string, Bytes>> seeds = {
      {"plain", encodeGif(24, 16, palette, ramp)},
      {"interlaced", encodeGif(24, 16, palette, ramp, true)},
      {"transparent", encodeGif(24, 16, palette, ramp, false, 3)},
      {"noise", encodeGif(24, 16, palette, noise, false, -1, 8)},
      {"full-table", encodeGif(64, 64, palette, std::vector<int>(4096, 1), false, -1, 8, noClear)},
      {"literals", encodeGif(24, 16, palette, noise, false, -1, 8, literals)},
      {"code-size-2", encodeGif(4, 4, {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                                std::vector<int>(16, 2))},
  };
  GifWriter blocks;
  blocks.signature("GIF89a").screen(8, 8, 0x81).colorTable({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {9, 9, 9}});
  blocks.extension(0xFF, {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0}});
  blocks.extension(0xFE, {{'h', 'i'}}).extension(0x01, {Bytes(12, 1), {'t'}});
  blocks.graphicControl(1, 2).imageDescriptor(2, 2, 4, 4, 0x80).colorTable(
      {{10, 10, 10}, {20, 20, 20}});
  blocks.imageData(2, lzwEncode(std::vector<int>(16, 1), 2), 3).trailer();
  seeds.emplace_back("all-blocks", blocks.bytes());
  GifWriter small;
  small.signature("GIF87a").screen(1, 1).imageDescriptor(0, 0, 1, 1).imageData(
      2, packCodes({{4, 3}, {1, 3}, {5, 3}}));
  seeds.emplace_back("one-pixel-87a", small.bytes());
  // Animations: every disposal, transparency, offsets, a local table, a
  // frame hanging over the screen and one outside it.
  std::vector<tkpixmap::testing::FrameSpec> frames(6);
  for (size_t n = 0; n < frames.size(); ++n) {
    auto &f = frames[n];
    f.width = n == 0 ? 12 : 5, f.height = n == 0 ? 8 : 3;
    f.left = n == 0 ? 0 : int(n) * 2, f.top = n == 5 ? 20 : int(n);
    f.indices.assign(size_t(f.width) * size_t(f.height), int(n % 4));
    f.disposal = int(n % 4);
    f.transparent = n % 2 == 0 ? 1 : -1;
    f.delay = int(n);
    f.interlaced = n == 3;
    if (n == 2) f.localColours = {{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {9, 9, 9}};
  }
  seeds.emplace_back("animation", tkpixmap::testing::encodeAnimation(12, 8, palette, frames, 0));
  for (const auto &[name, bytes] : seeds) {
    if (!writeFile(dir + "/" + name + ".gif", bytes)) {
      perror(name.c_str());
      return 1;
    }
  }
  return 0;
}
