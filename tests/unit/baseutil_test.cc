// baseutil_test.cc - the base utility library: lists, keyed arrays, the
// error log, path clean-up, the line reader and the installation root.

#include "baseutil.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// ------------------------------------------------------------ lists

TEST(BaseutilList, CountIsTheSecondPointerSizedWord) {
  Tbl *list = newtbl(0);
  int values[5];
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pushtbl(list, &values[i]), i);
  auto *words = reinterpret_cast<intptr_t *>(list);
  EXPECT_EQ(words[1], 5);
  EXPECT_EQ(gettbl(list, 4), &values[4]);
  EXPECT_EQ(gettbl(list, 5), nullptr);
  EXPECT_EQ(gettbl(list, -1), nullptr);
  freetbl(list, nullptr);
}

TEST(BaseutilList, SetReplacesOrAppendsOnlyAtTheEnd) {
  Tbl *list = newtbl(0);
  int a, b, c;
  EXPECT_EQ(settbl(list, 0, &a), 0);  // one past the end appends
  EXPECT_EQ(settbl(list, 1, &b), 0);
  EXPECT_EQ(settbl(list, 0, &c), 0);  // replaces
  EXPECT_EQ(settbl(list, 5, &a), -1);
  EXPECT_EQ(settbl(list, -1, &a), -1);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(gettbl(list, 0), &c);
  EXPECT_EQ(gettbl(list, 1), &b);
  freetbl(list, nullptr);
}

TEST(BaseutilList, GrowsAndServesAsAnArgumentVector) {
  Tbl *list = newtbl(0);
  std::vector<std::string> words;
  for (int i = 0; i < 1000; ++i) words.push_back("w" + std::to_string(i));
  for (auto &w : words) pushtbl(list, w.data());
  pushtbl(list, nullptr);
  char **argv = reinterpret_cast<char **>(addrtbl(list, 0));
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(std::string(argv[i]), words[size_t(i)]);
  EXPECT_EQ(argv[1000], nullptr);
  EXPECT_EQ(addrtbl(list, 1001), nullptr);
  freetbl(list, nullptr);
}

int freed = 0;
void countFree(void *p) {
  ++freed;
  free(p);
}

TEST(BaseutilList, FreeRunsTheRoutineOnEveryEntry) {
  Tbl *list = newtbl(4);
  for (int i = 0; i < 7; ++i) pushtbl(list, malloc(8));
  freed = 0;
  freetbl(list, countFree);
  EXPECT_EQ(freed, 7);
}

TEST(BaseutilList, SplitCutsInPlace) {
  const struct {
    const char *text;
    std::vector<std::string> pieces;
  } cases[] = {
      {"/sbin/ifconfig -a", {"/sbin/ifconfig", "-a"}},
      {"  ls   -l  ", {"ls", "-l"}},
      {"", {}},
      {"   ", {}},
      {"one", {"one"}},
  };
  for (const auto &c : cases) {
    std::string buffer = c.text;
    Tbl *pieces = split(buffer.data(), ' ');
    ASSERT_EQ(pieces->count, intptr_t(c.pieces.size())) << c.text;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      auto *piece = static_cast<char *>(gettbl(pieces, int(i)));
      EXPECT_EQ(std::string(piece), c.pieces[i]);
      EXPECT_GE(piece, buffer.data());  // points into the caller's string
      EXPECT_LT(piece, buffer.data() + buffer.size());
    }
    freetbl(pieces, nullptr);
  }
}

// ------------------------------------------------------------ keyed arrays

TEST(BaseutilArray, StoresReplacesAndCopiesKeys) {
  Arr *array = newarr(nullptr);
  char key[16];
  int values[100];
  for (int i = 0; i < 100; ++i) {
    snprintf(key, sizeof key, "pixmap%d", i);  // the caller reuses its buffer
    setarr(array, key, &values[i]);
  }
  for (int i = 0; i < 100; ++i) {
    snprintf(key, sizeof key, "pixmap%d", i);
    EXPECT_EQ(getarr(array, key), &values[i]);
  }
  EXPECT_EQ(getarr(array, "Pixmap0"), nullptr);  // exact, case-sensitive
  EXPECT_EQ(getarr(array, "pixmap"), nullptr);
  setarr(array, "pixmap7", &values[0]);
  EXPECT_EQ(getarr(array, "pixmap7"), &values[0]);
  Tbl *keys = keysarr(array);
  EXPECT_EQ(keys->count, 100);
  freetbl(keys, nullptr);
  freearr(array, nullptr);
}

TEST(BaseutilArray, KeysComeSortedWhateverTheInsertionOrder) {
  const char *names[] = {"pear", "apple", "fig", "banana", "cherry", "date"};
  Arr *forward = newarr(nullptr);
  Arr *backward = newarr(nullptr);
  for (int i = 0; i < 6; ++i) setarr(forward, names[i], nullptr);
  for (int i = 5; i >= 0; --i) setarr(backward, names[i], nullptr);
  Tbl *a = keysarr(forward);
  Tbl *b = keysarr(backward);
  std::vector<std::string> sorted = {"apple", "banana", "cherry", "date", "fig", "pear"};
  for (size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_EQ(std::string(static_cast<char *>(gettbl(a, int(i)))), sorted[i]);
    EXPECT_EQ(std::string(static_cast<char *>(gettbl(b, int(i)))), sorted[i]);
  }
  freetbl(a, nullptr);
  freetbl(b, nullptr);
  freearr(forward, nullptr);
  freearr(backward, nullptr);
}

int byLength(const char *a, const char *b) {
  size_t la = strlen(a), lb = strlen(b);
  return la != lb ? (la < lb ? -1 : 1) : strcmp(a, b);
}

TEST(BaseutilArray, ComparisonRoutineOrdersTheKeys) {
  Arr *array = newarr(byLength);
  for (const char *k : {"ccc", "a", "bb", "aa"}) setarr(array, k, nullptr);
  Tbl *keys = keysarr(array);
  std::vector<std::string> got;
  for (int i = 0; i < keys->count; ++i) got.emplace_back(static_cast<char *>(gettbl(keys, i)));
  EXPECT_EQ(got, (std::vector<std::string>{"a", "aa", "bb", "ccc"}));
  freetbl(keys, nullptr);
  freearr(array, nullptr);
}

// ------------------------------------------------------------ error log

struct Captured {
  std::vector<std::pair<int, std::string>> messages;
};

void capture(int severity, const char *message, void *context) {
  static_cast<Captured *>(context)->messages.emplace_back(severity, message);
}

TEST(BaseutilLog, SinkReceivesFormattedMessagesWithErrnoText) {
  Captured got;
  elog_set_sink(capture, &got);
  elog_log(0, "Couldn't open '%s'", "x");
  errno = ENOENT;
  elog_complain(1, "stat of %d failed\n", 7);
  elog_set_sink(nullptr, nullptr);
  ASSERT_EQ(got.messages.size(), 2u);
  EXPECT_EQ(got.messages[0], std::make_pair(int(ELOG_LOG), std::string("Couldn't open 'x'")));
  EXPECT_EQ(got.messages[1],
            std::make_pair(int(ELOG_COMPLAIN), std::string("stat of 7 failed: ") + strerror(ENOENT)));
}

TEST(BaseutilLog, StandardErrorGetsProgramColonMessage) {
  elog_set_program("probe");
  ::testing::internal::CaptureStderr();
  elog_log(0, "Out of memory at line %d in '%s'\n\tCan't malloc %u bytes for mapped\n", 12,
           "gxline.cc", 40u);
  std::string text = ::testing::internal::GetCapturedStderr();
  elog_set_program(nullptr);
  EXPECT_EQ(text, "probe: Out of memory at line 12 in 'gxline.cc'\n\tCan't malloc 40 bytes for mapped\n");
}

TEST(BaseutilLog, DieEndsTheProcessWithStatusOne) {
  EXPECT_EXIT(elog_die(0, "Unexpected failure: file %s, line %d\n", "f.cc", 3),
              ::testing::ExitedWithCode(1), "Unexpected failure: file f.cc, line 3");
}

TEST(BaseutilLog, ThreadsLogAtOnce) {
  Captured got;
  static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  auto locked = [](int severity, const char *message, void *context) {
    pthread_mutex_lock(&lock);
    capture(severity, message, context);
    pthread_mutex_unlock(&lock);
  };
  elog_set_sink(locked, &got);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) elog_log(0, "thread %d message %d", t, i);
    });
  }
  for (auto &t : threads) t.join();
  elog_set_sink(nullptr, nullptr);
  EXPECT_EQ(got.messages.size(), 800u);
}

// ------------------------------------------------------------ paths

TEST(BaseutilPath, CleanpathIsLexical) {
  const struct {
    const char *in, *out;
  } cases[] = {
      {"/usr//lib/./x", "/usr/lib/x"}, {"/a/b/../c", "/a/c"},   {"/../..", "/"},
      {"a/../../b", "../b"},           {"./", "."},            {"", "."},
      {"/", "/"},                      {"a/b/", "a/b"},        {"../../x/..", "../.."},
  };
  char result[BU_PATH_MAX];
  for (const auto &c : cases) {
    ASSERT_NE(cleanpath(c.in, 0, result), nullptr) << c.in;
    EXPECT_STREQ(result, c.out) << c.in;
  }
  // Without expansion a tilde is an ordinary name.
  ASSERT_NE(cleanpath("~/x", 0, result), nullptr);
  EXPECT_STREQ(result, "~/x");
}

TEST(BaseutilPath, CleanpathExpandsTildes) {
  char result[BU_PATH_MAX];
  std::string saved = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", "/home/tester", 1);
  ASSERT_NE(cleanpath("~/zoneinfo/../x", 1, result), nullptr);
  EXPECT_STREQ(result, "/home/tester/x");
  ASSERT_NE(cleanpath("~", 1, result), nullptr);
  EXPECT_STREQ(result, "/home/tester");
  setenv("HOME", saved.c_str(), 1);

  struct passwd *root = getpwnam("root");
  ASSERT_NE(root, nullptr);
  ASSERT_NE(cleanpath("~root/a", 1, result), nullptr);
  EXPECT_EQ(std::string(result), std::string(root->pw_dir) + "/a");
  EXPECT_EQ(cleanpath("~no-such-user-here/a", 1, result), nullptr);
}

TEST(BaseutilPath, OverlongPathsFail) {
  char result[BU_PATH_MAX];
  std::string longPath = "/" + std::string(5000, 'a');
  EXPECT_EQ(cleanpath(longPath.c_str(), 1, result), nullptr);
  EXPECT_EQ(abspath(longPath.c_str(), result), nullptr);
  std::string justFits = "/" + std::string(BU_PATH_MAX - 2, 'b');
  EXPECT_NE(cleanpath(justFits.c_str(), 0, result), nullptr);
}

TEST(BaseutilPath, AbspathJoinsTheWorkingDirectory) {
  char cwd[BU_PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  char result[BU_PATH_MAX];
  ASSERT_NE(abspath("x/./y", result), nullptr);
  EXPECT_EQ(std::string(result), std::string(cwd) + "/x/y");
  ASSERT_NE(abspath("/etc/../tmp", result), nullptr);
  EXPECT_STREQ(result, "/tmp");
}

// ------------------------------------------------------------ lines

TEST(BaseutilLines, GetalineStripsNewlinesAndCutsLongLines) {
  const char text[] = "first\n\nthird line is long\r\nlast";
  FILE *in = fmemopen(const_cast<char *>(text), sizeof text - 1, "r");
  char buffer[8];
  std::vector<std::string> lines;
  while (getaline(in, buffer, sizeof buffer)) lines.emplace_back(buffer);
  fclose(in);
  // The long line keeps its first 7 bytes; the rest of it is dropped.
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "", "third l", "last"}));
}

TEST(BaseutilLines, GetalineAtEndAndOnTinyBuffers) {
  FILE *in = fmemopen(const_cast<char *>("ab\ncd\n"), 6, "r");
  char one[1];
  EXPECT_EQ(getaline(in, one, 1), 1);
  EXPECT_EQ(one[0], '\0');
  char buffer[16];
  EXPECT_EQ(getaline(in, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "cd");
  EXPECT_EQ(getaline(in, buffer, sizeof buffer), 0);
  EXPECT_EQ(getaline(in, buffer, 0), 0);
  fclose(in);
}

TEST(BaseutilRoot, EnvironmentOverridesTheInstallPrefix) {
  unsetenv("QUORVALE_ROOT");
  std::string prefix = getquorvale();
  EXPECT_FALSE(prefix.empty());
  EXPECT_EQ(prefix[0], '/');
  setenv("QUORVALE_ROOT", "/opt/site", 1);
  EXPECT_STREQ(getquorvale(), "/opt/site");
  setenv("QUORVALE_ROOT", "", 1);
  EXPECT_EQ(std::string(getquorvale()), prefix);
  unsetenv("QUORVALE_ROOT");
}

}  // namespace
