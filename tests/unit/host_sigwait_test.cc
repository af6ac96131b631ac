// What std_sigwait returns when the wait itself fails: -1, never a number
// left over from an earlier wait.  The C library's sigwait does not fail for
// a valid set, so this executable puts its own sigwait in front of it.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>

#include <atomic>

#include <gtest/gtest.h>

#include "shims.h"

namespace {
std::atomic<int> failure_to_give{0};
}

extern "C" int sigwait(const sigset_t *set, int *signo) {
  if (int failure = failure_to_give.load(); failure != 0) {
    *signo = SIGTERM;  // what a broken wait may leave behind
    return failure;
  }
  using Real = int (*)(const sigset_t *, int *);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "sigwait"));
  return real(set, signo);
}

namespace {

TEST(HostSigwait, FailedWaitGivesMinusOne) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  for (int failure : {EINVAL, EINTR}) {
    failure_to_give = failure;
    EXPECT_EQ(std_sigwait(&set), -1) << failure;
  }
  failure_to_give = 0;

  sigset_t old;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &set, &old), 0);
  ASSERT_EQ(raise(SIGUSR1), 0);
  EXPECT_EQ(std_sigwait(&set), SIGUSR1);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace
