// Running a test body in a forked child, optionally inside private mount,
// network and host-name namespaces, with overlays that put the test's own
// files over system directories ("/etc", "/sbin").  Gives the library's
// process-wide caches a fresh start and keeps every change away from the
// machine.
#ifndef TKPIXMAP_TESTS_SUPPORT_HOST_ISOLATION_H
#define TKPIXMAP_TESTS_SUPPORT_HOST_ISOLATION_H

#include <functional>
#include <map>
#include <string>

namespace tkpixmap::testing {

// Why fork- or namespace-based tests cannot run here ("" when they can):
// ThreadSanitizer, qemu-user emulation, or not running as root.
std::string why_no_forking();
std::string why_no_namespaces();

// Exit status of a child that skipped; its reason was printed.
constexpr int kChildSkipped = 77;

// Runs body in a forked child and returns the child's exit status, which is
// body's result (-1 when the child could not be started).
int run_in_child(const std::function<int()> &body);

// A scratch directory removed with everything in it when it goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

// In the child: a private mount namespace with "/" made private.
std::string enter_private_mounts();

// In the child, after enter_private_mounts: lays files (name -> content,
// mode 0755 when the content starts with "#!") over directory, using
// scratch (an empty directory on a file system that supports overlays) for
// the upper and work layers.
std::string overlay_files(const std::string &directory,
                          const std::map<std::string, std::string> &files,
                          const std::string &scratch);

// In the child: private network and host-name namespaces.
std::string enter_private_network();

// Runs a shell command line in the child's namespaces; "" on success.
std::string shell(const std::string &command);

}  // namespace tkpixmap::testing

// Runs body (a lambda using gtest assertions) in a child; a child that
// skipped skips the test, a child that failed fails it.  The child's gtest
// failures are printed by the child itself.  Only the child's own failures
// count, so that in a table of cases one failed row does not fail the rows
// after it.
#define TKP_RUN_IN_CHILD(...)                                                         \
  do {                                                                                \
    auto tkp_child_body = (__VA_ARGS__);                                              \
    int tkp_child_status = ::tkpixmap::testing::run_in_child([&]() -> int {           \
      const ::testing::TestResult *tkp_result =                                       \
          ::testing::UnitTest::GetInstance()->current_test_info()->result();          \
      const int tkp_parts_before = tkp_result->total_part_count();                    \
      tkp_child_body();                                                               \
      for (int tkp_part = tkp_parts_before; tkp_part < tkp_result->total_part_count(); \
           ++tkp_part)                                                                \
        if (tkp_result->GetTestPartResult(tkp_part).failed()) return 1;               \
      return ::testing::Test::IsSkipped() ? ::tkpixmap::testing::kChildSkipped : 0;   \
    });                                                                               \
    if (tkp_child_status == ::tkpixmap::testing::kChildSkipped)                       \
      GTEST_SKIP() << "skipped in the child (reason printed above)";                  \
    EXPECT_EQ(tkp_child_status, 0) << "the child's failures are printed above";       \
  } while (0)

#endif
