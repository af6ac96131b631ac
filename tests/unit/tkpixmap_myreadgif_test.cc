// tkpixmap_myreadgif_test.cc - the exported reader as a Tcl caller sees it:
// the exact message of every failure, whether it replaces the interpreter's
// result or is appended to it, what the block holds afterwards, and the
// window arguments.  Runs against the shipped library in a real interpreter.

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <tcl.h>

#include <string>
#include <vector>

#include "tests/support/gif_writer.h"
#include "tkpixmap.h"

namespace {

using tkpixmap::testing::Bytes;
using tkpixmap::testing::GifWriter;

class MyReadGif : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Tcl_FindExecutable(nullptr);
    interp_ = Tcl_CreateInterp();
    ASSERT_EQ(Pixmap_Init(interp_), TCL_OK);  // also sets up the library's stubs
  }

  struct Outcome {
    int status;
    std::string result;
    PixelBlock block;
    int width, height;
  };

  // Reads `file` with the interpreter's result preset to "before: ".
  static Outcome read(const Bytes &file, int width = 0, int height = 0, int originX = 0,
                      int originY = 0) {
    Tcl_SetResult(interp_, const_cast<char *>("before: "), TCL_STATIC);
    FILE *stream = fmemopen(const_cast<uint8_t *>(file.data()), file.size(), "r");
    Outcome out{};
    memset(&out.block, 0, sizeof out.block);
    out.width = width;
    out.height = height;
    out.status = myReadGIF(interp_, stream, "t.gif", "gif", &out.block, 0, 0, &out.width,
                           &out.height, originX, originY);
    fclose(stream);
    out.result = Tcl_GetStringResult(interp_);
    return out;
  }

  static void release(Outcome &out) {
    if (out.block.pixelPtr != nullptr) Tcl_Free(reinterpret_cast<char *>(out.block.pixelPtr));
  }

  static Tcl_Interp *interp_;
};

Tcl_Interp *MyReadGif::interp_ = nullptr;

GifWriter screen() {
  GifWriter gif;
  gif.signature().screen(2, 2, 0x80).colorTable({{1, 1, 1}, {2, 2, 2}});
  return gif;
}

TEST_F(MyReadGif, EveryFailureHasItsMessageSetOrAppended) {
  const struct {
    const char *name;
    Bytes file;
    const char *result;
  } cases[] = {
      {"header", {'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0},
       "before: couldn't read GIF header from file \"t.gif\""},
      {"dimensions", GifWriter().signature("GIF87a").screen(0, 10).bytes(),
       "before: GIF image file \"t.gif\" has dimension(s) <= 0"},
      {"global colour map", GifWriter().signature().screen(1, 1, 0x81).raw({1, 2, 3}).bytes(),
       "before: error reading color map"},
      {"local colour map", screen().imageDescriptor(0, 0, 1, 1, 0x80).raw({1}).bytes(),
       "before: error reading color map"},
      {"extension label", screen().byte(0x21).bytes(),
       "error reading extension function code in GIF image"},
      {"extension", screen().extension(0xFE, {{'x'}}, false).bytes(),
       "error reading extension in GIF image"},
      {"descriptor", screen().raw({0x2C, 1, 2}).bytes(),
       "couldn't read left/top/width/height in GIF image"},
      {"code size 12", screen().imageDescriptor(0, 0, 1, 1).imageData(12, {0}).bytes(),
       "format error in GIF image"},
      {"too large", GifWriter().signature().screen(65535, 65535).trailer().bytes(),
       "before: GIF image file \"t.gif\" is too large (65535 x 65535 pixels)"},
  };
  for (const auto &c : cases) {
    Outcome out = read(c.file);
    EXPECT_EQ(out.status, TCL_ERROR) << c.name;
    EXPECT_EQ(out.result, c.result) << c.name;
    EXPECT_EQ(out.block.pixelPtr, nullptr) << c.name;
  }
}

TEST_F(MyReadGif, MissingCodeSizeGivesTheSystemErrorText) {
  Outcome out = read(screen().imageDescriptor(0, 0, 1, 1).bytes());
  EXPECT_EQ(out.status, TCL_ERROR);
  EXPECT_EQ(out.result.rfind("before: error reading GIF image: ", 0), 0u) << out.result;
  EXPECT_GT(out.result.size(), strlen("before: error reading GIF image: "));
}

TEST_F(MyReadGif, FailureAfterTheBufferLeavesTheBlockWithoutPixels) {
  Outcome out = read(screen().byte(0x21).bytes());
  ASSERT_EQ(out.status, TCL_ERROR);
  EXPECT_EQ(out.block.pixelPtr, nullptr);
  EXPECT_EQ(out.block.width, 2);
  EXPECT_EQ(out.block.pitch, 8);
}

TEST_F(MyReadGif, SuccessFillsTheBlock) {
  Bytes file = tkpixmap::testing::encodeGif(3, 2, {{10, 20, 30}, {40, 50, 60}},
                                             {0, 1, 0, 1, 0, 1});
  Outcome out = read(file);
  ASSERT_EQ(out.status, TCL_OK);
  EXPECT_EQ(out.result, "before: ");  // a success leaves the result alone
  EXPECT_EQ(out.width, 3);
  EXPECT_EQ(out.height, 2);
  EXPECT_EQ(out.block.width, 3);
  EXPECT_EQ(out.block.height, 2);
  EXPECT_EQ(out.block.pitch, 12);
  EXPECT_EQ(out.block.pixelSize, 4);
  EXPECT_EQ(out.block.offset[0], 0);
  EXPECT_EQ(out.block.offset[1], 1);
  EXPECT_EQ(out.block.offset[2], 2);
  ASSERT_NE(out.block.pixelPtr, nullptr);
  const uint8_t want[8] = {10, 20, 30, 255, 40, 50, 60, 255};
  EXPECT_EQ(memcmp(out.block.pixelPtr, want, 8), 0);
  release(out);
}

TEST_F(MyReadGif, WindowsAndQuietEnds) {
  Bytes file = tkpixmap::testing::encodeGif(6, 6, {{1, 1, 1}, {2, 2, 2}}, std::vector<int>(36, 1));
  Outcome clipped = read(file, 5, 5, 2, 3);
  ASSERT_EQ(clipped.status, TCL_OK);
  EXPECT_EQ(clipped.width, 4);
  EXPECT_EQ(clipped.height, 3);
  release(clipped);

  // Success without pixels leaves the block untouched.
  Outcome outside = read(file, 0, 0, 6, 0);
  EXPECT_EQ(outside.status, TCL_OK);
  EXPECT_EQ(outside.block.pixelPtr, nullptr);
  EXPECT_EQ(outside.block.pitch, 0);

  Outcome screenOnly = read({'G', 'I', 'F', '8', '9', 'a', 7, 0, 3, 0});
  EXPECT_EQ(screenOnly.status, TCL_OK);
  EXPECT_EQ(screenOnly.width, 7);
  EXPECT_EQ(screenOnly.height, 3);
  EXPECT_EQ(screenOnly.block.pixelPtr, nullptr);
}

}  // namespace
