// Platform shims: signal names, the one-shot alarm, the wall clock, the
// serialised password lookup, descriptor position, signal wait, loading of
// sibling libraries from the installation root, ignoring SIGPIPE, and the
// report for a service the platform lacks.
#include "shims.h"

#include <dlfcn.h>
#include <errno.h>
#include <math.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <string_view>

#include "base/host/text_view.h"
#include "baseutil.h"
#include "baseutil/mutex_lock.h"

namespace tkpixmap::shims {
namespace {

struct SignalName {
  const char *name;  // without the "SIG" prefix
  int number;
};

// Order matters: a number's first entry names it, so 6 is "IOT" and 17 "CLD".
constexpr std::array<SignalName, 30> signal_names{{
    {"HUP", SIGHUP},       {"INT", SIGINT},     {"QUIT", SIGQUIT},
    {"ILL", SIGILL},       {"TRAP", SIGTRAP},   {"IOT", SIGIOT},
    {"ABRT", SIGABRT},     {"FPE", SIGFPE},     {"BUS", SIGBUS},
    {"SEGV", SIGSEGV},     {"SYS", SIGSYS},     {"PIPE", SIGPIPE},
    {"ALRM", SIGALRM},     {"TERM", SIGTERM},   {"USR1", SIGUSR1},
    {"USR2", SIGUSR2},     {"CLD", SIGCLD},     {"CHLD", SIGCHLD},
    {"PWR", SIGPWR},       {"WINCH", SIGWINCH}, {"URG", SIGURG},
    {"POLL", SIGPOLL},     {"TSTP", SIGTSTP},   {"CONT", SIGCONT},
    {"TTIN", SIGTTIN},     {"TTOU", SIGTTOU},   {"VTALRM", SIGVTALRM},
    {"PROF", SIGPROF},     {"XCPU", SIGXCPU},   {"XFSZ", SIGXFSZ},
}};

constexpr std::string_view kSigPrefix = "SIG";
static_assert(SIG2STR_SIZE >= kSigPrefix.size() + sizeof "VTALRM");

// getpwnam's record is the C library's one static: any thread's lookup and
// copy of it happen under this lock.
pthread_mutex_t pwnam_lock = PTHREAD_MUTEX_INITIALIZER;

// Largest whole-second count the timer's int conversion can take safely.
constexpr double kMaxTimerSeconds = static_cast<double>(INT_MAX);

}  // namespace
}  // namespace tkpixmap::shims

using namespace tkpixmap::shims;

extern "C" {

int UNIMPLEMENTED(const char *what, int result) {
  elog_log(0, "%s is unimplemented on this platform", what);
  return result;
}

int std_getpwnam(const char *name, struct passwd *out) {
  tkpixmap::MutexLock lock(pwnam_lock);
  const struct passwd *found = getpwnam(name);
  if (found != nullptr)
    *out = *found;
  else
    memset(out, 0, sizeof *out);
  return found != nullptr ? 0 : -1;
}

int std_set_timer(void (*handler)(int), double seconds) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  if (sigaction(SIGALRM, &action, nullptr) != 0)
    elog_die(1, "Couldn't intercept signal SIGVTALRM\n");

  struct itimerval current;
  if (getitimer(ITIMER_REAL, &current) != 0) {
    elog_log(1, "getitimer fails");
    return -1;
  }

  // A time the int conversion cannot hold (or NaN) is refused the way the
  // system refuses a bad setting, instead of converting it out of range.
  if (!(seconds > -kMaxTimerSeconds && seconds < kMaxTimerSeconds)) {
    errno = EINVAL;
    elog_log(1, "setitimer fails");
    return -1;
  }
  const double whole = floor(seconds);
  int micro = static_cast<int>((seconds - whole) * 1000000.0);
  if (micro > 999999) micro = 999999;  // rounding of a fraction just below 1
  // A zero setting disarms the timer: a positive time too short for the
  // timer's microseconds fires after the shortest time it can hold instead.
  if (seconds > 0.0 && whole == 0.0 && micro == 0) micro = 1;
  struct itimerval setting;
  setting.it_interval.tv_sec = 0;
  setting.it_interval.tv_usec = 0;
  setting.it_value.tv_sec = static_cast<int>(whole);
  setting.it_value.tv_usec = micro;
  if (setitimer(ITIMER_REAL, &setting, nullptr) != 0) {
    elog_log(1, "setitimer fails");
    return -1;
  }
  return 0;
}

int str2sig(const char *name, int *signo) {
  std::string_view rest = name;
  if (tkpixmap::text::begins_with(rest, kSigPrefix)) rest.remove_prefix(kSigPrefix.size());
  for (const SignalName &entry : signal_names) {
    if (rest == entry.name) {
      *signo = entry.number;
      return 0;
    }
  }
  return -1;
}

int sig2str(int signo, char *buf) {
  for (const SignalName &entry : signal_names) {
    if (entry.number == signo) {
      memcpy(buf, kSigPrefix.data(), kSigPrefix.size());
      strcpy(buf + kSigPrefix.size(), entry.name);
      return 0;
    }
  }
  return -1;
}

off_t tell(int fd) { return lseek(fd, 0, SEEK_CUR); }

int std_sigwait(const sigset_t *set) {
  int signo = 0;
  if (sigwait(set, &signo) != 0) return -1;
  return signo;
}

double std_now(void) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_usec) / 1000000.0;
}

double now_(void) { return std_now(); }

void *std_dlopen(const char *name) {
  char path[STD_DLOPEN_PATH_SIZE];
  int length;
  if (name[0] == '/') {
    length = snprintf(path, sizeof path, "%s", name);
  } else {
    const char *root = getquorvale();
    if (root == nullptr) return nullptr;
    length = snprintf(path, sizeof path, "%s/lib/lib%s.so.3", root, name);
  }
  // A cut path could name some other file: refuse it instead.
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return nullptr;
  return dlopen(path, RTLD_LAZY);
}

int nomem(intptr_t, intptr_t) { return 0; }

// Makes writes to a closed pipe fail with EPIPE instead of ending the process.
void ignoreSIGPIPE(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGPIPE, &action, nullptr) != 0)
    elog_die(1, "Unexpected failure: file %s, line %d\n", "ignoreSIGPIPE", __LINE__);
}

}  // extern "C"
