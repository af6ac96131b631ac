// The executable file of this or another process, read from the process
// file system, with the process's argument list as the fall-back.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "base/out_of_memory.h"
#include "baseutil.h"
#include "execname.h"

namespace tkpixmap::execname {
namespace {

constexpr size_t kLinkBufferSize = 4096;  // at most 4095 characters are kept

char *execname_cache = nullptr;
pthread_once_t execname_once = PTHREAD_ONCE_INIT;

char *copy_or_die(const char *text) {
  char *copy = strdup(text);
  if (copy == nullptr)
    dieOutOfMemory(__LINE__, "execname", strlen(text) + 1, "execname");
  return copy;
}

// Target of link (cut to 4095 characters) into buffer; false when unreadable.
bool read_link(const char *link, char (&buffer)[kLinkBufferSize]) {
  ssize_t length = readlink(link, buffer, sizeof buffer - 1);
  if (length < 1) return false;
  buffer[length] = '\0';
  return true;
}

void remember_own_executable() {
  char target[kLinkBufferSize];
  execname_cache = copy_or_die(read_link("/proc/self/exe", target) ? target : "");
}

// The process's arguments, NUL-separated in its cmdline file, joined by
// blanks: "a\0b\0" reads "a b".
char *arguments_of(int pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/cmdline", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    elog_log(1, "failed to read %s", path);
    return copy_or_die("");
  }
  char text[kLinkBufferSize];
  ssize_t length = read(fd, text, sizeof text - 1);
  if (length < 0) length = 0;
  close(fd);
  if (length > 0 && text[length - 1] == '\0') --length;  // the last argument's end
  for (ssize_t i = 0; i < length; ++i)
    if (text[i] == '\0') text[i] = ' ';
  text[length] = '\0';
  return copy_or_die(text);
}

}  // namespace
}  // namespace tkpixmap::execname

using namespace tkpixmap::execname;

extern "C" {

const char *getexecname(void) {
  pthread_once(&execname_once, remember_own_executable);
  return execname_cache;
}

char *pidexecname(int pid) {
  char link[64];
  snprintf(link, sizeof link, "/proc/%d/exe", pid);
  char target[kLinkBufferSize];
  if (read_link(link, target)) return copy_or_die(target);
  return arguments_of(pid);
}

}  // extern "C"
