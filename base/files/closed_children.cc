// closed_children.cc - the list of children still to be collected: a
// growing array of pids.

#include "base/files/closed_children.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/wait.h>

#include "base/out_of_memory.h"

namespace tkpixmap::files {
namespace {

// Children of closed handles still running when last looked at.  Reached by
// any thread, under the handle table mutex.  Never freed: it is as long as
// the most commands ever left running at once.
pid_t *waiting = nullptr;
size_t waitingCount = 0;
size_t waitingCapacity = 0;

// True when `pid` is gone: collected now, or no longer ours to collect (the
// caller reaped it, or ignores SIGCHLD so that the system did).
bool collectIfEnded(pid_t pid) {
  pid_t answer;
  do {
    answer = waitpid(pid, nullptr, WNOHANG);
  } while (answer < 0 && errno == EINTR);
  return answer != 0;
}

void remember(pid_t pid) {
  if (waitingCount == waitingCapacity) {
    const size_t capacity = waitingCapacity == 0 ? 8 : 2 * waitingCapacity;
    void *grown = realloc(waiting, capacity * sizeof(pid_t));
    if (grown == nullptr) TKP_DIE_OUT_OF_MEMORY(capacity * sizeof(pid_t), "mapped");
    waiting = static_cast<pid_t *>(grown);
    waitingCapacity = capacity;
  }
  waiting[waitingCount++] = pid;
}

}  // namespace

void collectOrRemember(pid_t pid) {
  const int savedErrno = errno;
  if (!collectIfEnded(pid)) remember(pid);
  errno = savedErrno;
}

void collectEndedChildren() {
  if (waitingCount == 0) return;
  const int savedErrno = errno;
  size_t kept = 0;
  for (size_t i = 0; i < waitingCount; ++i)
    if (!collectIfEnded(waiting[i])) waiting[kept++] = waiting[i];
  waitingCount = kept;
  errno = savedErrno;
}

}  // namespace tkpixmap::files
