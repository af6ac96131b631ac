// gif_corpus_test.cc - every GIF file of the shared corpus (files from other
// projects, read in place when the folder exists): no crash, no leak, and
// for the good files the first image equals what giflib decodes, and what
// the reference RGB dumps hold.  Truncated copies of the good files must be
// handled too.

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/gif_decode.h"

namespace tkpixmap::gif {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kCorpus = TKPIXMAP_CORPUS_DIR;

Bytes readAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Decoded = testing::DecodedGif;
Decoded decode(const Bytes &file) { return testing::decodeGif(file); }

// The corpus index: path -> category ("good" or "bad").
std::map<std::string, std::string> readIndex() {
  std::map<std::string, std::string> index;
  std::ifstream in(kCorpus / "INDEX.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> columns;
    std::stringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) columns.push_back(field);
    if (columns.size() > 11) index[columns[0]] = columns[11];
  }
  return index;
}

// ------------------------------------------------------------ giflib as the peer

struct MemoryReader {
  const Bytes *data;
  size_t at;
};

int readFromMemory(GifFileType *gif, GifByteType *buffer, int count) {
  auto *reader = static_cast<MemoryReader *>(gif->UserData);
  size_t n = std::min(size_t(count), reader->data->size() - reader->at);
  memcpy(buffer, reader->data->data() + reader->at, n);
  reader->at += n;
  return int(n);
}

// The first image the way our reader defines it, with giflib doing the
// decoding: global map, overridden entry by entry by the local map; the
// last graphic control block with its flag set picks the transparent
// index; the image placed by its descriptor and clipped to the screen.
// Empty when giflib cannot decode the first image.
Bytes giflibFirstImage(const Bytes &file) {
  MemoryReader reader{&file, 0};
  int error = 0;
  GifFileType *gif = DGifOpen(&reader, readFromMemory, &error);
  if (gif == nullptr) return {};
  std::unique_ptr<GifFileType, void (*)(GifFileType *)> closer(
      gif, [](GifFileType *g) { DGifCloseFile(g, nullptr); });

  const int screenW = gif->SWidth, screenH = gif->SHeight;
  uint8_t palette[256][4] = {};
  if (gif->SColorMap != nullptr) {
    for (int i = 0; i < gif->SColorMap->ColorCount && i < 256; ++i) {
      GifColorType c = gif->SColorMap->Colors[i];
      palette[i][0] = c.Red, palette[i][1] = c.Green, palette[i][2] = c.Blue, palette[i][3] = 255;
    }
  }
  int transparent = -1;
  Bytes screen(size_t(screenW) * screenH * 4, 0);
  GifRecordType type;
  do {
    if (DGifGetRecordType(gif, &type) != GIF_OK) return {};
    if (type == EXTENSION_RECORD_TYPE) {
      int label;
      GifByteType *block;
      if (DGifGetExtension(gif, &label, &block) != GIF_OK) return {};
      bool firstBlock = true;
      while (block != nullptr) {
        if (label == GRAPHICS_EXT_FUNC_CODE && firstBlock && block[0] >= 4 && (block[1] & 1)) {
          transparent = block[4];
        }
        firstBlock = false;
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return {};
      }
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) != GIF_OK) return {};
      const GifImageDesc &d = gif->Image;
      if (d.ColorMap != nullptr) {
        for (int i = 0; i < d.ColorMap->ColorCount && i < 256; ++i) {
          GifColorType c = d.ColorMap->Colors[i];
          palette[i][0] = c.Red, palette[i][1] = c.Green, palette[i][2] = c.Blue;
          palette[i][3] = 255;
        }
      }
      if (transparent >= 0) memset(palette[transparent], 0, 4);
      std::vector<int> rows;
      if (d.Interlace) {
        const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
          for (int y = start[pass]; y < d.Height; y += step[pass]) rows.push_back(y);
        }
      } else {
        for (int y = 0; y < d.Height; ++y) rows.push_back(y);
      }
      std::vector<GifPixelType> line(size_t(d.Width));
      for (int y : rows) {
        if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return {};
        int sy = d.Top + y;
        if (sy >= screenH) continue;
        for (int x = 0; x < d.Width; ++x) {
          int sx = d.Left + x;
          if (sx >= screenW) continue;
          memcpy(&screen[(size_t(sy) * screenW + sx) * 4], palette[line[size_t(x)]], 4);
        }
      }
      return screen;
    }
  } while (type != TERMINATE_RECORD_TYPE);
  return screen;
}

std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  if (!fs::is_directory(kCorpus)) return files;
  for (const auto &entry : fs::recursive_directory_iterator(kCorpus)) {
    if (entry.is_regular_file() && entry.path().extension() == ".gif") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// ------------------------------------------------------------ tests

TEST(GifCorpus, GoodFilesMatchGiflibAndEveryFileIsSafe) {
  auto files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << kCorpus;
  auto index = readIndex();
  int compared = 0, good = 0;
  for (const fs::path &path : files) {
    std::string name = fs::relative(path, kCorpus).string();
    Bytes file = readAll(path);
    Decoded ours = decode(file);
    if (index[name] != "good") continue;  // bad files: surviving them is the test
    ++good;
    EXPECT_TRUE(ours.status == ReadStatus::ok || ours.status == ReadStatus::okNoPixels) << name;
    Bytes reference = giflibFirstImage(file);
    if (reference.empty() || ours.rgba.empty()) continue;
    ++compared;
    EXPECT_TRUE(ours.rgba == reference) << name << ": first image differs from giflib's";
  }
  EXPECT_GT(good, 100);
  EXPECT_GT(compared, 100) << "too few good files could be compared";
}

TEST(GifCorpus, ReferenceDumpsMatch) {
  // giflib's own RGB dumps of its single-image pictures (transparency ignored).
  const fs::path dir = kCorpus / "giflib";
  if (!fs::is_directory(dir / "expected")) GTEST_SKIP() << "no reference dumps";
  for (const char *name : {"gifgrid", "porsche", "solid2", "treescap", "treescap-interlaced",
                           "x-trans"}) {
    Bytes want = readAll(dir / "expected" / (std::string(name) + ".rgb"));
    Decoded ours = decode(readAll(dir / (std::string(name) + ".gif")));
    ASSERT_EQ(ours.status, ReadStatus::ok) << name;
    ASSERT_EQ(want.size(), ours.rgba.size() / 4 * 3) << name;
    size_t differ = 0;
    for (size_t i = 0, j = 0; i < want.size(); i += 3, j += 4) {
      bool transparentPixel = ours.rgba[j + 3] == 0;
      if (!transparentPixel && memcmp(&want[i], &ours.rgba[j], 3) != 0) ++differ;
    }
    EXPECT_EQ(differ, 0u) << name;
  }
}

TEST(GifCorpus, TruncatedGoodFilesAreSafe) {
  auto files = corpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << kCorpus;
  auto index = readIndex();
  for (const fs::path &path : files) {
    std::string name = fs::relative(path, kCorpus).string();
    if (index[name] != "good") continue;
    Bytes file = readAll(path);
    // Every cut of a small file; a few hundred spread over a large one.
    size_t step = file.size() <= 2048 ? 1 : file.size() / 300;
    for (size_t cut = 0; cut < file.size(); cut += step) {
      Bytes part(file.begin(), file.begin() + long(cut));
      Decoded d = decode(part);
      if (d.status == ReadStatus::ok) {
        EXPECT_EQ(d.rgba.size(), size_t(d.width) * d.height * 4) << name << " cut at " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace tkpixmap::gif
