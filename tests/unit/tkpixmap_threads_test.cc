// tkpixmap_threads_test.cc - the pixmap command in several threads at once,
// each with its own interpreter: the process-wide registry and handle counter
// must hand out every name exactly once and lose no image.  Run under the
// tsan preset too.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tcl.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/gif_writer.h"
#include "tkpixmap.h"

namespace {

using tkpixmap::testing::encodeGif;
using tkpixmap::testing::writeFile;

TEST(PixmapThreads, ConcurrentCreatesAndDeletesGiveEveryNameOnce) {
  constexpr int kThreads = 4;
  constexpr int kCreates = 3000;
  Tcl_FindExecutable(nullptr);
  const std::string path = "/tmp/tkpixmap-threads-" + std::to_string(getpid()) + ".gif";
  ASSERT_TRUE(writeFile(path, encodeGif(2, 2, {{1, 2, 3}, {4, 5, 6}}, {0, 1, 1, 0})));

  struct Outcome {
    std::vector<std::string> names;
    int failures = 0;
    std::string firstFailure;
  };
  // Tcl makes its own static mutexes on first use without a lock that the
  // race detector can see; one interpreter's life in this thread first makes
  // them before the threads start (and takes the name pixmap0).
  {
    Tcl_Interp *interp = Tcl_CreateInterp();
    ASSERT_EQ(Pixmap_Init(interp), TCL_OK);
    ASSERT_EQ(Tcl_Eval(interp, ("pixmap delete [pixmap create " + path + "]").c_str()), TCL_OK)
        << Tcl_GetStringResult(interp);
    Tcl_Preserve(interp);
    Tcl_DeleteInterp(interp);
    Tcl_Release(interp);
  }
  std::vector<Outcome> outcomes(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&path, &outcome = outcomes[t]] {
      Tcl_Interp *interp = Tcl_CreateInterp();
      auto run = [&](const std::string &script) {
        if (Tcl_Eval(interp, script.c_str()) == TCL_OK) return true;
        if (outcome.failures++ == 0) outcome.firstFailure = Tcl_GetStringResult(interp);
        return false;
      };
      if (Pixmap_Init(interp) == TCL_OK) {
        for (int i = 0; i < kCreates; ++i) {
          if (!run("pixmap create " + path)) continue;
          const std::string name = Tcl_GetStringResult(interp);
          outcome.names.push_back(name);
          // Every other image is deleted again while the other threads load.
          if (i % 2 == 1) run("pixmap delete " + name);
        }
        // What was not deleted can still be found.
        for (size_t i = 0; i < outcome.names.size(); i += 2)
          run("pixmap " + outcome.names[i] + " width");
      } else {
        outcome.failures = -1;
      }
      Tcl_DeleteInterp(interp);
      Tcl_FinalizeThread();
    });
  }
  for (std::thread &thread : threads) thread.join();
  unlink(path.c_str());

  std::set<std::string> unique;
  size_t total = 0;
  for (const Outcome &outcome : outcomes) {
    EXPECT_EQ(outcome.failures, 0) << outcome.firstFailure;
    total += outcome.names.size();
    unique.insert(outcome.names.begin(), outcome.names.end());
  }
  EXPECT_EQ(total, size_t{kThreads * kCreates});
  EXPECT_EQ(unique.size(), size_t{kThreads * kCreates});
  // This process made no other image: the names are pixmap1 ... pixmapN.
  std::set<std::string> expected;
  for (int i = 1; i <= kThreads * kCreates; ++i) expected.insert("pixmap" + std::to_string(i));
  EXPECT_TRUE(unique == expected);
}

}  // namespace
