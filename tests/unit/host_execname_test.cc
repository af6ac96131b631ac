// Executable names of this and other processes.
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "baseutil.h"
#include "execname.h"
#include "tests/support/host_isolation.h"
#include "tests/support/host_log_capture.h"

namespace {

using tkpixmap::testing::LogCapture;

std::string taken(char *text) {
  std::string copy = text != nullptr ? text : "(null)";
  free(text);
  return copy;
}

TEST(HostExecname, OwnNameIsReadOnceAndMatchesTheProcessLink) {
  const char *first = getexecname();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(getexecname(), first);
  char target[4096];
  ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
  ASSERT_GT(length, 0);
  target[length] = '\0';
  EXPECT_STREQ(first, target);
  EXPECT_EQ(taken(pidexecname(getpid())), first);
}

pid_t zombie() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  // Wait until it has ended but has not been collected.
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string pid, name, state;
    stat >> pid >> name >> state;
    if (state == "Z") break;
    usleep(10000);
  }
  return child;
}

pid_t collected() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST(HostExecname, ExitedProcessesFallBack) {
  std::string why = tkpixmap::testing::why_no_forking();
  if (!why.empty()) GTEST_SKIP() << why;
  const struct {
    const char *what;
    pid_t (*process)();
    bool reported;  // "failed to read /proc/PID/cmdline" is logged
  } rows[] = {
      {"ended, not yet collected: its argument list is still there, and empty", zombie, false},
      {"gone: the fall-back file cannot be opened either", collected, true},
      {"no such number", [] { return pid_t{-5}; }, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    const pid_t pid = row.process();
    LogCapture log;
    EXPECT_EQ(taken(pidexecname(pid)), "");
    if (row.reported) {
      EXPECT_EQ(log.count(ELOG_LOG, "failed to read /proc/" + std::to_string(pid) + "/cmdline: "),
                1)
          << log.all();
    } else {
      EXPECT_EQ(log.messages().size(), 0u) << log.all();
    }
    if (pid > 0) waitpid(pid, nullptr, 0);  // the zombie; the others are gone already
  }
}

TEST(HostExecname, UnreadableLinkFallsBackToTheArguments) {
  std::string why = tkpixmap::testing::why_no_namespaces();
  if (!why.empty()) GTEST_SKIP() << why;
  // Another user's executable link is closed to us, its argument list is not.
  pid_t sleeper = fork();
  if (sleeper == 0) {
    execl("/bin/sleep", "/bin/sleep", "30", "0.5", static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(sleeper, 0);
  for (int i = 0; i < 500; ++i) {
    std::ifstream cmdline("/proc/" + std::to_string(sleeper) + "/cmdline");
    std::string text;
    std::getline(cmdline, text);
    if (text.rfind("/bin/sleep", 0) == 0) break;
    usleep(10000);
  }
  EXPECT_EQ(taken(pidexecname(sleeper)).substr(0, 4), "/usr") << "as root, the link itself";
  TKP_RUN_IN_CHILD([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0) GTEST_SKIP() << "cannot become nobody";
    char target[64];
    if (readlink(("/proc/" + std::to_string(sleeper) + "/exe").c_str(), target, sizeof target) >= 0)
      GTEST_SKIP() << "other users' executable links are readable here";
    EXPECT_EQ(taken(pidexecname(sleeper)), "/bin/sleep 30 0.5");
  });
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
}

// Run alone (as ctest does), the threads make the very first calls.
TEST(HostExecnameThreads, ConcurrentFirstCallsAgree) {
  std::atomic<const char *> seen{nullptr};
  std::atomic<int> differing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      const char *name = getexecname();
      const char *expected = nullptr;
      if (!seen.compare_exchange_strong(expected, name) && expected != name)
        differing.fetch_add(1);
      free(pidexecname(getpid()));
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(differing.load(), 0);
  EXPECT_NE(std::string(seen.load()), "");
}

}  // namespace
