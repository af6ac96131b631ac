// gif_frames_test.cc - FrameDecoder: each animation policy frame by frame
// on small files of our writer, the first frame against readFirstImage
// (our files, every cut of one, the whole corpus), bounded work on
// malformed animations, and every composited frame against Pillow's (our
// animations and the corpus's animated files), apart from the known
// differences listed in one table.

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/gif_decode.h"
#include "tests/support/gif_writer.h"
#include "tkpixmap/gif/frames.h"
#include "tkpixmap/gif/policies.h"

namespace tkpixmap::gif {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FrameSpec;
using testing::GifWriter;
using testing::Rgb;

const fs::path kCorpus = TKPIXMAP_CORPUS_DIR;

// Colours a to h; '.' in a picture is 0,0,0,0.
const std::vector<Rgb> kLetters = {{10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0},
                                   {50, 0, 0}, {60, 0, 0}, {70, 0, 0}, {80, 0, 0}};

std::vector<int> indices(const std::string &letters) {
  std::vector<int> out;
  for (char c : letters) {
    if (c != '/') out.push_back(c - 'a');
  }
  return out;
}

// A canvas as letters, rows separated by '/'.
std::string picture(const std::vector<uint8_t> &rgba, int width) {
  std::string out;
  for (size_t i = 0; i < rgba.size(); i += 4) {
    if (i > 0 && i / 4 % size_t(width) == 0) out += '/';
    if (rgba[i + 3] == 0) {
      out += rgba[i] == 0 && rgba[i + 1] == 0 && rgba[i + 2] == 0 ? '.' : '?';
    } else {
      out += char('a' + rgba[i] / 10 - 1);
    }
  }
  return out;
}

FrameSpec frame(int left, int top, int width, int height, const std::string &letters,
                int disposal = 1, int transparent = -1) {
  FrameSpec f;
  f.left = left, f.top = top, f.width = width, f.height = height;
  f.indices = indices(letters);
  f.disposal = disposal;
  f.transparent = transparent;
  return f;
}

Bytes animation(const std::vector<FrameSpec> &frames, int loop = -1) {
  return testing::encodeAnimation(4, 2, kLetters, frames, loop);
}

// ------------------------------------------------------------ policies, frame by frame

TEST(GifFrames, EachPolicyFrameByFrame) {
  // Frame 1 of the last row: codes clear, b, c, d at code size 3, then the
  // file ends inside the data.
  GifWriter cut;
  cut.signature().screen(4, 2, 0x82).colorTable(kLetters);
  cut.imageDescriptor(0, 0, 4, 2).imageData(3, testing::lzwEncode(indices("hhhhhhhh"), 3));
  cut.imageDescriptor(0, 0, 4, 2)
      .imageData(3, testing::packCodesTracked({8, 1, 2, 3}, 3), 255, false);
  GifWriter noColours;
  noColours.signature().screen(4, 2).imageDescriptor(0, 0, 4, 2, 0x82).colorTable(kLetters);
  noColours.imageData(3, testing::lzwEncode(indices("aaaabbbb"), 3));
  noColours.imageDescriptor(0, 0, 4, 2).imageData(3, testing::lzwEncode(indices("cccccccc"), 3));
  noColours.trailer();
  FrameSpec noControl = frame(0, 0, 4, 2, "aaaa/cccc");
  noControl.control = false;
  const struct {
    Policy policy;
    const char *name;
    Bytes file;
    std::vector<std::string> frames;
  } cases[] = {
      {Policy::unknownDisposalKeeps,
       "disposal 1 keeps",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa"), frame(1, 0, 2, 1, "bb"), frame(0, 1, 1, 1, "c")}),
       {"aaaa/aaaa", "abba/aaaa", "abba/caaa"}},
      {Policy::unknownDisposalKeeps,
       "disposal 0 keeps",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa", 0), frame(1, 0, 2, 1, "bb", 0),
                  frame(0, 1, 1, 1, "c", 0)}),
       {"aaaa/aaaa", "abba/aaaa", "abba/caaa"}},
      {Policy::unknownDisposalKeeps,
       "disposals 4 and 7 keep",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa", 4), frame(1, 0, 2, 1, "bb", 7),
                  frame(0, 1, 1, 1, "c", 5)}),
       {"aaaa/aaaa", "abba/aaaa", "abba/caaa"}},
      {Policy::restoreToBackgroundClears,
       "disposal 2 clears the frame's rectangle",
       animation(
           {frame(0, 0, 4, 2, "aaaa/aaaa"), frame(1, 0, 2, 2, "bb/bb", 2), frame(0, 0, 1, 1, "c")}),
       {"aaaa/aaaa", "abba/abba", "c..a/a..a"}},
      {Policy::restoreToBackgroundClears,
       "disposal 2 of a frame hanging over the screen",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa"), frame(2, 1, 3, 2, "bbb/bbb", 2),
                  frame(0, 0, 1, 1, "c")}),
       {"aaaa/aaaa", "aaaa/aabb", "caaa/aa.."}},
      {Policy::restoreToPreviousPutsBack,
       "disposal 3 puts back what was there",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa"), frame(1, 0, 1, 1, "d"),
                  frame(1, 0, 2, 2, "bb/bb", 3), frame(3, 1, 1, 1, "c")}),
       {"aaaa/aaaa", "adaa/aaaa", "abba/abba", "adaa/aaac"}},
      {Policy::restoreToPreviousPutsBack,
       "disposal 3 twice in a row",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa"), frame(0, 0, 2, 1, "bb", 3),
                  frame(1, 0, 2, 1, "cc", 3), frame(3, 1, 1, 1, "d")}),
       {"aaaa/aaaa", "bbaa/aaaa", "acca/aaaa", "aaaa/aaad"}},
      {Policy::restoreToPreviousPutsBack,
       "disposal 3 of the first frame clears",
       animation({frame(0, 0, 2, 1, "aa", 3), frame(3, 1, 1, 1, "b")}),
       {"aa../....", "..../...b"}},
      {Policy::restoreToBackgroundClears,
       "disposal 2 of the first frame clears",
       animation({frame(1, 0, 2, 2, "aa/aa", 2), frame(3, 1, 1, 1, "b")}),
       {".aa./.aa.", "..../...b"}},
      {Policy::clearPixelsLeaveCanvas,
       "the transparent index leaves the canvas",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa"), frame(0, 0, 4, 2, "bcbc/cbcb", 1, 1)}),
       {"aaaa/aaaa", "acac/caca"}},
      {Policy::clearPixelsLeaveCanvas,
       "values without a colour leave the canvas",
       noColours.bytes(),
       {"aaaa/bbbb", "aaaa/bbbb"}},
      {Policy::controlAppliesToNextImage,
       "a frame without a control block has no transparency",
       animation({frame(0, 0, 4, 2, "abab/abab", 1, 0), noControl}),
       {".b.b/.b.b", "aaaa/cccc"}},
      {Policy::imageClippedToScreen,
       "frames hanging over and wholly outside the screen",
       animation({frame(0, 0, 4, 2, "aaaa/aaaa"), frame(3, 1, 2, 2, "bc/de"),
                  frame(10, 10, 1, 1, "f", 2), frame(0, 0, 0, 0, "", 2), frame(0, 0, 1, 1, "g")}),
       {"aaaa/aaaa", "aaaa/aaab", "aaaa/aaab", "aaaa/aaab", "gaaa/aaab"}},
      {Policy::cutFrameIsLast,
       "a frame cut short is drawn as decoded, and is the last",
       cut.bytes(),
       {"hhhh/hhhh", "bcdh/hhhh"}},
  };
  for (const auto &c : cases) {
    testing::DecodedFrames d = testing::decodeFrames(c.file);
    ASSERT_EQ(d.openStatus, ReadStatus::ok) << c.name;
    EXPECT_EQ(d.status, ReadStatus::ok) << c.name;
    std::vector<std::string> got;
    for (const auto &canvas : d.canvas) got.push_back(picture(canvas, d.width));
    EXPECT_EQ(got, c.frames) << "Policy " << int(c.policy) << ": " << c.name;
  }
}

TEST(GifFrames, FrameInfoAndLoopCount) {
  auto app = [](const char *id, Bytes second) {
    return [=](GifWriter &g) { g.extension(0xFF, {Bytes(id, id + 11), second}); };
  };
  auto file = [](auto before, auto between) {
    GifWriter g;
    g.signature().screen(4, 2, 0x82).colorTable(kLetters);
    before(g);
    g.graphicControl(2 << 2 | 1, 3, 7).imageDescriptor(1, 0, 3, 2);
    g.imageData(3, testing::lzwEncode(indices("abcabc"), 3));
    between(g);
    g.imageDescriptor(70000 & 0xFFFF, 5, 1, 1).imageData(3, testing::lzwEncode({1}, 3));
    g.trailer();
    return g.bytes();
  };
  auto none = [](GifWriter &) {};
  const struct {
    Policy policy;
    const char *name;
    Bytes file;
    int loop;
  } cases[] = {
      {Policy::loopCountBeforeFirstImage, "no loop extension", file(none, none), -1},
      {Policy::loopCountBeforeFirstImage, "NETSCAPE2.0, for ever",
       file(app("NETSCAPE2.0", {1, 0, 0}), none), 0},
      {Policy::loopCountBeforeFirstImage, "NETSCAPE2.0, 513 times",
       file(app("NETSCAPE2.0", {1, 1, 2}), none), 513},
      {Policy::loopCountBeforeFirstImage, "ANIMEXTS1.0", file(app("ANIMEXTS1.0", {1, 3, 0}), none),
       3},
      {Policy::loopCountBeforeFirstImage, "the last before the first image",
       file(
           [&](GifWriter &g) {
             app("NETSCAPE2.0", {1, 4, 0})(g), app("NETSCAPE2.0", {1, 5, 0})(g);
           },
           none),
       5},
      {Policy::loopCountBeforeFirstImage, "after the first image: ignored",
       file(none, app("NETSCAPE2.0", {1, 4, 0})), -1},
      {Policy::loopCountBeforeFirstImage, "sub-block not starting with 1",
       file(app("NETSCAPE2.0", {2, 4, 0}), none), -1},
      {Policy::loopCountBeforeFirstImage, "sub-block too short",
       file(app("NETSCAPE2.0", {1, 4}), none), -1},
      {Policy::loopCountBeforeFirstImage, "another application",
       file(app("XMP DataXMP", {1, 4, 0}), none), -1},
  };
  for (const auto &c : cases) {
    testing::DecodedFrames d = testing::decodeFrames(c.file);
    EXPECT_EQ(d.loopCount, c.loop) << c.name;
    ASSERT_EQ(d.info.size(), 2u) << c.name;
    // Policy::delayAsWritten, controlAppliesToNextImage: the second frame
    // has no control block.
    const FrameInfo &first = d.info[0], &second = d.info[1];
    EXPECT_EQ((std::vector<int>{first.left, first.top, first.width, first.height, first.delayMs,
                                first.disposal, first.transparentIndex}),
              (std::vector<int>{1, 0, 3, 2, 70, 2, 3}))
        << c.name;
    EXPECT_EQ((std::vector<int>{second.left, second.top, second.delayMs, second.disposal,
                                second.transparentIndex}),
              (std::vector<int>{70000 & 0xFFFF, 5, 0, 0, -1}))
        << c.name;
  }
}

TEST(GifFrames, FailuresEndTheFramesWithTheirStatus) {
  auto start = [] {
    GifWriter g;
    g.signature().screen(4, 2, 0x82).colorTable(kLetters);
    g.imageDescriptor(0, 0, 4, 2).imageData(3, testing::lzwEncode(indices("aaaabbbb"), 3));
    return g;
  };
  const struct {
    const char *name;
    Bytes file;
    ReadStatus openStatus, status;
    size_t frames;
  } cases[] = {
      {"not a GIF", {'G', 'I', 'F'}, ReadStatus::badHeader, ReadStatus::badHeader, 0},
      {"0 wide", GifWriter().signature().screen(0, 2).bytes(), ReadStatus::badDimensions,
       ReadStatus::badDimensions, 0},
      {"screen descriptor cut",
       {'G', 'I', 'F', '8', '9', 'a', 4, 0, 2, 0},
       ReadStatus::okNoPixels,
       ReadStatus::okNoPixels,
       0},
      {"global map cut", GifWriter().signature().screen(4, 2, 0x82).raw({1, 2}).bytes(),
       ReadStatus::badColorMap, ReadStatus::badColorMap, 0},
      {"screen above the limit", GifWriter().signature().screen(65535, 65535).trailer().bytes(),
       ReadStatus::tooLarge, ReadStatus::tooLarge, 0},
      {"no image", GifWriter().signature().screen(4, 2).trailer().bytes(), ReadStatus::ok,
       ReadStatus::ok, 0},
      {"second descriptor cut", start().raw({0x2C, 0, 0}).bytes(), ReadStatus::ok,
       ReadStatus::badImageDescriptor, 1},
      {"second code size 12", start().imageDescriptor(0, 0, 1, 1).imageData(12, {0}).bytes(),
       ReadStatus::ok, ReadStatus::badCodeSize, 1},
      {"extension cut after the first frame", start().byte(0x21).byte(0xFE).byte(9).bytes(),
       ReadStatus::ok, ReadStatus::badExtension, 1},
      {"second local map cut", start().imageDescriptor(0, 0, 1, 1, 0x82).raw({1}).bytes(),
       ReadStatus::ok, ReadStatus::badColorMap, 1},
  };
  for (const auto &c : cases) {
    testing::DecodedFrames d = testing::decodeFrames(c.file);
    EXPECT_EQ(d.openStatus, c.openStatus) << c.name;
    EXPECT_EQ(d.status, c.status) << c.name;
    EXPECT_EQ(d.canvas.size(), c.frames) << c.name;
  }
  // An allocation that fails is reported, not fatal.
  testing::DecodedFrames d = testing::decodeFrames(start().trailer().bytes(), 10,
                                                   [](size_t) -> void * { return nullptr; });
  EXPECT_EQ(d.openStatus, ReadStatus::noMemory);
  EXPECT_TRUE(d.canvas.empty());
}

// ------------------------------------------------------------ the first frame is the first image

// The first frame equals what readFirstImage gives for the whole screen,
// and where either fails, both fail alike.  (Buffers compared in place:
// the corpus has screens of hundreds of megabytes.)
void expectFirstFrameIsFirstImage(const Bytes &file, const std::string &name) {
  auto state = std::make_unique<ReadState>();
  ByteSource firstSource(file.data(), file.size());
  ReadRequest request;
  ReadResult first;
  const ReadStatus firstStatus = readFirstImage(firstSource, request, malloc, free, *state, first);
  std::unique_ptr<uint8_t, void (*)(void *)> pixels(first.pixels, free);
  const size_t bytes = size_t(request.width) * size_t(request.height) * 4;

  auto frames = std::make_unique<FrameDecoder>(malloc, free);
  ByteSource source(file.data(), file.size());
  const ReadStatus openStatus = frames->open(source);
  if (openStatus != ReadStatus::ok) {
    EXPECT_EQ(firstStatus, openStatus) << name;
  } else if (!frames->next()) {
    EXPECT_EQ(firstStatus, frames->status()) << name;
    if (firstStatus == ReadStatus::ok) {
      ASSERT_NE(pixels, nullptr) << name;
      EXPECT_EQ(memcmp(pixels.get(), frames->canvas(), bytes), 0) << name;
      EXPECT_EQ(std::count(pixels.get(), pixels.get() + bytes, 0), long(bytes)) << name;
    }
  } else {
    ASSERT_EQ(firstStatus, ReadStatus::ok) << name;
    ASSERT_NE(pixels, nullptr) << name;
    EXPECT_EQ(memcmp(pixels.get(), frames->canvas(), bytes), 0)
        << name << ": first frame differs from first image";
  }
}

std::vector<fs::path> corpusFiles() {
  std::vector<fs::path> files;
  if (!fs::is_directory(kCorpus)) return files;
  for (const auto &entry : fs::recursive_directory_iterator(kCorpus)) {
    if (entry.is_regular_file() && entry.path().extension() == ".gif")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Bytes readAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A lively animation of our writer: every disposal, transparency, offsets,
// frames hanging over or outside the screen, local tables, interlacing.
Bytes mixedAnimation(int width, int height, int frames, unsigned seed, bool firstTransparent) {
  std::mt19937 random(seed);
  std::vector<Rgb> global;
  for (int i = 0; i < 16; ++i)
    global.push_back({uint8_t(i * 16), uint8_t(255 - i * 9), uint8_t(i)});
  std::vector<FrameSpec> specs;
  for (int n = 0; n < frames; ++n) {
    FrameSpec f;
    if (n == 0) {
      f.width = width, f.height = height;
    } else {
      f.width = 1 + int(random() % unsigned(width));
      f.height = 1 + int(random() % unsigned(height));
      f.left = int(random() % unsigned(width + width / 4));
      f.top = int(random() % unsigned(height + height / 4));
    }
    int colours = 16;
    if (n > 0 && random() % 4 == 0) {
      for (int i = 0; i < 8; ++i) f.localColours.push_back({uint8_t(i * 30), 7, uint8_t(200 - i)});
      colours = 8;
    }
    f.indices.resize(size_t(f.width) * size_t(f.height));
    int run = 0, value = 0;
    for (int &index : f.indices) {
      if (run-- <= 0) value = int(random() % unsigned(colours)), run = int(random() % 6);
      index = value;
    }
    // Disposal 0 never follows another: Pillow would apply that one again.
    f.disposal = 1 + int(random() % 3);
    f.transparent = n == 0 ? (firstTransparent ? 2 : -1) : random() % 2 ? int(random() % 5) : -1;
    f.delay = int(random() % 50);
    f.interlaced = random() % 5 == 0;
    specs.push_back(f);
  }
  return testing::encodeAnimation(width, height, global, specs, int(seed % 3));
}

TEST(GifFrames, FirstFrameIsTheFirstImage) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    expectFirstFrameIsFirstImage(mixedAnimation(23, 17, 4, seed, seed % 2 == 0),
                                 "our animation " + std::to_string(seed));
  }
  // Every cut of one.
  const Bytes whole = mixedAnimation(13, 11, 3, 7, true);
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    expectFirstFrameIsFirstImage(Bytes(whole.begin(), whole.begin() + long(cut)),
                                 "cut at " + std::to_string(cut));
  }
  int files = 0;
  for (const fs::path &path : corpusFiles()) {
    expectFirstFrameIsFirstImage(readAll(path), fs::relative(path, kCorpus).string());
    ++files;
  }
  if (fs::is_directory(kCorpus)) {
    EXPECT_GT(files, 400);
  }
}

// ------------------------------------------------------------ malformed animations

// Counts allocations and their sizes.
size_t allocations = 0, allocatedBytes = 0;
void *counting(size_t size) {
  ++allocations;
  allocatedBytes += size;
  return malloc(size);
}

TEST(GifFrames, WorkAndMemoryStayBounded) {
  // Policy::workPerFrameBounded: thousands of frames on a large screen,
  // tiny or huge, growing one pixel at a time, each saved for disposal 3.
  const struct {
    const char *name;
    int width, height, frames;
    bool growing;
    size_t maxBytesBeyondCanvas;  // scratch and save together
  } cases[] = {
      {"20000 one-pixel frames", 2000, 2000, 20000, false, 64},
      {"3000 frames growing by a pixel", 3000, 2, 3000, true, 2 * 2 * 3000 * 2 * 4},
  };
  for (const auto &c : cases) {
    GifWriter g;
    g.signature().screen(c.width, c.height, 0x80).colorTable({{1, 2, 3}, {4, 5, 6}});
    for (int n = 0; n < c.frames; ++n) {
      const int w = c.growing ? n + 1 : 1;
      g.graphicControl(3 << 2, 0).imageDescriptor(n % c.width, n % c.height, w, 1);
      g.imageData(2, testing::lzwEncode(std::vector<int>(size_t(w), 1), 2));
    }
    // and frames far outside the screen, and ones the size of the limit
    for (int n = 0; n < 1000; ++n) {
      g.graphicControl(2 << 2, 0).imageDescriptor(65535, 65535, 65535, 65535).imageData(2, {});
    }
    const Bytes file = g.trailer().bytes();
    allocations = allocatedBytes = 0;
    const auto start = std::chrono::steady_clock::now();
    auto frames = std::make_unique<FrameDecoder>(counting, free);
    ByteSource source(file.data(), file.size());
    ASSERT_EQ(frames->open(source), ReadStatus::ok);
    while (frames->next()) {
    }
    EXPECT_EQ(frames->status(), ReadStatus::ok) << c.name;
    EXPECT_EQ(frames->frameCount(), c.frames + 1000) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.name;
    EXPECT_LE(allocations, 30u) << c.name;
    EXPECT_LE(allocatedBytes, size_t(c.width) * c.height * 4 + c.maxBytesBeyondCanvas) << c.name;
  }
}

TEST(GifFrames, EveryCutOfAnAnimationIsSafe) {
  // Policy::cutFrameIsLast: the frames before the cut are as in the whole
  // file; the last one delivered may be partly drawn.
  const Bytes whole = mixedAnimation(19, 13, 6, 11, true);
  const testing::DecodedFrames full = testing::decodeFrames(whole);
  ASSERT_EQ(full.canvas.size(), 6u);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const testing::DecodedFrames d =
        testing::decodeFrames(Bytes(whole.begin(), whole.begin() + long(cut)));
    ASSERT_LE(d.canvas.size(), full.canvas.size()) << cut;
    for (size_t i = 0; i + 1 < d.canvas.size(); ++i) {
      EXPECT_TRUE(d.canvas[i] == full.canvas[i]) << "cut " << cut << " frame " << i;
    }
  }
}

// ------------------------------------------------------------ against Pillow

struct PillowFrame {
  int disposal = 0, duration = 0;
  std::vector<uint8_t> rgba;
};

// Reads what tests/support/gif_frames_pillow.py writes for many files at
// once, a frame at a time (the corpus's frames come to about 1 GB).
class PillowFrames {
 public:
  explicit PillowFrames(const std::vector<std::string> &paths) {
    std::string command =
        "/usr/bin/python3 '" TKPIXMAP_SOURCE_DIR "/tests/support/gif_frames_pillow.py'";
    for (const std::string &path : paths) command += " '" + path + "'";
    pipe_ = popen(command.c_str(), "r");
  }
  // The exit status of the script (0: every file answered).
  int close() {
    if (pipe_ == nullptr) return -1;
    while (fgetc(pipe_) != EOF) {
    }
    int status = pclose(pipe_);
    pipe_ = nullptr;
    return status;
  }
  ~PillowFrames() { close(); }

  // The next file's header; false when there is none.
  bool nextFile() {
    std::istringstream head(line());
    std::string word;
    if (!(head >> word) || word != "file") return false;
    head >> loop >> width >> height;
    error = false;
    inFile_ = true;
    return true;
  }
  // The file's next frame; false at its end (error tells how it ended).
  bool nextFrame(PillowFrame &frame) {
    if (!inFile_) return false;
    std::istringstream text(line());
    std::string word;
    text >> word;
    if (word != "frame") {
      error = text >> word && word == "error";
      inFile_ = false;
      return false;
    }
    text >> frame.disposal >> frame.duration;
    frame.rgba.resize(size_t(width) * size_t(height) * 4);
    if (fread(frame.rgba.data(), 1, frame.rgba.size(), pipe_) != frame.rgba.size()) {
      inFile_ = false;
      return false;
    }
    return true;
  }
  void skipFile() {
    PillowFrame frame;
    while (nextFrame(frame)) {
    }
  }

  int loop = -1, width = 0, height = 0;
  bool error = false;

 private:
  std::string line() {
    std::string text;
    for (int c; pipe_ != nullptr && (c = fgetc(pipe_)) != EOF && c != '\n';) text += char(c);
    return text;
  }
  FILE *pipe_ = nullptr;
  bool inFile_ = false;
};

// Where Pillow's rule differs from ours on purpose, and how the comparison
// allows for it.  Everything else is compared exactly.
enum class Difference {
  // Pillow keeps a colour table's RGB under alpha 0; ours is 0,0,0,0:
  // every pixel of alpha 0 equals every other.
  clearColour,
  // Pillow shows colour 0 (or the background colour) where no frame has
  // drawn and where disposal 2 restored "to background", opaque once its
  // canvas has no alpha (a first frame without transparency);
  // unreachedPixelsClear and restoreToBackgroundClears give 0,0,0,0.
  // Where ours is clear and a frame was never drawn there, or disposal 2
  // or 3 restored it, Pillow's opaque pixel is allowed.
  backgroundFill,
  // Pillow applies the last non-zero disposal again to frames that give 0
  // or no control block (unknownDisposalKeeps), and treats 4 to 7 as 3:
  // comparison stops at the first frame drawn after disposals differ.
  stickyDisposal,
  // Pillow grows its canvas to hold frames outside the logical screen
  // (imageClippedToScreen): its frames are compared on the screen only.
  growingCanvas,
  // A frame with no colour map at all (no global map, no local one) shows
  // in Pillow as grey levels, its values read as levels
  // (valueWithoutColourIsClear, clearPixelsLeaveCanvas): comparison stops
  // at such a frame.
  greyWithoutColourMap,
  // Pillow reads only NETSCAPE2.0 loop extensions
  // (loopCountBeforeFirstImage): files with an ANIMEXTS1.0 one are not
  // compared on the loop count.
  animextsLoop,
  // Files whose header, screen or colour maps we refuse (ReadStatus), or
  // whose first image has no colour map, Pillow may still show: compared
  // on nothing.
  refusedFile,
  // Pillow stops at data it cannot decode where shortDataKeepsDecoded and
  // cutFrameIsLast go on: only the frames it delivered are compared.
  pillowStopsEarly,
};

// For each image of a well-formed file, whether a colour map (global or
// its own) gives it colours.
std::vector<bool> framesWithColourMap(const Bytes &file) {
  std::vector<bool> out;
  if (file.size() < 13) return out;
  const bool global = (file[10] & 0x80) != 0;
  size_t at = 13 + (global ? 3u * (2u << (file[10] & 7)) : 0);
  auto skipSubBlocks = [&] {
    while (at < file.size() && file[at] != 0) at += 1 + file[at];
    ++at;
  };
  while (at < file.size()) {
    const uint8_t block = file[at++];
    if (block == 0x21) {
      ++at;
      skipSubBlocks();
    } else if (block == 0x2C) {
      if (at + 9 > file.size()) break;
      const uint8_t flags = file[at + 8];
      out.push_back(global || (flags & 0x80) != 0);
      at += 9 + ((flags & 0x80) != 0 ? 3u * (2u << (flags & 7)) : 0) + 1;
      skipSubBlocks();
    } else if (block == 0x3B) {
      break;
    }
  }
  return out;
}

// Which of ours a disposal is: keep (1), background (2), previous (3).
int oursDisposal(int d) { return d == 2 || d == 3 ? d : 1; }
int pillowDisposal(int d) { return d < 2 ? 1 : d == 2 ? 2 : 3; }

struct Comparison {
  size_t frames = 0, framesCompared = 0;  // Pillow's, and those compared
  int loop = -1;
  std::string mismatch;  // empty when all agree
};

// Compares every frame of `file` with Pillow's, read from `pillow`.
Comparison compareWithPillow(const Bytes &file, PillowFrames &pillow) {
  Comparison result;
  auto ours = std::make_unique<FrameDecoder>(malloc, free);
  ByteSource source(file.data(), file.size());
  // Difference::refusedFile
  const bool opened = ours->open(source) == ReadStatus::ok && ours->screenWidth() == pillow.width;
  result.loop = ours->loopCount();
  const std::vector<bool> coloured = framesWithColourMap(file);
  const size_t width = size_t(ours->screenWidth());
  const size_t pixels = width * size_t(ours->screenHeight());
  std::vector<uint8_t> explained(pixels, 1);  // Difference::backgroundFill
  bool comparing = opened;
  int previousDisposal = 1, pillowsPreviousDisposal = 1;
  PillowFrame theirs;
  for (size_t n = 0; pillow.nextFrame(theirs); ++n) {
    ++result.frames;
    if (oursDisposal(previousDisposal) != pillowDisposal(pillowsPreviousDisposal)) {
      comparing = false;  // Difference::stickyDisposal
    }
    pillowsPreviousDisposal = theirs.disposal;
    if (n < coloured.size() && !coloured[n]) comparing = false;  // greyWithoutColourMap
    if (!comparing || !ours->next()) {
      comparing = false;  // Difference::pillowStopsEarly goes the other way only
      continue;
    }
    result.loop = ours->loopCount();
    const uint8_t *a = ours->canvas(), *b = theirs.rgba.data();
    for (size_t p = 0; p < pixels && result.mismatch.empty(); ++p) {
      const uint8_t *x = a + 4 * p, *y = b + 4 * p;
      const bool same = memcmp(x, y, 4) == 0 || (x[3] == 0 && y[3] == 0);  // clearColour
      const bool allowed = x[3] == 0 && explained[p] != 0;                 // backgroundFill
      if (!same && !allowed) {
        std::ostringstream text;
        text << "frame " << n << " pixel " << p % width << "," << p / width << ": ours "
             << int(x[0]) << "," << int(x[1]) << "," << int(x[2]) << "," << int(x[3])
             << " Pillow's " << int(y[0]) << "," << int(y[1]) << "," << int(y[2]) << ","
             << int(y[3]);
        result.mismatch = text.str();
      }
      if (x[3] != 0) explained[p] = 0;
    }
    const FrameInfo &f = ours->frame();
    if (result.mismatch.empty() && f.delayMs != theirs.duration) {
      result.mismatch = "frame " + std::to_string(n) + ": delay " + std::to_string(f.delayMs) +
                        ", Pillow's " + std::to_string(theirs.duration);
    }
    if (!result.mismatch.empty()) {
      pillow.skipFile();
      return result;
    }
    ++result.framesCompared;
    // Pillow's disposal of this frame shows with the next one.
    previousDisposal = f.disposal;
    if (oursDisposal(f.disposal) != 1) {
      for (int y = f.top; y < std::min(f.top + f.height, ours->screenHeight()); ++y) {
        for (int x = f.left; x < std::min(f.left + f.width, ours->screenWidth()); ++x) {
          explained[size_t(y) * width + size_t(x)] = 1;
        }
      }
    }
  }
  return result;
}

TEST(GifFrames, CompositedFramesAgreeWithPillow) {
  // Our animations, written to a temporary folder for Pillow to read.
  const fs::path dir = fs::temp_directory_path() / ("gif_frames_test." + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<std::string> paths;
  std::vector<Bytes> files;
  std::vector<std::string> names;
  for (unsigned seed = 1; seed <= 24; ++seed) {
    const int frames = seed == 24 ? 100 : 2 + int(seed % 6);
    files.push_back(mixedAnimation(8 + int(seed * 3 % 40), 6 + int(seed * 7 % 30), frames, seed,
                                   seed % 4 != 0));
    names.push_back("our animation " + std::to_string(seed));
    paths.push_back((dir / (std::to_string(seed) + ".gif")).string());
    ASSERT_TRUE(testing::writeFile(paths.back(), files.back()));
  }
  const size_t ourFiles = files.size();
  // The corpus's animated files.
  std::ifstream index(kCorpus / "INDEX.tsv");
  std::string line;
  std::getline(index, line);
  while (std::getline(index, line)) {
    std::vector<std::string> columns;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) columns.push_back(field);
    if (columns.size() < 10 || atoi(columns[9].c_str()) < 2) continue;
    paths.push_back((kCorpus / columns[0]).string());
    files.push_back(readAll(kCorpus / columns[0]));
    names.push_back(columns[0]);
  }
  PillowFrames pillow(paths);
  size_t framesCompared = 0, wholeFiles = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(pillow.nextFile()) << "no answer from Pillow (/usr/bin/python3 with PIL, Debian's "
                                   << "python3-pil, is needed) for " << names[i];
    const int pillowLoop = pillow.loop;
    const Comparison c = compareWithPillow(files[i], pillow);
    EXPECT_EQ(c.mismatch, "") << names[i];
    framesCompared += c.framesCompared;
    if (c.framesCompared == c.frames) ++wholeFiles;
    if (i < ourFiles) {
      // Our animations meet none of the differences: every frame compared.
      EXPECT_EQ(c.framesCompared, c.frames) << names[i];
      EXPECT_FALSE(pillow.error) << names[i];
      EXPECT_EQ(c.loop, pillowLoop) << names[i];
    }
  }
  EXPECT_EQ(pillow.close(), 0) << "Pillow (/usr/bin/python3 with PIL) is needed for this test";
  fs::remove_all(dir);
  EXPECT_GT(framesCompared, 500u);
  if (files.size() > ourFiles) {
    EXPECT_GT(wholeFiles, ourFiles + 100);
  }
  printf("compared with Pillow: %zu frames; every frame of %zu of %zu files\n", framesCompared,
         wholeFiles, files.size());
}

}  // namespace
}  // namespace tkpixmap::gif
