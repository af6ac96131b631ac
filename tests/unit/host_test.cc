// Signal names, the one-shot timer, the clock, the password lookup, the
// loader of sibling libraries and the other small platform shims.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "baseutil.h"
#include "shims.h"
#include "tests/support/host_isolation.h"
#include "tests/support/host_log_capture.h"

namespace {
std::atomic<int> sigwaitFailure{0};
}

// The C library's sigwait does not fail for a valid set: this executable
// puts its own in front of it, to see what std_sigwait makes of a failure.
extern "C" int sigwait(const sigset_t *set, int *signo) {
  if (int failure = sigwaitFailure.load(); failure != 0) {
    *signo = SIGTERM;  // what a broken wait may leave behind
    return failure;
  }
  using Real = int (*)(const sigset_t *, int *);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sigwait"));
  return real(set, signo);
}

namespace {

using tkpixmap::testing::LogCapture;

struct SignalRow {
  const char *name;
  int number;
};

// Linux signal numbers, in the order that decides a number's name.
const SignalRow kSignalTable[] = {
    {"HUP", 1},   {"INT", 2},     {"QUIT", 3},  {"ILL", 4},     {"TRAP", 5},   {"IOT", 6},
    {"ABRT", 6},  {"FPE", 8},     {"BUS", 7},   {"SEGV", 11},   {"SYS", 31},   {"PIPE", 13},
    {"ALRM", 14}, {"TERM", 15},   {"USR1", 10}, {"USR2", 12},   {"CLD", 17},   {"CHLD", 17},
    {"PWR", 30},  {"WINCH", 28},  {"URG", 23},  {"POLL", 29},   {"TSTP", 20},  {"CONT", 18},
    {"TTIN", 21}, {"TTOU", 22},   {"VTALRM", 26}, {"PROF", 27}, {"XCPU", 24},  {"XFSZ", 25},
};

TEST(HostSignals, EveryNameTranslatesWithAndWithoutPrefix) {
  for (const SignalRow &row : kSignalTable) {
    for (const std::string &name : {std::string(row.name), "SIG" + std::string(row.name)}) {
      int number = -99;
      EXPECT_EQ(str2sig(name.c_str(), &number), 0) << name;
      EXPECT_EQ(number, row.number) << name;
    }
  }
}

TEST(HostSignals, EveryNumberTakesItsFirstName) {
  for (const SignalRow &row : kSignalTable) {
    const SignalRow *first = nullptr;
    for (const SignalRow &candidate : kSignalTable)
      if (candidate.number == row.number) {
        first = &candidate;
        break;
      }
    char buf[SIG2STR_SIZE];
    ASSERT_EQ(sig2str(row.number, buf), 0) << row.number;
    EXPECT_EQ(std::string(buf), "SIG" + std::string(first->name));
  }
  const struct {
    int number;
    const char *name;
  } duplicates[] = {{6, "SIGIOT"}, {17, "SIGCLD"}, {26, "SIGVTALRM"}};
  for (const auto &row : duplicates) {
    char buf[SIG2STR_SIZE];
    ASSERT_EQ(sig2str(row.number, buf), 0);
    EXPECT_STREQ(buf, row.name);
  }
}

TEST(HostSignals, UnknownNamesAndNumbersLeaveOutputUntouched) {
  for (const char *name : {"hup", "Sighup", "sigHUP", "9", "2", "SIG", "", "KILL", "SIGKILL",
                           "STOP", "SIGRTMIN", "HUPX", "SIGSIGHUP"}) {
    int number = -99;
    EXPECT_EQ(str2sig(name, &number), -1) << name;
    EXPECT_EQ(number, -99) << name;
  }
  for (int number : {0, 9, 16, 19, 32, 34, 64, -1, 1000}) {
    char buf[SIG2STR_SIZE] = "untouched";
    EXPECT_EQ(sig2str(number, buf), -1) << number;
    EXPECT_STREQ(buf, "untouched") << number;
  }
}

std::atomic<int> alarms{0};
void count_alarm(int) { alarms.fetch_add(1); }

void sleep_seconds(double seconds) {
  struct timespec left;
  left.tv_sec = static_cast<time_t>(seconds);
  left.tv_nsec = static_cast<long>((seconds - static_cast<double>(left.tv_sec)) * 1e9);
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

struct itimerval current_timer() {
  struct itimerval now;
  getitimer(ITIMER_REAL, &now);
  return now;
}

TEST(HostTimer, ArmsOnceWithWholeSecondsAndMicroseconds) {
  ASSERT_EQ(std_set_timer(count_alarm, 1.75), 0);
  struct itimerval armed = current_timer();
  EXPECT_EQ(armed.it_interval.tv_sec, 0);
  EXPECT_EQ(armed.it_interval.tv_usec, 0);
  EXPECT_EQ(armed.it_value.tv_sec, 1);
  EXPECT_GT(armed.it_value.tv_usec, 600000);
  EXPECT_LE(armed.it_value.tv_usec, 750000);

  // 0.0 disarms: the handler never runs.
  alarms = 0;
  ASSERT_EQ(std_set_timer(count_alarm, 0.0), 0);
  struct itimerval disarmed = current_timer();
  EXPECT_EQ(disarmed.it_value.tv_sec, 0);
  EXPECT_EQ(disarmed.it_value.tv_usec, 0);
  sleep_seconds(0.1);
  EXPECT_EQ(alarms.load(), 0);
}

TEST(HostTimer, HandlerRunsOnce) {
  alarms = 0;
  ASSERT_EQ(std_set_timer(count_alarm, 0.05), 0);
  for (int i = 0; i < 100 && alarms.load() == 0; ++i) sleep_seconds(0.01);
  sleep_seconds(0.2);  // a repeating timer would have fired again by now
  EXPECT_EQ(alarms.load(), 1);
  struct sigaction installed;
  sigaction(SIGALRM, nullptr, &installed);
  EXPECT_EQ(installed.sa_handler, count_alarm);
}

// A time too short for the timer's microseconds still arms it: success
// must not be reported for a timer that never fires.
TEST(HostTimer, PositiveTimesBelowAMicrosecondStillFire) {
  for (double seconds : {5e-7, 1e-9, 4.9e-324}) {
    alarms = 0;
    ASSERT_EQ(std_set_timer(count_alarm, seconds), 0) << seconds;
    for (int i = 0; i < 100 && alarms.load() == 0; ++i) sleep_seconds(0.01);
    EXPECT_EQ(alarms.load(), 1) << seconds;
  }
}

TEST(HostTimer, RefusedTimesReportSetitimerFailure) {
  for (double seconds : {-1.5, -0.25, double(NAN), 1e12, -1e300, double(INFINITY)}) {
    LogCapture log;
    EXPECT_EQ(std_set_timer(count_alarm, seconds), -1) << seconds;
    EXPECT_EQ(log.count(ELOG_LOG, "setitimer fails"), 1) << seconds << "\n" << log.all();
  }
  EXPECT_EQ(current_timer().it_value.tv_sec, 0);
}

TEST(HostClock, FollowsTheSystemClockAndNeverGoesBack) {
  const double before = static_cast<double>(time(nullptr));
  double previous = std_now();
  EXPECT_GE(previous, before - 1.0);
  EXPECT_LE(previous, before + 2.0);
  for (int i = 0; i < 10000; ++i) {
    double now = (i % 2 == 0) ? std_now() : now_();
    ASSERT_GE(now, previous);
    // The fraction moves in whole microseconds.
    double micro = (now - floor(now)) * 1e6;
    ASSERT_NEAR(micro, round(micro), 0.25);  // a double near 1.7e9 s resolves 0.24 us
    previous = now;
  }
}

const std::string kProbeRoot = std::string(TKPIXMAP_BINARY_DIR) + "/dlopen_root";
const std::string kProbeFile = kProbeRoot + "/lib/libtkpprobe.so.3";

int probe_answer(void *handle) {
  auto answer = reinterpret_cast<int (*)()>(dlsym(handle, "tkp_probe_answer"));
  return answer != nullptr ? answer() : -1;
}

TEST(HostLoader, AbsolutePathOpensExactlyThatFile) {
  void *handle = std_dlopen(kProbeFile.c_str());
  ASSERT_NE(handle, nullptr) << dlerror();
  EXPECT_EQ(probe_answer(handle), 4242);
  dlclose(handle);
  // No prefix or suffix is added to an absolute name.
  EXPECT_EQ(std_dlopen((kProbeRoot + "/lib/libtkpprobe").c_str()), nullptr);
  EXPECT_EQ(std_dlopen((kProbeRoot + "/lib/tkpprobe").c_str()), nullptr);
}

TEST(HostLoader, NameIsLookedUpUnderTheInstallationRoot) {
  std::string why = tkpixmap::testing::why_no_forking();
  if (!why.empty()) GTEST_SKIP() << why;
  // The root is fixed per process, so each setting gets a fresh child.
  for (const std::string &root : {kProbeRoot, kProbeRoot + "/"}) {
    TKP_RUN_IN_CHILD([&] {
      setenv("QUORVALE_ROOT", root.c_str(), 1);
      void *handle = std_dlopen("tkpprobe");
      ASSERT_NE(handle, nullptr) << root << ": " << dlerror();
      EXPECT_EQ(probe_answer(handle), 4242);
      EXPECT_EQ(std_dlopen("nosuchprobe"), nullptr);
      EXPECT_EQ(std_dlopen("libtkpprobe.so.3"), nullptr);
    });
  }
}

TEST(HostLoader, PathsBeyondTheBufferAreRefused) {
  // A name that fits only when cut must not open whatever the cut names.
  std::string padded = kProbeFile;
  padded.insert(padded.rfind('/'), std::string(STD_DLOPEN_PATH_SIZE, '/'));
  const struct {
    std::string name;
    bool silent;  // refused without a report
  } rows[] = {
      {padded, true},
      {std::string(STD_DLOPEN_PATH_SIZE, 'x'), true},
      {std::string(5000, 'l'), false},
      {"/" + std::string(4999, 'l'), false},
      {std::string(STD_DLOPEN_PATH_SIZE, 'l'), false},
      {"", false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name.substr(0, 40) + "... (" + std::to_string(row.name.size()) + " bytes)");
    LogCapture log;
    void *handle = std_dlopen(row.name.c_str());
    EXPECT_EQ(handle, nullptr);
    if (handle != nullptr) dlclose(handle);
    if (row.silent) {
      EXPECT_EQ(log.messages().size(), 0u) << log.all();
    }
  }
}

TEST(HostShims, UnimplementedLogsTheServiceAndPassesTheResultThrough) {
  LogCapture log;
  EXPECT_EQ(UNIMPLEMENTED("frobnicate", -1), -1);
  EXPECT_EQ(UNIMPLEMENTED("std_widget", 7), 7);
  auto messages = log.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].severity, ELOG_LOG);
  EXPECT_EQ(messages[0].text, "frobnicate is unimplemented on this platform");
  EXPECT_EQ(messages[1].text, "std_widget is unimplemented on this platform");
}

TEST(HostShims, PasswordLookupCopiesTheRecordOrZeroesIt) {
  struct passwd record;
  ASSERT_EQ(std_getpwnam("root", &record), 0);
  EXPECT_STREQ(record.pw_name, "root");
  EXPECT_EQ(record.pw_uid, 0u);
  EXPECT_EQ(record.pw_gid, 0u);
  EXPECT_NE(record.pw_dir, nullptr);
  EXPECT_NE(record.pw_shell, nullptr);

  memset(&record, 0x5a, sizeof record);
  EXPECT_EQ(std_getpwnam("no-such-user-tkp", &record), -1);
  struct passwd zero;
  memset(&zero, 0, sizeof zero);
  EXPECT_EQ(memcmp(&record, &zero, sizeof record), 0);
}

TEST(HostShimsThreads, PasswordLookupsDoNotMixResults) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      const char *name = t % 2 == 0 ? "root" : "daemon";
      struct passwd expected;
      if (std_getpwnam(name, &expected) != 0) return;
      for (int i = 0; i < 200; ++i) {
        struct passwd record;
        // Only the copied numbers are compared: the strings belong to the C
        // library and change with any later lookup.
        if (std_getpwnam(name, &record) != 0 || record.pw_uid != expected.pw_uid ||
            record.pw_gid != expected.pw_gid)
          wrong.fetch_add(1);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(HostShims, TellReportsTheOffsetOrFailure) {
  char name[] = "/tmp/tkp-tell-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  unlink(name);
  EXPECT_EQ(tell(fd), 0);
  ASSERT_EQ(write(fd, "hello", 5), 5);
  EXPECT_EQ(tell(fd), 5);
  lseek(fd, 2, SEEK_SET);
  EXPECT_EQ(tell(fd), 2);
  close(fd);
  EXPECT_EQ(tell(fd), -1);  // closed
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  EXPECT_EQ(tell(ends[0]), -1);  // pipes have no position
  close(ends[0]);
  close(ends[1]);
}

// A wait that fails gives -1, never a number left over from an earlier
// wait; one that succeeds gives the pending signal.
TEST(HostShims, SigwaitGivesThePendingSignalOrMinusOne) {
  struct WaitRow {
    int failure;  // what the C library's sigwait returns, 0 for the real call
    int pending;  // the signal raised before the wait, 0 for none
    int expected;
  };
  const WaitRow rows[] = {
      {EINVAL, 0, -1},
      {EINTR, 0, -1},
      {0, SIGUSR1, SIGUSR1},
      {0, SIGUSR2, SIGUSR2},
  };
  for (const WaitRow &row : rows) {
    SCOPED_TRACE(testing::Message() << "failure " << row.failure << ", signal " << row.pending);
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, row.pending != 0 ? row.pending : SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &set, &old), 0);
    if (row.pending != 0) {
      ASSERT_EQ(raise(row.pending), 0);
    }
    sigwaitFailure = row.failure;
    EXPECT_EQ(std_sigwait(&set), row.expected);
    sigwaitFailure = 0;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
}

TEST(HostShims, IgnoredSigpipeTurnsIntoEpipe) {
  ignoreSIGPIPE();
  struct sigaction installed;
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &installed), 0);
  EXPECT_EQ(installed.sa_handler, SIG_IGN);
  EXPECT_TRUE(installed.sa_flags & SA_RESTART);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  errno = 0;
  EXPECT_EQ(write(ends[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(ends[1]);
}

TEST(HostShims, NomemTakesTwoWordsAndReturnsZero) {
  // Word-sized: pointer-wide on every host, so pointers and sizes both fit.
  static_assert(std::is_same_v<decltype(&nomem), int (*)(intptr_t, intptr_t)>);
  static_assert(sizeof(intptr_t) == sizeof(void *));
  EXPECT_EQ(nomem(0, 0), 0);
  EXPECT_EQ(nomem(reinterpret_cast<intptr_t>(&kProbeRoot), -1), 0);
}

}  // namespace
