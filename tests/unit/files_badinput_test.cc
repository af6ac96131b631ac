// files_badinput_test.cc - gx handles on input that is not an ordinary
// file or command: FIFOs, directories, empty files, a file cut short by
// another process while it is open, an empty command and a command line
// of 100 KB.  Nothing may hang, crash the caller or leave a child behind.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "baseutil.h"
#include "gxline.h"

namespace {

namespace fs = std::filesystem;

char *const kNoEnvironment[] = {nullptr};

class Quiet {
 public:
  Quiet() { elog_set_sink(&Quiet::sink, this); }
  ~Quiet() { elog_set_sink(nullptr, nullptr); }
  std::vector<std::string> messages() {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }

 private:
  static void sink(int, const char *message, void *context) {
    auto *self = static_cast<Quiet *>(context);
    std::lock_guard<std::mutex> hold(self->lock_);
    self->messages_.push_back(message);
  }
  std::mutex lock_;
  std::vector<std::string> messages_;
};

class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/files_badinput.XXXXXX";
    EXPECT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string write(const std::string &name, const std::string &data) const {
    std::string file = path(name);
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    return file;
  }

 private:
  std::string dir_;
};

// gxopen in another thread, with a time limit: a call that blocks fails the
// test instead of stalling the run (the blocked thread is abandoned).
int gxopenWithin(const std::string &path, std::chrono::seconds limit, bool *returned) {
  auto call = std::make_shared<std::packaged_task<int()>>([path] { return gxopen(path.c_str()); });
  std::future<int> result = call->get_future();
  std::thread([call] { (*call)(); }).detach();
  *returned = result.wait_for(limit) == std::future_status::ready;
  return *returned ? result.get() : -1;
}

// ------------------------------------------------------------ odd files

struct OddFile {
  const char *what;
  std::string (*make)(const Scratch &);
};

TEST(FilesBadInput, OddFilesAreRefusedWithoutBlockingOrAHandle) {
  const OddFile cases[] = {
      {"a FIFO with no writer",
       [](const Scratch &s) {
         std::string p = s.path("fifo");
         EXPECT_EQ(mkfifo(p.c_str(), 0600), 0);
         return p;
       }},
      {"a directory", [](const Scratch &s) { return s.path(""); }},
      {"a file of 0 bytes", [](const Scratch &s) { return s.write("empty", ""); }},
      {"a character device", [](const Scratch &) { return std::string("/dev/null"); }},
      {"an endless character device", [](const Scratch &) { return std::string("/dev/zero"); }},
      {"an empty path", [](const Scratch &) { return std::string(""); }},
      {"a path of 5000 bytes", [](const Scratch &) { return "/" + std::string(4999, 'x'); }},
  };
  for (const OddFile &odd : cases) {
    SCOPED_TRACE(odd.what);
    Scratch scratch;
    Quiet quiet;
    const std::string path = odd.make(scratch);
    bool returned = false;
    const int handle = gxopenWithin(path, std::chrono::seconds(5), &returned);
    ASSERT_TRUE(returned) << "gxopen blocked";
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(quiet.messages().size(), 1u);
  }
}

TEST(FilesBadInput, AFifoWithAWriterIsRefusedToo) {
  Scratch scratch;
  Quiet quiet;
  const std::string path = scratch.path("fifo");
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

// ------------------------------------------------------------ cut short while open

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
                        int bufferSize = 256, int maxCalls = INT_MAX) {
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

// A file of three pages of numbered lines, cut short by another process
// after gxopen.  The data is read through a window filled by read calls,
// which end where the file now ends: the data ends at the cut, whether it
// falls inside a page or at a page's end, with no signal (reading through a
// mapping would raise SIGBUS past the page of the cut).
TEST(FilesBadInput, AFileCutShortWhileOpenEndsAtTheCut) {
  Scratch scratch;
  std::string text;
  for (int i = 0; text.size() < 3 * 4096; ++i) text += "line " + std::to_string(i) + " of the file\n";
  struct Cut {
    const char *what;
    off_t size;
  };
  const Cut cuts[] = {
      {"to 100 bytes: inside the first page", 100},
      {"to 0 bytes: every page is past the end", 0},
      {"to one page: the second page is past the end", 4096},
  };
  for (const Cut &cut : cuts) {
    SCOPED_TRACE(cut.what);
    const std::string path = scratch.write("cut", text);
    const CutOutcome outcome = readAfterCut(path, text, cut.size);
    EXPECT_FALSE(outcome.signalled) << "killed by " << strsignal(outcome.signal);
    EXPECT_TRUE(outcome.readTheDataBeforeTheCut);
  }
}

// The same file cut at each of the last sixteen bytes of its first page,
// and a little before: the line that runs into the cut ends there, and
// nothing may touch the second page, which is past the end.
TEST(FilesBadInput, ACutJustBeforeAPageEndEndsTheDataThere) {
  Scratch scratch;
  std::string text;
  for (int i = 0; text.size() < 3 * 4096; ++i) text += "line " + std::to_string(i) + " of the file\n";
  std::vector<off_t> cuts = {3900, 3968, 3969, 4000, 4060};
  for (off_t cut = 4096 - 16; cut < 4096; ++cut) cuts.push_back(cut);
  for (off_t cut : cuts) {
    SCOPED_TRACE(testing::Message() << "cut to " << cut << " bytes");
    const std::string path = scratch.write("cut", text);
    const CutOutcome outcome = readAfterCut(path, text, cut);
    EXPECT_FALSE(outcome.signalled) << "killed by " << strsignal(outcome.signal);
    EXPECT_TRUE(outcome.readTheDataBeforeTheCut);
  }
}

// A stretch of a line that ends exactly where the file was cut (the buffer
// holds exactly the bytes up to the cut): a byte-by-byte reading stays in
// bounds, and so must gxline, which may not look at bytes past the stretch.
TEST(FilesBadInput, AStretchEndingAtTheCutIsReadWithinIt) {
  Scratch scratch;
  struct Stretch {
    const char *what;
    std::string text;
    int bufferSize;
    int calls;  // the last one reads the stretch
  };
  const Stretch stretches[] = {
      {"a page without a newline", std::string(8192, 'x'), 4097, 1},
      {"the rest of a page after a short line", std::string(15, 'a') + "\n" + std::string(8176, 'x'),
       4081, 2},
  };
  for (const Stretch &stretch : stretches) {
    SCOPED_TRACE(stretch.what);
    const std::string path = scratch.write("cut", stretch.text);
    const CutOutcome outcome =
        readAfterCut(path, stretch.text, 4096, stretch.bufferSize, stretch.calls);
    EXPECT_FALSE(outcome.signalled) << "killed by " << strsignal(outcome.signal);
    EXPECT_TRUE(outcome.readTheDataBeforeTheCut);
  }
}

// ------------------------------------------------------------ odd commands

// Reads a pipe handle to its end; the number of bytes seen.
size_t drain(int handle) {
  std::vector<char> line(4096);
  size_t bytes = 0;
  int result;
  while ((result = gxline(handle, line.data(), static_cast<int>(line.size()))) != 0)
    bytes += strlen(line.data()) + (result == 1 ? 1 : 0);
  return bytes;
}

TEST(FilesBadInput, AnEmptyCommandFailsInTheChildOnly) {
  for (const char *command : {"", " ", "   "}) {
    SCOPED_TRACE(std::string("command \"") + command + "\"");
    Quiet quiet;
    int fd = -1;
    const int handle = gxpipe(command, kNoEnvironment, &fd);
    if (handle < 0) continue;  // refused outright: as good
    drain(handle);             // the child's exec failure, collected here
    EXPECT_EQ(gxclose(handle), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
  }
}

TEST(FilesBadInput, ACommandLineOf100KilobytesRunsWhole) {
  Quiet quiet;
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

TEST(FilesBadInput, AProgramNameOf100KilobytesFailsInTheChildOnly) {
  Quiet quiet;
  const std::string command = "/" + std::string(100 * 1024, 'p') + " argument";
  int handle = gxpipe(command.c_str(), kNoEnvironment, nullptr);
  if (handle >= 0) {
    drain(handle);
    EXPECT_EQ(gxclose(handle), 0);
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

}  // namespace
