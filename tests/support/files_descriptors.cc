#include "tests/support/files_descriptors.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace tkpixmap::testing {

std::set<int> openDescriptors() {
  std::set<int> fds;
  DIR *dir = opendir("/proc/self/fd");
  int own = dirfd(dir);
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    int fd = atoi(entry->d_name);
    if (fd != own) fds.insert(fd);
  }
  closedir(dir);
  return fds;
}

std::string descriptorTarget(int fd) {
  char target[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return "";
  return std::string(target, static_cast<size_t>(length));
}

}  // namespace tkpixmap::testing
