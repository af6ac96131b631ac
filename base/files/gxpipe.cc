// gxpipe.cc - gx handles on a command's output: the command runs in a child
// whose standard output and standard error go to an unnamed temporary file,
// read once the child has ended.

#include "gxline.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "base/files/closed_children.h"
#include "base/files/handle_table.h"
#include "base/out_of_memory.h"
#include "baseutil.h"

extern "C" char *program_invocation_short_name;  // glibc

namespace tkpixmap::files {
namespace {

// Between fork and execve a threaded process may only make async-signal-safe
// calls, so everything the child needs is made beforehand: the program path,
// the argument vector and the text of the exec failure message.
struct ChildPlan {
  char *words = nullptr;      // private copy of the command, cut at blanks
  Tbl *arguments = nullptr;   // pointers into `words`, null-terminated
  char *failure = nullptr;    // "program: Couldn't exec '...' : '...'"
  size_t failureLength = 0;

  const char *program() const { return static_cast<const char *>(gettbl(arguments, 0)); }
  char *const *argv() const { return reinterpret_cast<char *const *>(addrtbl(arguments, 0)); }
};

char emptyWord[] = "";

// Allocation failures here end the process, as for a record.
void prepare(ChildPlan &plan, const char *command) {
  plan.words = strdup(command);
  if (plan.words == nullptr) TKP_DIE_OUT_OF_MEMORY(strlen(command) + 1, "mapped");
  plan.arguments = split(plan.words, ' ');
  if (plan.arguments == nullptr) TKP_DIE_OUT_OF_MEMORY(sizeof(Tbl), "mapped");
  // A blank command has no program: exec "" so that it fails like any
  // other path that names no executable.
  if (plan.arguments->count == 0 && pushtbl(plan.arguments, emptyWord) < 0)
    TKP_DIE_OUT_OF_MEMORY(sizeof(void *), "mapped");
  if (pushtbl(plan.arguments, nullptr) < 0) TKP_DIE_OUT_OF_MEMORY(sizeof(void *), "mapped");

  // Same shape as an error-log line with the flag set; the reason is added
  // by the child once it knows it.
  const char *format = "%s: Couldn't exec '%s' : '%s'";
  int length = snprintf(nullptr, 0, format, program_invocation_short_name, plan.program(), command);
  if (length < 0) length = 0;
  plan.failure = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
  if (plan.failure == nullptr) TKP_DIE_OUT_OF_MEMORY(static_cast<size_t>(length) + 1, "mapped");
  snprintf(plan.failure, static_cast<size_t>(length) + 1, format, program_invocation_short_name,
           plan.program(), command);
  plan.failureLength = static_cast<size_t>(length);
}

void release(ChildPlan &plan) {
  free(plan.failure);
  freetbl(plan.arguments, nullptr);
  free(plan.words);
}

// The reasons execve gives, as strerror words them in the C locale; strerror
// itself may consult the locale and is not async-signal-safe.
struct ExecReason {
  int number;
  const char *text;
};
constexpr ExecReason kExecReasons[] = {
    {E2BIG, "Argument list too long"},    {EACCES, "Permission denied"},
    {EFAULT, "Bad address"},              {EINVAL, "Invalid argument"},
    {EIO, "Input/output error"},          {EISDIR, "Is a directory"},
    {ELIBBAD, "Accessing a corrupted shared library"},
    {ELOOP, "Too many levels of symbolic links"},
    {EMFILE, "Too many open files"},      {ENAMETOOLONG, "File name too long"},
    {ENFILE, "Too many open files in system"},
    {ENOENT, "No such file or directory"}, {ENOEXEC, "Exec format error"},
    {ENOMEM, "Cannot allocate memory"},   {ENOTDIR, "Not a directory"},
    {EPERM, "Operation not permitted"},   {ETXTBSY, "Text file busy"},
};

void writeAll(int fd, const char *text, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

void writeText(int fd, const char *text) { writeAll(fd, text, strlen(text)); }

void writeReason(int fd, int number) {
  for (const ExecReason &reason : kExecReasons) {
    if (reason.number == number) return writeText(fd, reason.text);
  }
  char digits[16];
  char *p = digits + sizeof digits;
  unsigned value = number < 0 ? 0u : static_cast<unsigned>(number);
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  writeText(fd, "error ");
  writeAll(fd, p, static_cast<size_t>(digits + sizeof digits - p));
}

// Moves a descriptor out of the way of 0, 1 and 2 (close-on-exec kept), so
// that the dup2 calls below cannot overwrite each other's sources.
int aboveStandard(int fd) { return fd > 2 ? fd : fcntl(fd, F_DUPFD_CLOEXEC, 3); }

char *const kEmptyEnvironment[] = {nullptr};

// The parent's signal handlers must not run in the child, whose copy of the
// process is only fit to exec: signals stay blocked across fork, the child
// resets caught signals to their default and only then unblocks them.
void resetCaughtSignals() {
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction action;
    if (sigaction(number, nullptr, &action) != 0) continue;
    if (action.sa_handler == SIG_IGN || action.sa_handler == SIG_DFL) continue;
    action.sa_handler = SIG_DFL;
    action.sa_flags = 0;
    sigaction(number, &action, nullptr);
  }
}

// Runs in the child: async-signal-safe calls only, and _exit, so that the
// parent's exit handlers and stdio buffers are left alone.
[[noreturn]] void runChild(const ChildPlan &plan, char *const envp[], int inputRead,
                           int inputWrite, int output, const sigset_t &parentMask) {
  resetCaughtSignals();
  sigprocmask(SIG_SETMASK, &parentMask, nullptr);
  close(inputWrite);
  inputRead = aboveStandard(inputRead);
  output = aboveStandard(output);
  if (inputRead < 0 || output < 0 || dup2(inputRead, 0) < 0 || dup2(output, 1) < 0 ||
      dup2(output, 2) < 0)
    _exit(1);
  // The originals are close-on-exec; the copies on 0, 1 and 2 are not.
  execve(plan.program(), plan.argv(), envp != nullptr ? envp : kEmptyEnvironment);
  int reason = errno;
  writeAll(2, plan.failure, plan.failureLength);
  writeText(2, ": ");
  writeReason(2, reason);
  writeText(2, "\n");
  _exit(1);
}

}  // namespace
}  // namespace tkpixmap::files

using namespace tkpixmap::files;
using tkpixmap::MutexLock;

extern "C" int gxpipe(const char *command, char *const envp[], int *fdOut) {
  if (command == nullptr) {
    errno = EINVAL;
    return -1;
  }
  ChildPlan plan;
  prepare(plan, command);

  int result = -1;
  {
    MutexLock lock(handleTableMutex);
    collectEndedChildren();
    int input[2];
    char path[] = "/tmp/gxpipeXXXXXX";
    int output = -1;
    // Close-on-exec: a command started by another thread must not inherit
    // these, or the pipe would never see end of file.
    if (pipe2(input, O_CLOEXEC) != 0) {
      elog_log(1, "Couldn't create pipes");
    } else if ((output = mkostemp(path, O_CLOEXEC)) < 0) {
      elog_log(1, "mkstemp failed'");
      close(input[0]);
      close(input[1]);
    } else {
      unlink(path);
      sigset_t all;
      sigset_t parentMask;
      sigfillset(&all);
      pthread_sigmask(SIG_SETMASK, &all, &parentMask);
      pid_t pid = fork();
      if (pid != 0) pthread_sigmask(SIG_SETMASK, &parentMask, nullptr);
      if (pid < 0) {
        elog_log(1, "fork failed");
        close(output);
        close(input[0]);
        close(input[1]);
      } else if (pid == 0) {
        runChild(plan, envp, input[0], input[1], output, parentMask);
      } else {
        close(input[1]);
        HandleRecord *record = newRecord();
        record->pid = pid;
        record->fd = output;
        record->pipeFd = input[0];
        result = insertRecord(record);
        if (fdOut != nullptr) *fdOut = input[0];
      }
    }
  }
  release(plan);
  return result;
}
