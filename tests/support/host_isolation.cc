// Forked children and private namespaces for tests of process-wide state.
#include "tests/support/host_isolation.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tkpixmap::testing {
namespace {

bool built_with_tsan() {
#if defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

// qemu-user runs the test as its own process, so the kernel names it qemu-*.
bool under_qemu() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name.rfind("qemu-", 0) == 0;
}

}  // namespace

std::string why_no_forking() {
  if (built_with_tsan()) return "forked children are not run under ThreadSanitizer";
  return "";
}

std::string why_no_namespaces() {
  std::string why = why_no_forking();
  if (!why.empty()) return why;
  if (under_qemu()) return "namespaces are not tried under qemu-user emulation";
  if (geteuid() != 0) return "private namespaces need root";
  return "";
}

int run_in_child(const std::function<int()> &body) {
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    int status = body();
    fflush(stdout);
    fflush(stderr);
    _exit(status);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

ScratchDir::ScratchDir() {
  char name[] = "/tmp/tkp-host-XXXXXX";
  if (mkdtemp(name) != nullptr) path_ = name;
}

ScratchDir::~ScratchDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string enter_private_mounts() {
  std::string why = why_no_namespaces();
  if (!why.empty()) return why;
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making / private: ") + strerror(errno);
  return "";
}

std::string overlay_files(const std::string &directory,
                          const std::map<std::string, std::string> &files,
                          const std::string &scratch) {
  static int serial = 0;
  const std::string base = scratch + "/overlay" + std::to_string(serial++);
  const std::string upper = base + "/upper", work = base + "/work";
  std::error_code error;
  std::filesystem::create_directories(upper, error);
  std::filesystem::create_directories(work, error);
  if (error) return "cannot make overlay layers under " + base;
  for (const auto &[name, content] : files) {
    const std::string path = upper + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    out.close();
    if (!out) return "cannot write " + path;
    chmod(path.c_str(), content.rfind("#!", 0) == 0 ? 0755 : 0644);
  }
  const std::string options =
      "lowerdir=" + directory + ",upperdir=" + upper + ",workdir=" + work;
  if (mount("overlay", directory.c_str(), "overlay", 0, options.c_str()) != 0)
    return "overlay over " + directory + ": " + strerror(errno);
  return "";
}

std::string enter_private_network() {
  std::string why = why_no_namespaces();
  if (!why.empty()) return why;
  if (unshare(CLONE_NEWNET | CLONE_NEWUTS) != 0)
    return std::string("unshare(CLONE_NEWNET|CLONE_NEWUTS): ") + strerror(errno);
  return "";
}

std::string shell(const std::string &command) {
  fflush(stdout);
  int status = system(command.c_str());
  if (status == 0) return "";
  return "command failed (status " + std::to_string(status) + "): " + command;
}

}  // namespace tkpixmap::testing
