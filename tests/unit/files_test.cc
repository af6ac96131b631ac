// files_test.cc - gx handles: the line rules on built data and on a file cut
// short while open, tell and seek, handle reuse, refusals of gxopen (odd
// files among them, without blocking), commands through gxpipe (odd and
// very long ones among them), and the absence of leaked descriptors,
// children and temporary files.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#if defined(__linux__)
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/read_buffer.h"
#include "baseutil.h"
#include "gxline.h"
#include "tests/support/files_descriptors.h"

#if defined(__SANITIZE_THREAD__)
#define FILES_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define FILES_TEST_UNDER_TSAN 1
#endif
#endif
#ifndef FILES_TEST_UNDER_TSAN
#define FILES_TEST_UNDER_TSAN 0
#endif

// ThreadSanitizer cannot follow a fork in a threaded process.
#define SKIP_PIPES_UNDER_TSAN()                                     \
  do {                                                              \
    if (FILES_TEST_UNDER_TSAN) GTEST_SKIP() << "fork under TSan"; \
  } while (0)

namespace {

namespace fs = std::filesystem;
using tkpixmap::testing::openDescriptors;

// ------------------------------------------------------------------ helpers

struct LogEntry {
  int severity;
  std::string message;
};

// Captures the error log for the lifetime of the object.
class LogCapture {
 public:
  LogCapture() { elog_set_sink(&LogCapture::sink, this); }
  ~LogCapture() { elog_set_sink(nullptr, nullptr); }

  std::vector<LogEntry> entries() {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_;
  }

 private:
  static void sink(int severity, const char *message, void *context) {
    auto *self = static_cast<LogCapture *>(context);
    std::lock_guard<std::mutex> hold(self->lock_);
    self->entries_.push_back({severity, message});
  }
  std::mutex lock_;
  std::vector<LogEntry> entries_;
};

// A private directory under /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/files_test.XXXXXX";
    EXPECT_NE(mkdtemp(name), nullptr);
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string path(const std::string &name) const { return path_ + "/" + name; }
  std::string write(const std::string &name, const std::string &data) const {
    std::string file = path(name);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    return file;
  }

 private:
  std::string path_;
};

std::set<std::string> gxpipeFilesInTmp() {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator("/tmp")) {
    std::string name = entry.path().filename().string();
    if (name.rfind("gxpipe", 0) == 0) names.insert(name);
  }
  return names;
}

// True when no temporary file of a command has appeared in /tmp since
// `before` was taken.  Other test processes running at the same time make
// such files too, each for the moment between making and unlinking it: only
// one that stays for a second counts as left behind.
bool noGxpipeFileLeftSince(const std::set<std::string> &before) {
  for (int tries = 0; tries < 100; ++tries) {
    bool newOne = false;
    for (const std::string &name : gxpipeFilesInTmp())
      if (before.count(name) == 0) newOne = true;
    if (!newOne) return true;
    usleep(10000);
  }
  return false;
}

// The children of this process, with their states ('Z' once ended).
std::vector<std::pair<pid_t, char>> childrenOfThisProcess() {
  std::vector<std::pair<pid_t, char>> children;
  DIR *dir = opendir("/proc");
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    FILE *stat = fopen(("/proc/" + std::string(entry->d_name) + "/stat").c_str(), "r");
    if (stat == nullptr) continue;
    char line[1024];
    if (fgets(line, sizeof line, stat) != nullptr) {
      // "pid (name) state ppid ...": the name may hold blanks and parentheses.
      const char *after = strrchr(line, ')');
      char state = 0;
      int parent = 0;
      if (after != nullptr && sscanf(after + 1, " %c %d", &state, &parent) == 2 &&
          parent == getpid())
        children.emplace_back(atoi(entry->d_name), state);
    }
    fclose(stat);
  }
  closedir(dir);
  return children;
}

// True when this process has no child at all, reaped or not, once the
// commands of closed handles have ended (within a few seconds) and a later
// gx call has had the chance to collect them.
bool noChildren() {
  // Asks the kernel, collecting nothing itself, until the library has
  // collected every child.  A child's state in /proc is no sign it can be
  // collected: under qemu-user a command's first thread shows Z while its
  // other threads are still ending, and until they have, waitpid passes it by.
  // Generous: under qemu-user on a busy machine a command may take seconds.
  for (int i = 0; i < 3000; ++i) {
    gxtell(-1);  // collects the children of closed handles that have ended
    siginfo_t info;
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD)
      return true;
    usleep(10000);
  }
  for (const auto &child : childrenOfThisProcess())
    fprintf(stderr, "child %d left in state %c\n", static_cast<int>(child.first), child.second);
  return false;
}

// Handles opened while it lives read through read buffers of `bytes` bytes,
// so that lines cross the ends of buffers as they do in files of megabytes.
class ReadBufferOf {
 public:
  explicit ReadBufferOf(int bytes) { tkpixmap::files::setReadBufferBytes(bytes); }
  ~ReadBufferOf() { tkpixmap::files::setReadBufferBytes(kDefault); }
  static constexpr int kDefault = tkpixmap::files::kDefaultReadBufferBytes;
};

// Read buffer sizes for the line tables: the usual one, and buffers of a
// few bytes, whose ends fall inside lines, on newlines and on zero bytes.
const int kReadBufferSizes[] = {ReadBufferOf::kDefault, 1, 2, 3, 7};

// Every line of a handle, pieces of overlong lines joined.
std::vector<std::string> readLines(int handle, int bufferSize = 4096) {
  std::vector<std::string> lines;
  std::vector<char> buffer(static_cast<size_t>(bufferSize));
  std::string line;
  for (;;) {
    int result = gxline(handle, buffer.data(), bufferSize);
    if (result == 0) break;
    line += buffer.data();
    if (result == 1) {
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

int openData(const TempDir &dir, const std::string &data, const std::string &name = "data") {
  return gxopen(dir.write(name, data).c_str());
}

// ------------------------------------------------------------------ line rules

struct Step {
  int result;
  std::string text;
  int tellAfter;
};

struct LineCase {
  const char *name;
  std::string data;
  int bufferSize;
  std::vector<Step> steps;
};

const LineCase kLineCases[] = {
    {"empty line between two", std::string("ab\n\ncd"), 10,
     {{1, "ab", 3}, {1, "", 4}, {1, "cd", 6}, {0, "", 6}}},
    {"cut in pieces", std::string("0123456789"), 5,
     {{2, "0123", 4}, {2, "4567", 8}, {1, "89", 10}, {0, "", 10}}},
    {"cut, then newline", std::string("0123456789\n"), 5,
     {{2, "0123", 4}, {2, "4567", 8}, {1, "89", 11}, {0, "", 11}}},
    {"line exactly fills, newline follows", std::string("abcd\nx"), 5,
     {{2, "abcd", 4}, {1, "", 5}, {1, "x", 6}, {0, "", 6}}},
    {"line one short of full", std::string("abc\n"), 5, {{1, "abc", 4}, {0, "", 4}}},
    {"last line fills exactly, no newline", std::string("abcd"), 5, {{2, "abcd", 4}, {0, "", 4}}},
    {"no final newline", std::string("one\ntwo"), 64, {{1, "one", 4}, {1, "two", 7}, {0, "", 7}}},
    {"zero byte inside a line", std::string("ab\0cd\n", 6), 10,
     {{1, "ab", 2}, {0, "", 2}, {0, "", 2}}},
    {"zero byte first", std::string("\0abc\n", 5), 10, {{0, "", 0}, {0, "", 0}}},
    {"zero byte after pieces", std::string("abcdef\0", 7), 4,
     {{2, "abc", 3}, {2, "def", 6}, {0, "", 6}}},
    {"zero byte right after a newline", std::string("ab\n\0", 4), 10,
     {{1, "ab", 3}, {0, "", 3}}},
    {"CRLF kept as data", std::string("a\r\nb\r\n"), 10, {{1, "a\r", 3}, {1, "b\r", 6}, {0, "", 6}}},
    {"only newlines", std::string("\n\n\n"), 10, {{1, "", 1}, {1, "", 2}, {1, "", 3}, {0, "", 3}}},
    {"smallest buffer", std::string("ab\n"), 2, {{2, "a", 1}, {2, "b", 2}, {1, "", 3}, {0, "", 3}}},
    {"bytes above 127", std::string("\xff\xfe\n\x80"), 8, {{1, "\xff\xfe", 3}, {1, "\x80", 4}, {0, "", 4}}},
};

TEST(GxLineRules, TableOfBuiltData) {
  TempDir dir;
  for (int readBuffer : kReadBufferSizes)
  for (const LineCase &c : kLineCases) {
    SCOPED_TRACE(c.name);
    SCOPED_TRACE(testing::Message() << "read buffer of " << readBuffer);
    ReadBufferOf readBufferSize(readBuffer);
    int handle = openData(dir, c.data);
    ASSERT_GE(handle, 0);
    // A canary after the buffer shows that nothing is written past it.
    std::vector<char> buffer(static_cast<size_t>(c.bufferSize) + 8, '#');
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      int result = gxline(handle, buffer.data(), c.bufferSize);
      EXPECT_EQ(result, c.steps[i].result);
      EXPECT_EQ(std::string(buffer.data()), c.steps[i].text);
      EXPECT_EQ(gxtell(handle), c.steps[i].tellAfter);
      for (size_t k = static_cast<size_t>(c.bufferSize); k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], '#') << "written past the buffer";
    }
    EXPECT_EQ(gxclose(handle), 0);
  }
}

TEST(GxLineRules, BufferTooSmallReturnsZeroAndWritesNothing) {
  TempDir dir;
  int handle = openData(dir, "ab\n");
  ASSERT_GE(handle, 0);
  char buffer[4] = {'x', 'y', 'z', 'w'};
  for (int size : {1, 0, -1, INT_MIN}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(gxline(handle, buffer, size), 0);
    EXPECT_EQ(std::string(buffer, 4), "xyzw");
    EXPECT_EQ(gxtell(handle), 0);
  }
  EXPECT_EQ(gxline(handle, nullptr, 100), 0);
  EXPECT_EQ(gxtell(handle), 0);
  EXPECT_EQ(gxline(handle, buffer, 4), 1);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(gxclose(handle), 0);
}

TEST(GxLineRules, LongLinesOfAFileComeBackWhole) {
  TempDir dir;
  std::string data;
  std::vector<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    std::string line(static_cast<size_t>(i * 37 % 1500), static_cast<char>('a' + i % 26));
    expected.push_back(line);
    data += line + "\n";
  }
  for (int readBuffer : {ReadBufferOf::kDefault, 1000, 4096})
  for (int bufferSize : {2, 3, 16, 4096}) {
    SCOPED_TRACE(bufferSize);
    SCOPED_TRACE(testing::Message() << "read buffer of " << readBuffer);
    ReadBufferOf readBufferSize(readBuffer);
    int handle = openData(dir, data);
    ASSERT_GE(handle, 0);
    EXPECT_EQ(readLines(handle, bufferSize), expected);
    EXPECT_EQ(gxclose(handle), 0);
  }
}

// The line rules one byte at a time: at most bufferSize - 1 bytes, a
// newline ends the line and is consumed, a zero byte ends it and is not.
struct ModelLine {
  int result;
  std::string text;
  int positionAfter;
};

ModelLine modelLine(const std::string &data, int position, int bufferSize) {
  ModelLine line{0, "", position};
  const int room = bufferSize - 1;
  bool ended = false;
  while (static_cast<int>(line.text.size()) < room && line.positionAfter < static_cast<int>(data.size())) {
    const char byte = data[static_cast<size_t>(line.positionAfter)];
    if (byte == '\0') {
      ended = true;
      break;
    }
    ++line.positionAfter;
    if (byte == '\n') {
      ended = true;
      break;
    }
    line.text += byte;
  }
  const int consumed = line.positionAfter - position;
  if (!ended && consumed == room && room > 0)
    line.result = 2;
  else
    line.result = consumed > 0 ? 1 : 0;
  return line;
}

// Lines of every length from 0 to 300, some holding a zero byte, over many
// pages (so that lines start at every distance from a page's end), read
// with buffers around the sizes where the reading changes its way of
// scanning.  Each call is held against the byte model; a zero byte is
// stepped over with gxseek.  Nothing may be written past the terminating
// zero byte.
TEST(GxLineRules, VariedLinesAgainstAByteModel) {
  TempDir dir;
  std::string data;
  for (int i = 0; data.size() < 48 * 1024; ++i) {
    const int length = i * 97 % 301;
    for (int k = 0; k < length; ++k) data += static_cast<char>('!' + (i + k) % 90);
    if (i % 13 == 5 && length > 0) data[data.size() - static_cast<size_t>(length) / 2 - 1] = '\0';
    if (i % 7 != 3) data += '\n';
  }
  for (int readBuffer : {ReadBufferOf::kDefault, 100, 4096 + 7})
  for (int bufferSize : {2, 16, 17, 127, 128, 129, 130, 200, 4096}) {
    SCOPED_TRACE(testing::Message() << "buffer of " << bufferSize << ", read buffer of "
                                    << readBuffer);
    ReadBufferOf readBufferSize(readBuffer);
    const int handle = openData(dir, data);
    ASSERT_GE(handle, 0);
    std::vector<char> buffer(static_cast<size_t>(bufferSize) + 8);
    int position = 0;
    for (int calls = 0; position < static_cast<int>(data.size()); ++calls) {
      ASSERT_LT(calls, 1000000) << "no progress";
      SCOPED_TRACE(testing::Message() << "at " << position);
      const ModelLine expected = modelLine(data, position, bufferSize);
      std::fill(buffer.begin(), buffer.end(), '#');
      ASSERT_EQ(gxline(handle, buffer.data(), bufferSize), expected.result);
      ASSERT_EQ(std::string(buffer.data()), expected.text);
      for (size_t k = expected.text.size() + 1; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], '#') << "written past the line at " << k;
      ASSERT_EQ(gxtell(handle), expected.positionAfter);
      position = expected.positionAfter;
      if (expected.result == 0 && position < static_cast<int>(data.size())) {
        ASSERT_EQ(data[static_cast<size_t>(position)], '\0');
        ASSERT_EQ(gxseek(handle, ++position), 0);
      }
    }
    EXPECT_EQ(gxline(handle, buffer.data(), bufferSize), 0);
    EXPECT_EQ(gxclose(handle), 0);
  }
}

// ------------------------------------------------------------------ cut short while open

// What one child process saw reading the file `text`, written to `path`,
// opened and then cut to `newSize` bytes through another descriptor (as
// another process would).  The child's exit status says whether what it
// read is the data before the cut: all of it when it read to the end, the
// beginning of it when it stopped after `maxCalls` calls.
struct CutOutcome {
  bool signalled;
  int signal;
  bool readTheDataBeforeTheCut;
};

CutOutcome readAfterCut(const std::string &path, const std::string &text, off_t newSize,
                        int bufferSize, int maxCalls) {
  pid_t child = fork();
  if (child == 0) {
    elog_set_sink([](int, const char *, void *) {}, nullptr);
    signal(SIGBUS, SIG_DFL);  // a sanitizer's handler would turn it into an exit
    int handle = gxopen(path.c_str());
    if (handle < 0) _exit(100);
    if (truncate(path.c_str(), newSize) != 0) _exit(101);
    std::vector<char> line(static_cast<size_t>(bufferSize));
    std::string read;
    bool ended = false;
    for (int calls = 0; calls < maxCalls && read.size() <= text.size(); ++calls) {
      const int before = gxtell(handle);
      if (gxline(handle, line.data(), bufferSize) == 0) {
        ended = true;
        break;
      }
      read += line.data();
      if (gxtell(handle) - before > static_cast<int>(strlen(line.data()))) read += '\n';
    }
    gxclose(handle);
    const std::string before = text.substr(0, static_cast<size_t>(newSize));
    _exit((ended ? read == before : before.compare(0, read.size(), read) == 0) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return {true, WTERMSIG(status), false};
  return {false, 0, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// A file cut short by another process after gxopen.  The data is read
// through a read buffer filled by read calls, which end where the file now
// ends: the data ends at the cut, whether it falls inside a page or at a
// page's end, with no signal (reading through a mapping would raise SIGBUS past
// the page of the cut).  Cuts at each of the last sixteen bytes of the
// first page, and a little before, end the line that runs into the cut
// there without touching the second page.  A stretch of a line that ends
// exactly at the cut (the buffer holds exactly the bytes up to it) is read
// within it, as a byte-by-byte reading would be.
TEST(GxLineRules, AFileCutShortWhileOpenEndsAtTheCut) {
  TempDir dir;
  std::string numbered;
  for (int i = 0; numbered.size() < 3 * 4096; ++i)
    numbered += "line " + std::to_string(i) + " of the file\n";
  struct Cut {
    std::string what;
    std::string text;
    off_t size;
    int bufferSize;
    int calls;  // the last one reads up to the cut
  };
  std::vector<Cut> cuts = {
      {"to 100 bytes: inside the first page", numbered, 100, 256, INT_MAX},
      {"to 0 bytes: every page is past the end", numbered, 0, 256, INT_MAX},
      {"to one page: the second page is past the end", numbered, 4096, 256, INT_MAX},
      {"a page without a newline", std::string(8192, 'x'), 4096, 4097, 1},
      {"the rest of a page after a short line",
       std::string(15, 'a') + "\n" + std::string(8176, 'x'), 4096, 4081, 2},
  };
  std::vector<off_t> nearPageEnd = {3900, 3968, 3969, 4000, 4060};
  for (off_t cut = 4096 - 16; cut < 4096; ++cut) nearPageEnd.push_back(cut);
  for (off_t cut : nearPageEnd)
    cuts.push_back({"to " + std::to_string(cut) + " bytes", numbered, cut, 256, INT_MAX});
  for (const Cut &cut : cuts) {
    SCOPED_TRACE(cut.what);
    const std::string path = dir.write("cut", cut.text);
    const CutOutcome outcome = readAfterCut(path, cut.text, cut.size, cut.bufferSize, cut.calls);
    EXPECT_FALSE(outcome.signalled) << "killed by " << strsignal(outcome.signal);
    EXPECT_TRUE(outcome.readTheDataBeforeTheCut);
  }
}

// ------------------------------------------------------------------ tell and seek

TEST(GxSeek, BoundsAndRereading) {
  TempDir dir;
  for (int readBuffer : kReadBufferSizes) {
    SCOPED_TRACE(testing::Message() << "read buffer of " << readBuffer);
    ReadBufferOf readBufferSize(readBuffer);
    const std::string data = "first\nsecond\n";
    const int size = static_cast<int>(data.size());
    int handle = openData(dir, data);
    ASSERT_GE(handle, 0);
    char buffer[32];

    struct Seek {
      int offset;
      int result;
      int tellAfter;
    };
    const Seek seeks[] = {{size, 0, size}, {size + 1, -1, size}, {-1, -1, size},
                          {INT_MAX, -1, size}, {INT_MIN, -1, size}, {0, 0, 0},
                          {8, 0, 8}};
    for (const Seek &s : seeks) {
      SCOPED_TRACE(s.offset);
      EXPECT_EQ(gxseek(handle, s.offset), s.result);
      EXPECT_EQ(gxtell(handle), s.tellAfter);
    }
    // Mid-line: the rest of "second".
    EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "cond");
    EXPECT_EQ(gxseek(handle, size), 0);
    EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(gxseek(handle, 0), 0);
    EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "first");
    EXPECT_EQ(gxclose(handle), 0);
  }
}

// ------------------------------------------------------------------ handles

TEST(GxHandles, LowestFreeHandleIsReusedFirst) {
  TempDir dir;
  std::string path = dir.write("data", "x\n");
  int a = gxopen(path.c_str());
  int b = gxopen(path.c_str());
  int c = gxopen(path.c_str());
  ASSERT_GE(a, 0);
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(c, a + 2);
  EXPECT_EQ(gxclose(b), 0);
  EXPECT_EQ(gxopen(path.c_str()), b);
  EXPECT_EQ(gxclose(a), 0);
  EXPECT_EQ(gxclose(b), 0);
  EXPECT_EQ(gxopen(path.c_str()), a);
  EXPECT_EQ(gxopen(path.c_str()), b);
  EXPECT_EQ(gxopen(path.c_str()), c + 1);  // the table grows at its end
  for (int h : {a, b, c, c + 1}) EXPECT_EQ(gxclose(h), 0);
}

TEST(GxHandles, FirstHandleOfAFreshTableIsZeroAndComesBack) {
  TempDir dir;
  std::string path = dir.write("data", "x\n");
  int first = gxopen(path.c_str());
  ASSERT_EQ(first, 0) << "another test left a handle open";
  EXPECT_EQ(gxclose(0), 0);
  EXPECT_EQ(gxopen(path.c_str()), 0);
  EXPECT_EQ(gxclose(0), 0);
}

TEST(GxHandles, HundredsOfHandlesAreEachTheirOwn) {
  TempDir dir;
  std::vector<std::string> paths;
  std::vector<int> handles;
  for (int i = 0; i < 600; ++i) {
    paths.push_back(dir.write("f" + std::to_string(i), "file " + std::to_string(i) + "\n"));
    handles.push_back(gxopen(paths.back().c_str()));
    ASSERT_EQ(handles.back(), handles.front() + i);
  }
  char buffer[32];
  for (int i = 599; i >= 0; i -= 7) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gxline(handles[i], buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer), "file " + std::to_string(i));
    EXPECT_EQ(gxtell(handles[i]), static_cast<int>(strlen(buffer)) + 1);
  }
  for (int i = 0; i < 600; i += 2) EXPECT_EQ(gxclose(handles[i]), 0);
  // Closed handles, small and large, are unknown now, and come back lowest first.
  for (int i : {0, 298, 300, 598}) EXPECT_EQ(gxline(handles[i], buffer, sizeof buffer), 0);
  EXPECT_EQ(gxopen(paths[5].c_str()), handles[0]);
  EXPECT_EQ(gxline(handles[0], buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "file 5");
  EXPECT_EQ(gxclose(handles[0]), 0);
  for (int i = 1; i < 600; i += 2) EXPECT_EQ(gxclose(handles[i]), 0);
}

TEST(GxHandles, UnknownHandlesAreRefused) {
  TempDir dir;
  int closed = openData(dir, "x\n");
  ASSERT_GE(closed, 0);
  ASSERT_EQ(gxclose(closed), 0);
  for (int handle : {-1, INT_MIN, INT_MAX, 99999, closed}) {
    SCOPED_TRACE(handle);
    char buffer[8] = "intact";
    EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "intact");
    EXPECT_EQ(gxtell(handle), -1);
    EXPECT_EQ(gxseek(handle, 0), -1);
    EXPECT_EQ(gxclose(handle), -1);
  }
}

// ------------------------------------------------------------------ gxopen refusals

TEST(GxOpen, RefusalsAreComplainedAboutWithTheirMessages) {
  TempDir dir;
  std::string empty = dir.write("empty", "");
  std::string fifo = dir.path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string missing = dir.path("missing");
  std::string directory = dir.path("sub");
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);

  struct Refusal {
    std::string path;
    std::string message;  // the text before the errno reason, or all of it
    bool reasonFollows;
  };
  // A reason follows only a failed call: an empty file is no failure of one.
  const Refusal refusals[] = {
      {missing, "Couldn't open " + missing + ": No such file or directory", false},
      {empty, "'" + empty + "' is empty", false},
      {fifo, "'" + fifo + "' is empty", false},  // not left hanging for a writer
      {directory, "Can't map file " + directory + ": ", true},
  };
  std::set<int> before = openDescriptors();
  for (const Refusal &r : refusals) {
    SCOPED_TRACE(r.path);
    LogCapture log;
    EXPECT_EQ(gxopen(r.path.c_str()), -1);
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].severity, ELOG_COMPLAIN);
    if (r.reasonFollows) {
      EXPECT_EQ(entries[0].message.substr(0, r.message.size()), r.message);
      EXPECT_GT(entries[0].message.size(), r.message.size());
    } else {
      EXPECT_EQ(entries[0].message, r.message);
    }
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(GxOpen, FilesBeyondIntSizesAreRefusedNotTruncated) {
  TempDir dir;
  std::string path = dir.path("huge");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  // Sparse: no disk space is used.
  ASSERT_EQ(ftruncate64(fd, static_cast<off64_t>(INT_MAX) + 2), 0);
  close(fd);
  LogCapture log;
  EXPECT_EQ(gxopen(path.c_str()), -1);
  auto entries = log.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].message, "Can't map file " + path + ": File too large");

  // INT_MAX bytes exactly still fit, where the address space has room.
  if (sizeof(void *) < 8) return;
  fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_EQ(ftruncate(fd, INT_MAX), 0);
  ASSERT_EQ(pwrite(fd, "end\n", 4, INT_MAX - 4), 4);
  close(fd);
  int handle = gxopen(path.c_str());
  ASSERT_GE(handle, 0);
  EXPECT_EQ(gxseek(handle, INT_MAX), 0);
  EXPECT_EQ(gxseek(handle, INT_MAX - 4), 0);
  char buffer[8];
  EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "end");
  EXPECT_EQ(gxtell(handle), INT_MAX);
  EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 0);
  EXPECT_EQ(gxclose(handle), 0);
}

// gxopen in another thread, with a time limit: a call that blocks fails the
// test instead of stalling the run (the blocked thread is abandoned).
int gxopenWithin(const std::string &path, std::chrono::seconds limit, bool *returned) {
  auto call = std::make_shared<std::packaged_task<int()>>([path] { return gxopen(path.c_str()); });
  std::future<int> result = call->get_future();
  std::thread([call] { (*call)(); }).detach();
  *returned = result.wait_for(limit) == std::future_status::ready;
  return *returned ? result.get() : -1;
}

TEST(GxOpen, OddFilesAreRefusedWithoutBlockingOrAHandle) {
  struct OddFile {
    const char *what;
    std::string (*make)(const TempDir &);
  };
  const OddFile cases[] = {
      {"a FIFO with no writer",
       [](const TempDir &d) {
         std::string p = d.path("fifo");
         EXPECT_EQ(mkfifo(p.c_str(), 0600), 0);
         return p;
       }},
      {"a directory", [](const TempDir &d) { return d.path(""); }},
      {"a file of 0 bytes", [](const TempDir &d) { return d.write("empty", ""); }},
      {"a character device", [](const TempDir &) { return std::string("/dev/null"); }},
      {"an endless character device", [](const TempDir &) { return std::string("/dev/zero"); }},
      {"an empty path", [](const TempDir &) { return std::string(""); }},
      {"a path of 5000 bytes", [](const TempDir &) { return "/" + std::string(4999, 'x'); }},
  };
  for (const OddFile &odd : cases) {
    SCOPED_TRACE(odd.what);
    TempDir dir;
    LogCapture log;
    const std::string path = odd.make(dir);
    bool returned = false;
    const int handle = gxopenWithin(path, std::chrono::seconds(5), &returned);
    ASSERT_TRUE(returned) << "gxopen blocked";
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(log.entries().size(), 1u);
  }
}

TEST(GxOpen, AFifoWithAWriterIsRefusedToo) {
  TempDir dir;
  LogCapture log;
  const std::string path = dir.path("fifo");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  // Held open for writing with data waiting: a FIFO has no size to map.
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int writer = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "line\n", 5), 5);
  bool returned = false;
  EXPECT_EQ(gxopenWithin(path, std::chrono::seconds(5), &returned), -1);
  EXPECT_TRUE(returned);
  close(writer);
  close(reader);
}

// ------------------------------------------------------------------ commands

char *const kNoEnvironment[] = {nullptr};

std::vector<std::string> runAndRead(const std::string &command, char *const envp[] = kNoEnvironment) {
  int fd = -1;
  int handle = gxpipe(command.c_str(), envp, &fd);
  EXPECT_GE(handle, 0);
  if (handle < 0) return {};
  std::vector<std::string> lines = readLines(handle);
  EXPECT_EQ(gxclose(handle), 0);
  return lines;
}

// What commands write to standard output and standard error, in the
// environment given, comes back as lines.
TEST(GxPipe, CommandsAndTheirLines) {
  SKIP_PIPES_UNDER_TSAN();
  TempDir dir;
  std::string script = dir.write("both.sh",
                                 "#!/bin/sh\n"
                                 "echo \"out $1 $2\"\n"
                                 "echo err >&2\n"
                                 "printf 'no newline'\n");
  char one[] = "ONE=1";
  char two[] = "TWO=two words";
  char *const envp[] = {one, two, nullptr};
  using Lines = std::vector<std::string>;
  const struct {
    const char *what;
    std::string command;
    char *const *envp;
    Lines lines;
  } rows[] = {
      {"output and standard error", script + " a b", kNoEnvironment,
       {"out a b", "err", "no newline"}},
      {"runs of blanks separate words; there is no shell to interpret quotes",
       "  " + script + "   x   'y z' ", kNoEnvironment, {"out x 'y", "err", "no newline"}},
      {"empty lines", "/usr/bin/printf a\\nb\\n\\nc", kNoEnvironment, {"a", "b", "", "c"}},
      {"standard input is at end of file at once: cat has nothing to say", "/bin/cat",
       kNoEnvironment, {}},
      {"the environment is exactly the one given", "/usr/bin/env", envp,
       {"ONE=1", "TWO=two words"}},
      {"a null environment is an empty one", "/usr/bin/env", nullptr, {}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    LogCapture log;  // an empty output is logged
    EXPECT_EQ(runAndRead(row.command, row.envp), row.lines);
  }
}

TEST(GxPipe, EmptyOutputIsLoggedAndReadsAsEnd) {
  SKIP_PIPES_UNDER_TSAN();
  LogCapture log;
  int handle = gxpipe("/bin/true", kNoEnvironment, nullptr);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(gxtell(handle), 0);
  char buffer[16] = "intact";
  EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(gxline(handle, buffer, sizeof buffer), 0);
  auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].severity, ELOG_LOG);
  EXPECT_EQ(entries[0].message, "output is empty");  // no failed call: no reason
  EXPECT_EQ(entries[1].message, "no pid");  // flag 0: no reason appended
  EXPECT_EQ(gxseek(handle, 0), 0);
  EXPECT_EQ(gxseek(handle, 1), -1);
  EXPECT_EQ(gxclose(handle), 0);
  EXPECT_TRUE(noChildren());
}

TEST(GxPipe, ProgramThatCannotBeRunLeavesItsExecMessageToRead) {
  SKIP_PIPES_UNDER_TSAN();
  struct Case {
    std::string command;
    std::string program;
    std::string reason;
  };
  TempDir dir;
  std::string notExecutable = dir.write("plain", "data\n");
  chmod(notExecutable.c_str(), 0644);
  const Case cases[] = {
      {"/nonexistent/program -x y", "/nonexistent/program", "No such file or directory"},
      {"true", "true", "No such file or directory"},  // no search along PATH
      {"   ", "", "No such file or directory"},
      {"", "", "No such file or directory"},
      {dir.path("plain") + " arg", dir.path("plain"), "Permission denied"},
      {"/tmp", "/tmp", "Permission denied"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    int handle = gxpipe(c.command.c_str(), kNoEnvironment, nullptr);
    ASSERT_GE(handle, 0);
    std::vector<std::string> lines = readLines(handle);
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = std::string(program_invocation_short_name) + ": Couldn't exec '" +
                           c.program + "' : '" + c.command + "': ";
    EXPECT_EQ(lines[0].substr(0, expected.size()), expected);
    EXPECT_EQ(lines[0].substr(expected.size()), c.reason);
    EXPECT_EQ(gxclose(handle), 0);
  }
  EXPECT_TRUE(noChildren());
}

TEST(GxPipe, ManyMegabytesOfOutputComeBackInOrder) {
  SKIP_PIPES_UNDER_TSAN();
  const int count = 3000000;  // about 23 MB
  int handle = gxpipe(("/usr/bin/seq 1 " + std::to_string(count)).c_str(), kNoEnvironment, nullptr);
  ASSERT_GE(handle, 0);
  char buffer[32];
  int expected = 1;
  int result;
  while ((result = gxline(handle, buffer, sizeof buffer)) == 1) {
    if (atoi(buffer) != expected) {
      ADD_FAILURE() << "line " << expected << " reads " << buffer;
      break;
    }
    ++expected;
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(expected, count + 1);
  EXPECT_GT(gxtell(handle), 20000000);
  EXPECT_EQ(gxclose(handle), 0);
}

TEST(GxPipe, DescriptorsAreOwnedByTheHandleAndNotInherited) {
  SKIP_PIPES_UNDER_TSAN();
  int fd = -1;
  int unread = gxpipe("/bin/cat", kNoEnvironment, &fd);
  ASSERT_GE(unread, 0);
  // The caller's descriptor is the read end of the command's input pipe.
  struct stat status;
  ASSERT_EQ(fstat(fd, &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

  // A second command started meanwhile inherits neither the first one's pipe
  // nor its temporary file.
  const std::string unreadPipe = "pipe:[" + std::to_string(status.st_ino) + "]";
  std::vector<std::string> listing = runAndRead("/bin/ls -l /proc/self/fd/");
  int standard = 0;
  for (const std::string &line : listing) {
    size_t arrow = line.find(" -> ");
    if (arrow == std::string::npos) continue;
    size_t start = line.rfind(' ', arrow - 1) + 1;
    int number = atoi(line.substr(start, arrow - start).c_str());
    std::string target = line.substr(arrow + 4);
    if (number <= 2) {
      ++standard;
      continue;
    }
    EXPECT_EQ(target.find("gxpipe"), std::string::npos) << line;
    EXPECT_NE(target, unreadPipe) << line;
  }
  EXPECT_EQ(standard, 3);
  EXPECT_EQ(gxclose(unread), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "gxclose leaves the pipe open";
  EXPECT_TRUE(noChildren());
}

std::string statusLine(const char *path, const char *field) {
  FILE *status = fopen(path, "r");
  char line[256];
  std::string found;
  while (status != nullptr && fgets(line, sizeof line, status) != nullptr) {
    if (strncmp(line, field, strlen(field)) == 0) {
      found = line;
      found.pop_back();  // the newline
    }
  }
  if (status != nullptr) fclose(status);
  return found;
}

TEST(GxPipe, CommandRunsWithTheCallersSignalMask) {
  SKIP_PIPES_UNDER_TSAN();
  sigset_t blocked;
  sigset_t saved;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &saved), 0);
  const std::string ours = statusLine("/proc/thread-self/status", "SigBlk:");
  std::vector<std::string> lines = runAndRead("/bin/grep SigBlk: /proc/self/status");
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  EXPECT_NE(ours.find("800"), std::string::npos) << ours;  // SIGUSR2 is bit 11
  EXPECT_EQ(lines, std::vector<std::string>{ours});
  // The signals blocked around fork are unblocked again in the caller.
  sigset_t now;
  pthread_sigmask(SIG_SETMASK, nullptr, &now);
  EXPECT_EQ(sigismember(&now, SIGTERM), 0);
}

// Limits the descriptors so that exactly `free` more can be opened.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int free) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    std::set<int> open = openDescriptors();
    int candidate = 0;
    for (int found = 0;; ++candidate) {
      if (open.count(candidate) == 0 && found++ == free) break;
    }
    rlimit limited = saved_;
    limited.rlim_cur = static_cast<rlim_t>(candidate);
    setrlimit(RLIMIT_NOFILE, &limited);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_;
};

TEST(GxPipe, FailurePathsReleaseWhatTheyMade) {
  SKIP_PIPES_UNDER_TSAN();
  struct Case {
    int freeDescriptors;
    const char *message;
  };
  const Case cases[] = {
      {0, "Couldn't create pipes: Too many open files"},
      {1, "Couldn't create pipes: Too many open files"},
      {2, "mkstemp failed': Too many open files"},
  };
  std::set<int> before = openDescriptors();
  std::set<std::string> tmpBefore = gxpipeFilesInTmp();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.freeDescriptors);
    LogCapture log;
    int handle;
    {
      DescriptorLimit limit(c.freeDescriptors);
      handle = gxpipe("/bin/true", kNoEnvironment, nullptr);
    }
    EXPECT_EQ(handle, -1);
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, c.message);
    EXPECT_EQ(openDescriptors(), before);
  }
  EXPECT_TRUE(noGxpipeFileLeftSince(tmpBefore));
  EXPECT_TRUE(noChildren());
  // The failures took no handle.
  TempDir dir;
  int handle = openData(dir, "x\n");
  EXPECT_EQ(handle, 0);
  EXPECT_EQ(gxclose(handle), 0);
  EXPECT_EQ(gxpipe(nullptr, kNoEnvironment, nullptr), -1);
}

#if defined(__linux__)
// Makes every later attempt of this process to start another one fail with
// EAGAIN, as fork does when the process table is full (which a test run as
// root cannot bring about with RLIMIT_NPROC).  False where seccomp filters
// cannot be installed, such as under qemu-user.
bool refuseForks() {
  static const sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 3, 0),
#ifdef __NR_clone3
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 2, 0),
#else
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
#endif
#ifdef __NR_fork
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fork, 1, 0),
#else
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 1, 0),
#endif
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
  };
  const sock_fprog filter = {static_cast<unsigned short>(sizeof program / sizeof program[0]),
                             const_cast<sock_filter *>(program)};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

TEST(GxPipe, AFailedForkReleasesWhatItMade) {
  SKIP_PIPES_UNDER_TSAN();
  // The refusal is for good, so it is tried in a process of its own, which
  // reports by its exit status what went wrong.
  enum Outcome { ok, cannot_refuse, not_refused, wrong_log, descriptors_left, mask_changed,
                 file_left, handle_taken };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sigset_t callers, after;
    sigemptyset(&callers);
    sigaddset(&callers, SIGUSR1);
    pthread_sigmask(SIG_SETMASK, &callers, nullptr);
    const std::set<int> before = openDescriptors();
    const std::set<std::string> tmpBefore = gxpipeFilesInTmp();
    if (!refuseForks()) _exit(cannot_refuse);
    int handle;
    std::vector<LogEntry> entries;
    {
      LogCapture log;
      handle = gxpipe("/bin/true", kNoEnvironment, nullptr);
      entries = log.entries();
    }
    if (handle != -1) _exit(not_refused);
    const char *expected = "fork failed: Resource temporarily unavailable";
    if (entries.size() != 1 || entries[0].message != expected) _exit(wrong_log);
    if (openDescriptors() != before) _exit(descriptors_left);
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    if (sigismember(&after, SIGUSR1) != 1 || sigismember(&after, SIGTERM) != 0)
      _exit(mask_changed);
    if (!noGxpipeFileLeftSince(tmpBefore)) _exit(file_left);
    // The failure took no handle: the next one opened is the first.
    TempDir dir;
    const int first = gxopen(dir.write("x", "x\n").c_str());
    if (first != 0) _exit(handle_taken);
    _exit(ok);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == cannot_refuse) GTEST_SKIP() << "no seccomp filters here";
  const char *what[] = {"ok", "", "gxpipe succeeded", "the log is not \"fork failed\"",
                        "descriptors were left open", "the signal mask was not restored",
                        "a temporary file was left", "the failure took a handle"};
  EXPECT_EQ(WEXITSTATUS(status), ok) << what[WEXITSTATUS(status) & 7];
}
#endif

// A command that is never read may run for a long time or for ever: closing
// its handle must not wait for it, and once it ends a later gx call
// collects it.
TEST(GxPipe, ClosingARunningCommandNeitherWaitsNorLeavesAZombie) {
  SKIP_PIPES_UNDER_TSAN();
  ASSERT_TRUE(noChildren());
  const int handle = gxpipe("/bin/sleep 1000", kNoEnvironment, nullptr);
  ASSERT_GE(handle, 0);
  const auto children = childrenOfThisProcess();
  ASSERT_EQ(children.size(), 1u);
  const pid_t command = children[0].first;
  // Closed in another thread, so that a close that waits is ended by
  // killing the command rather than stalling the run.
  auto closing = std::async(std::launch::async, [handle] { return gxclose(handle); });
  const bool returned = closing.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  if (returned) {
    EXPECT_EQ(kill(command, 0), 0) << "the command was stopped";
  }
  kill(command, SIGKILL);
  EXPECT_TRUE(returned) << "gxclose waited for the command to end";
  EXPECT_EQ(closing.get(), 0);
  EXPECT_TRUE(noChildren());
}

TEST(GxPipe, HandlesAreSharedWithFilesLowestFirst) {
  SKIP_PIPES_UNDER_TSAN();
  TempDir dir;
  int file = openData(dir, "x\n");
  int pipe = gxpipe("/bin/echo y", kNoEnvironment, nullptr);
  ASSERT_EQ(pipe, file + 1);
  EXPECT_EQ(gxclose(file), 0);
  int again = gxpipe("/bin/echo z", kNoEnvironment, nullptr);
  EXPECT_EQ(again, file);
  EXPECT_EQ(readLines(again), std::vector<std::string>{"z"});
  EXPECT_EQ(readLines(pipe), std::vector<std::string>{"y"});
  EXPECT_EQ(gxclose(again), 0);
  EXPECT_EQ(gxclose(pipe), 0);
}

// Commands that cannot run (empty, or a program name of 100 KB) fail in
// the child, if they are not refused outright: the caller gets its handle
// back to close, and no child is left behind.
TEST(GxPipe, CommandsThatCannotRunFailInTheChildOnly) {
  const std::string commands[] = {"", " ", "   ",
                                  "/" + std::string(100 * 1024, 'p') + " argument"};
  for (const std::string &command : commands) {
    SCOPED_TRACE("command \"" + command.substr(0, 16) + "\"");
    LogCapture log;
    int fd = -1;
    const int handle = gxpipe(command.c_str(), kNoEnvironment, &fd);
    if (handle >= 0) {
      readLines(handle);  // the child's exec failure, collected here
      EXPECT_EQ(gxclose(handle), 0);
    }
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
  }
}

TEST(GxPipe, ACommandLineOf100KilobytesRunsWhole) {
  LogCapture log;
  // 100 KB of short arguments to echo, which prints them back.
  std::string command = "/bin/echo";
  std::string expected;
  while (command.size() < 100 * 1024) {
    command += " abcdefg";
    expected += expected.empty() ? "abcdefg" : " abcdefg";
  }
  int handle = gxpipe(command.c_str(), kNoEnvironment, nullptr);
  ASSERT_GE(handle, 0);
  std::vector<char> buffer(expected.size() + 2);
  EXPECT_EQ(gxline(handle, buffer.data(), static_cast<int>(buffer.size())), 1);
  EXPECT_EQ(std::string(buffer.data()), expected);
  EXPECT_EQ(gxclose(handle), 0);
}

TEST(GxMap, RecordsWithoutAChildOrFileAreOnlyLogged) {
  LogCapture log;
  gxmap(nullptr);
  Mapped record = {nullptr, 0, -1, -1, -1, 0};
  gxmap(&record);
  Mapped noFile = {nullptr, 0, -1, -1, -1, 0};
  SKIP_PIPES_UNDER_TSAN();
  pid_t child = fork();
  if (child == 0) _exit(0);
  noFile.pid = child;
  gxmap(&noFile);
  EXPECT_EQ(noFile.pid, -1);
  EXPECT_EQ(noFile.data, nullptr);
  auto entries = log.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].message, "no pid");
  EXPECT_EQ(entries[1].message, "no open file");
  EXPECT_TRUE(noChildren());
}

// Callers that keep their own records read the mapping gxmap leaves in
// them (handles read through a read buffer instead, which must not change
// this).
TEST(GxMap, ACallersRecordGetsItsCommandsOutputMapped) {
  SKIP_PIPES_UNDER_TSAN();
  char path[] = "/tmp/gxmap_test.XXXXXX";
  const int output = mkostemp(path, O_CLOEXEC);
  ASSERT_GE(output, 0);
  unlink(path);
  const pid_t child = fork();
  if (child == 0) _exit(write(output, "one\ntwo\n", 8) == 8 ? 0 : 1);
  Mapped record = {nullptr, 0, child, output, -1, 5};
  gxmap(&record);
  EXPECT_EQ(record.pid, -1);
  EXPECT_EQ(record.fd, -1);
  EXPECT_EQ(fcntl(output, F_GETFD), -1) << "the output's descriptor is left open";
  ASSERT_NE(record.data, nullptr);
  EXPECT_EQ(record.size, 8);
  EXPECT_EQ(record.position, 0);
  EXPECT_EQ(std::string(record.data, 8), "one\ntwo\n");
  EXPECT_EQ(munmap(const_cast<char *>(record.data), 8), 0);
  EXPECT_TRUE(noChildren());
}

// ------------------------------------------------------------------ leaks

TEST(GxLeaks, ThousandsOfCyclesLeaveNothingBehind) {
  TempDir dir;
  std::string path = dir.write("data", "alpha\nbeta\ngamma\n");
  std::set<int> before = openDescriptors();
  std::set<std::string> tmpBefore = gxpipeFilesInTmp();
  char buffer[64];
  for (int i = 0; i < 3000; ++i) {
    int handle = gxopen(path.c_str());
    ASSERT_GE(handle, 0);
    if (i % 3 != 0) gxline(handle, buffer, sizeof buffer);
    if (i % 3 == 1) readLines(handle);
    ASSERT_EQ(gxclose(handle), 0);
  }
  if (!FILES_TEST_UNDER_TSAN) {
    LogCapture log;  // the empty and failing commands log
    const char *commands[] = {"/bin/echo hello", "/bin/true", "/nonexistent", "/bin/cat"};
    for (int i = 0; i < 1200; ++i) {
      int fd;
      int handle = gxpipe(commands[i % 4], kNoEnvironment, &fd);
      ASSERT_GE(handle, 0);
      if (i % 8 < 4) readLines(handle);  // half are closed unread
      ASSERT_EQ(gxclose(handle), 0);
    }
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_TRUE(noChildren());
  EXPECT_TRUE(noGxpipeFileLeftSince(tmpBefore));
}

// ------------------------------------------------------------------ threads

TEST(GxThreads, ManyThreadsOpenReadAndCloseTheirOwnHandles) {
  TempDir dir;
  const int threadCount = 8;
  std::vector<std::string> paths;
  std::vector<std::vector<std::string>> expected(threadCount);
  for (int t = 0; t < threadCount; ++t) {
    std::string data;
    for (int line = 0; line < 50; ++line) {
      expected[t].push_back("thread " + std::to_string(t) + " line " + std::to_string(line));
      data += expected[t].back() + "\n";
    }
    paths.push_back(dir.write("t" + std::to_string(t), data));
  }
  std::set<int> before = openDescriptors();
  std::atomic<int> failures{0};
  auto runThreads = [&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
      threads.emplace_back([&, t] {
        for (int round = 0; round < 200; ++round) {
          int handle = gxopen(paths[t].c_str());
          if (handle < 0) {
            ++failures;
            continue;
          }
          if (readLines(handle, round % 2 ? 7 : 256) != expected[t]) ++failures;
          if (gxseek(handle, 0) != 0 || gxtell(handle) != 0) ++failures;
          if (gxclose(handle) != 0) ++failures;
        }
      });
    }
    for (auto &thread : threads) thread.join();
  };
  runThreads();  // small handles
  // Again with every small handle taken, so that the threads' handles are
  // large ones.
  std::vector<int> fillers;
  for (int i = 0; i < 300; ++i) fillers.push_back(gxopen(paths[0].c_str()));
  runThreads();
  for (int filler : fillers) EXPECT_EQ(gxclose(filler), 0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(openDescriptors(), before);
}

TEST(GxPipeStress, ConcurrentCommandsFromManyWorkers) {
  SKIP_PIPES_UNDER_TSAN();
  std::set<int> before = openDescriptors();
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 6; ++w) {
    workers.emplace_back([&, w] {
      for (int round = 0; round < 60; ++round) {
        std::string word = "w" + std::to_string(w) + "r" + std::to_string(round);
        int handle = gxpipe(("/bin/echo " + word).c_str(), kNoEnvironment, nullptr);
        if (handle < 0) {
          ++failures;
          continue;
        }
        if (round % 5 != 0 && readLines(handle) != std::vector<std::string>{word}) ++failures;
        if (gxclose(handle) != 0) ++failures;
      }
    });
  }
  for (auto &worker : workers) worker.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_TRUE(noChildren());
}

}  // namespace
