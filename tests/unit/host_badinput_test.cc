// host_badinput_test.cc - the path and loader services on names that are
// empty, longer than any path buffer, or reach outside where they should
// look.  Results go into buffers of exactly the documented sizes, allocated
// on their own so that AddressSanitizer sees any byte written past them.

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "baseutil.h"
#include "pathinfo.h"
#include "shims.h"
#include "tests/support/host_log_capture.h"

namespace {

using tkpixmap::testing::LogCapture;

struct OddPath {
  const char *what;
  std::string path;
};

std::vector<OddPath> oddPaths() {
  std::string dots;
  while (dots.size() < 5000) dots += "./";
  return {
      {"an empty path", ""},
      {"5000 bytes of one name", "/" + std::string(4999, 'n')},
      {"5000 bytes of short components", [] {
         std::string p;
         while (p.size() < 5000) p += "/abc";
         return p;
       }()},
      {"5000 bytes that clean to the root", "/" + dots},
      {"5000 bytes after a tilde", "~" + std::string(4999, 't')},
      {"5000 bytes after a tilde and slash", "~/" + std::string(4998, 't')},
      {"5000 relative bytes", std::string(5000, 'r')},
  };
}

// The byte length of a terminated string in a buffer of `size`, or size
// when the buffer holds no terminator.
size_t terminatedLength(const char *buffer, size_t size) { return strnlen(buffer, size); }

TEST(HostBadInput, FspathKeepsItsAnswersInsideTheBuffers) {
  for (const OddPath &odd : oddPaths()) {
    SCOPED_TRACE(odd.what);
    LogCapture log;
    auto host = std::make_unique<char[]>(PATHINFO_HOST_SIZE);
    auto filesystem = std::make_unique<char[]>(PATHINFO_FILESYSTEM_SIZE);
    memset(host.get(), 'x', PATHINFO_HOST_SIZE);
    memset(filesystem.get(), 'x', PATHINFO_FILESYSTEM_SIZE);
    const int result = fspath(odd.path.c_str(), host.get(), filesystem.get());
    EXPECT_TRUE(result == 0 || result == -1) << result;
    EXPECT_LT(terminatedLength(host.get(), PATHINFO_HOST_SIZE), size_t{PATHINFO_HOST_SIZE});
    EXPECT_LT(terminatedLength(filesystem.get(), PATHINFO_FILESYSTEM_SIZE),
              size_t{PATHINFO_FILESYSTEM_SIZE});
    if (result == -1) {
      EXPECT_STREQ(host.get(), "");
      EXPECT_STREQ(filesystem.get(), "");
      EXPECT_FALSE(log.messages().empty()) << "a failure without a report";
    }
  }
}

TEST(HostBadInput, LongPathsThatNameNothingFail) {
  LogCapture log;
  auto host = std::make_unique<char[]>(PATHINFO_HOST_SIZE);
  auto filesystem = std::make_unique<char[]>(PATHINFO_FILESYSTEM_SIZE);
  const std::string missing = "/" + std::string(4999, 'n');
  EXPECT_EQ(fspath(missing.c_str(), host.get(), filesystem.get()), -1);
  EXPECT_EQ(infopath(missing.c_str()), nullptr);
  EXPECT_EQ(is_nfs(missing.c_str()), -1);
}

TEST(HostBadInput, InfopathGivesARecordOrNothing) {
  for (const OddPath &odd : oddPaths()) {
    SCOPED_TRACE(odd.what);
    LogCapture log;
    PathInfo *info = infopath(odd.path.c_str());
    if (info != nullptr) {
      EXPECT_LT(strnlen(info->host, sizeof info->host), sizeof info->host);
      EXPECT_LT(strnlen(info->filesystem, sizeof info->filesystem), sizeof info->filesystem);
      EXPECT_GE(info->total_bytes, info->avail_bytes);
      free(info);
    } else {
      EXPECT_FALSE(log.messages().empty()) << "a failure without a report";
    }
  }
}

TEST(HostBadInput, TimeZoneNamesStayInsideTheZoneDatabase) {
  LogCapture log;
  const std::string longName(5000, 'z');
  const struct {
    const char *what;
    std::string zone;
  } cases[] = {
      {"empty", ""},
      {"5000 bytes", longName},
      {"5000 bytes below a real directory", "Europe/" + longName},
      {"a climb out to a regular file", "../../../../../../../../etc/passwd"},
      {"an absolute path to a regular file", "/etc/passwd"},
      {"the database directory itself", "."},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(is_timezone(c.zone.c_str()), 0);
  }
}

TEST(HostBadInput, StdDlopenRefusesOverlongNamesWithoutLoading) {
  LogCapture log;
  const std::string names[] = {
      std::string(5000, 'l'),
      "/" + std::string(4999, 'l'),
      std::string(STD_DLOPEN_PATH_SIZE, 'l'),
      "",
  };
  for (const std::string &name : names) {
    SCOPED_TRACE(name.substr(0, 40) + "... (" + std::to_string(name.size()) + " bytes)");
    void *handle = std_dlopen(name.c_str());
    EXPECT_EQ(handle, nullptr);
    if (handle != nullptr) dlclose(handle);
  }
}

}  // namespace
