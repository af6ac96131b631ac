// Which mounted file system holds a path, its host and space figures, and
// time-zone names, for ordinary paths and names and for ones that are
// empty, longer than any path buffer, or reach outside where they should
// look.  Mount tables are the test's own, laid over "/etc" in a
// private mount namespace; zone lookups run in fresh children because the
// zone directory is chosen once per process.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <fstream>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/host/mount_table.h"
#include "baseutil.h"
#include "pathinfo.h"
#include "tests/support/host_isolation.h"
#include "tests/support/host_log_capture.h"

namespace {

using tkpixmap::pathinfo::mount_covers;
using tkpixmap::pathinfo::MountEntry;
using tkpixmap::pathinfo::parse_mount_line;
using tkpixmap::testing::LogCapture;
using tkpixmap::testing::ScratchDir;

// ------------------------------------------------------------ table lines

TEST(HostMountLine, FieldsHostsAndEscapes) {
  const std::string long_host(100, 'h');
  const std::string long_fs = "/" + std::string(5000, 'f');
  const struct {
    std::string line;
    const char *host;
    std::string filesystem;
    const char *mount_point;
  } rows[] = {
      {"/dev/sda1 / ext4 rw 0 0\n", "", "/dev/sda1", "/"},
      {"server:/export/home /home nfs rw 0 0", "server", "/export/home", "/home"},
      {"a:b:c /x nfs", "a", "b:c", "/x"},  // the first colon splits
      {":/x /y nfs", "", "/x", "/y"},
      {"tmpfs\t/tmp\ttmpfs rw", "", "tmpfs", "/tmp"},
      {"  lead   /spaced  ", "", "lead", "/spaced"},
      {"/dev/sdb1 /mnt/my\\040disk ext4 rw 0 0", "", "/dev/sdb1", "/mnt/my disk"},
      {"back\\134slash /t\\011ab x", "", "back\\slash", "/t\tab"},
      {"odd\\04 /x\\9 x", "", "odd\\04", "/x\\9"},  // not an escape: kept
      {long_host + ":/export /far nfs", "hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh",
       "/export", "/far"},
      {long_fs + " /big x", "", long_fs.substr(0, PATHINFO_FILESYSTEM_SIZE - 1), "/big"},
  };
  for (const auto &row : rows) {
    MountEntry entry;
    ASSERT_TRUE(parse_mount_line(row.line, entry)) << row.line;
    EXPECT_STREQ(entry.host, row.host) << row.line;
    EXPECT_EQ(std::string(entry.filesystem), row.filesystem) << row.line.substr(0, 80);
    EXPECT_EQ(std::string(entry.mount_point, entry.mount_point_length), row.mount_point);
  }
  static_assert(sizeof(MountEntry::host) == PATHINFO_HOST_SIZE);
}

TEST(HostMountLine, LinesThatNameNoMount) {
  for (const std::string &line : {std::string(""), std::string("\n"), std::string("   \t "),
                                  std::string("onlyone"), std::string("onlyone   \n"),
                                  "dev /" + std::string(PATHINFO_FILESYSTEM_SIZE, 'm')}) {
    MountEntry entry;
    EXPECT_FALSE(parse_mount_line(line, entry)) << line.substr(0, 40);
  }
}

TEST(HostMountLine, MountPointsCoverWholeComponentsOnly) {
  const struct {
    const char *mount_point, *path;
    bool covers;
  } rows[] = {
      {"/", "/", true},          {"/", "/usr/lib", true},     {"/usr", "/usr", true},
      {"/usr", "/usr/lib", true}, {"/usr", "/usr2", false},   {"/usr", "/usr2/lib", false},
      {"/usr2", "/usr2/x", true}, {"/usr/", "/usr/lib", true}, {"/usr", "/us", false},
      {"/usr/lib", "/usr", false}, {"", "/usr", false},
  };
  for (const auto &row : rows)
    EXPECT_EQ(mount_covers(row.mount_point, row.path), row.covers)
        << row.mount_point << " over " << row.path;
}

// ------------------------------------------------------------ mount tables

struct Lookup {
  std::string path;
  int result;
  std::string host, filesystem;
  int nfs;
};

// In a child with a private mount namespace: tables are written with
// "@" standing for the scratch directory, laid over /etc as its mtab, and
// every lookup is checked.
void check_table(const std::string &table, const std::vector<Lookup> &lookups,
                 const std::vector<std::string> &directories) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string &root = scratch.path();
  for (const std::string &directory : directories)
    std::filesystem::create_directories(root + "/tree/" + directory);
  auto expand = [&](std::string text) {
    for (size_t at; (at = text.find('@')) != std::string::npos;)
      text.replace(at, 1, root + "/tree");
    return text;
  };
  TKP_RUN_IN_CHILD([&] {
    std::string why = tkpixmap::testing::enter_private_mounts();
    if (why.empty()) why = tkpixmap::testing::overlay_files("/etc", {{"mtab", expand(table)}}, root);
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_EQ(chdir((root + "/tree").c_str()), 0);
    for (const Lookup &lookup : lookups) {
      const std::string path = expand(lookup.path);
      char host[PATHINFO_HOST_SIZE] = "junk";
      char filesystem[PATHINFO_FILESYSTEM_SIZE] = "junk";
      LogCapture log;
      EXPECT_EQ(fspath(path.c_str(), host, filesystem), lookup.result) << path;
      EXPECT_EQ(host, lookup.host) << path;
      EXPECT_EQ(filesystem, expand(lookup.filesystem)) << path;
      EXPECT_EQ(is_nfs(path.c_str()), lookup.nfs) << path;
      EXPECT_EQ(log.messages().size(), 0u) << path << "\n" << log.all();
    }
  });
}

// One mount table and the lookups held against it.
struct TableCase {
  const char *what;
  std::string table;
  std::vector<Lookup> lookups;
  std::vector<std::string> directories;
};

std::vector<TableCase> tableCases() {
  const std::vector<Lookup> homeAndRoot = {
      {"@/home/u", 0, "", "/dev/home", 0},
      {"@/home", 0, "", "/dev/home", 0},
      {"@/other", 0, "", "/dev/root", 0},
      {"/", 0, "", "/dev/root", 0},
  };
  const std::string longHost(90, 'n');
  // Read in 255-byte pieces, this line's first piece would end with the
  // mount point "@/d...d", which covers the path below.
  ScratchDir probe;
  const size_t rootLength = probe.path().size() + 5;  // "<scratch>/tree"
  const std::string deep(252 - rootLength, 'd');
  return {
      {"the longest covering mount point wins, root listed first",
       "/dev/root / ext4 rw 0 0\n/dev/home @/home ext4 rw 0 0\n", homeAndRoot,
       {"home/u", "other"}},
      {"the longest covering mount point wins, root listed last",
       "/dev/home @/home ext4 rw 0 0\n/dev/root / ext4 rw 0 0\n", homeAndRoot,
       {"home/u", "other"}},
      {"a prefix of a name is no mount point",
       "/dev/root / ext4 rw 0 0\n/dev/usr @/usr ext4 rw 0 0\n",
       {{"@/usr2/lib", 0, "", "/dev/root", 0}, {"@/usr/lib", 0, "", "/dev/usr", 0}},
       {"usr/lib", "usr2/lib"}},
      {"a prefix of a name is no mount point, both mounted",
       "/dev/root / ext4 rw 0 0\n/dev/usr @/usr ext4 rw 0 0\n/dev/usr2 @/usr2 ext4\n",
       {{"@/usr2/lib", 0, "", "/dev/usr2", 0}, {"@/usr", 0, "", "/dev/usr", 0}},
       {"usr/lib", "usr2/lib"}},
      {"the earlier line wins among equals",
       "/dev/root / ext4\n/dev/first @/home ext4\n/dev/second @/home ext4\n",
       {{"@/home/u", 0, "", "/dev/first", 0}},
       {"home/u"}},
      {"remote devices name their host",
       "/dev/root / ext4\nfileserver:/export/home @/home nfs rw\n" + longHost + ":/x @/far nfs\n",
       {{"@/home/u", 0, "fileserver", "/export/home", 1},
        {"@/far", 0, longHost.substr(0, PATHINFO_HOST_SIZE - 1), "/x", 1},
        {"@/other", 0, "", "/dev/root", 0}},
       {"home/u", "far", "other"}},
      {"relative paths resolve against the working directory",
       "/dev/root / ext4\n/dev/home @/home ext4\n",
       {{"home/u", 0, "", "/dev/home", 0},
        {"./home/../other", 0, "", "/dev/root", 0},
        {".", 0, "", "/dev/root", 0}},
       {"home/u", "other"}},
      {"no covering line fails without a report", "/dev/home @/home ext4\nnofields\n\n",
       {{"/etc", -1, "", "", -1}},
       {"home"}},
      {"escaped mount points match their paths",
       "/dev/root / ext4\nmy\\040device @/my\\040disk ext4\n",
       {{"@/my disk/x", 0, "", "my device", 0}},
       {"my disk/x"}},
      {"pieces of a long line are no entries",
       "/dev/root / ext4\nx @/" + deep + "/elsewhere ext4 rw 0 0\n",
       {{"@/" + deep + "/sub", 0, "", "/dev/root", 0}},
       {deep + "/sub"}},
  };
}

TEST(HostMountTable, LookupsInTheTestsOwnTables) {
  for (const TableCase &c : tableCases()) {
    SCOPED_TRACE(c.what);
    check_table(c.table, c.lookups, c.directories);
  }
}

TEST(HostMountTable, MissingPathsAndTablesAreReported) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string missing = scratch.path() + "/nosuch";
  TKP_RUN_IN_CHILD([&] {
    std::string why = tkpixmap::testing::enter_private_mounts();
    if (why.empty())
      why = tkpixmap::testing::overlay_files("/etc", {{"mtab", "/dev/root / ext4\n"}},
                                             scratch.path());
    if (!why.empty()) GTEST_SKIP() << why;
    {
      LogCapture log;
      char host[PATHINFO_HOST_SIZE] = "junk", filesystem[PATHINFO_FILESYSTEM_SIZE] = "junk";
      EXPECT_EQ(fspath(missing.c_str(), host, filesystem), -1);
      EXPECT_STREQ(host, "");
      EXPECT_STREQ(filesystem, "");
      EXPECT_EQ(log.count(ELOG_LOG, "can't stat " + missing + ": "), 1) << log.all();
    }
    {
      LogCapture log;
      EXPECT_EQ(infopath(missing.c_str()), nullptr);
      auto messages = log.messages();
      ASSERT_EQ(messages.size(), 2u) << log.all();
      EXPECT_EQ(messages[0].text.rfind("can't stat " + missing + ": ", 0), 0u);
      EXPECT_EQ(messages[1].text, "can't resolve host, filesystem for " + missing);
    }
    {
      LogCapture log;
      EXPECT_EQ(is_nfs(missing.c_str()), -1);
      EXPECT_EQ(log.messages().size(), 1u) << log.all();
    }
    {
      // Longer than any path: a failed lookup, never a cut one.
      LogCapture log;
      const std::string overlong = "/" + std::string(BU_PATH_MAX, 'x');
      EXPECT_EQ(is_nfs(overlong.c_str()), -1);
      EXPECT_EQ(infopath(overlong.c_str()), nullptr);
      EXPECT_EQ(log.count(ELOG_LOG, "can't stat /xxx"), 2) << log.all().substr(0, 200);
    }
    // Without a table: the report names it.
    ASSERT_EQ(mount("tmpfs", "/etc", "tmpfs", 0, nullptr), 0) << strerror(errno);
    LogCapture log;
    EXPECT_EQ(is_nfs("/"), -1);
    EXPECT_EQ(log.count(ELOG_LOG, "can't open /etc/mtab: "), 1) << log.all();
  });
}

// Paths that are empty, longer than any path buffer, or clean to the root.
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

// Answers go into buffers of exactly the documented sizes, allocated on
// their own so that AddressSanitizer sees any byte written past them.
TEST(HostMountTable, OddPathsKeepTheAnswersInsideTheBuffers) {
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

TEST(HostMountTable, LongPathsThatNameNothingFail) {
  LogCapture log;
  auto host = std::make_unique<char[]>(PATHINFO_HOST_SIZE);
  auto filesystem = std::make_unique<char[]>(PATHINFO_FILESYSTEM_SIZE);
  const std::string missing = "/" + std::string(4999, 'n');
  EXPECT_EQ(fspath(missing.c_str(), host.get(), filesystem.get()), -1);
  EXPECT_EQ(infopath(missing.c_str()), nullptr);
  EXPECT_EQ(is_nfs(missing.c_str()), -1);
}

// ------------------------------------------------------------ space figures

TEST(HostInfopath, FiguresComeFromStatvfs) {
  LogCapture log;
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  // A link on one file system to a directory of another: name and figures
  // must both be those of the file system the link leads to.
  const std::string link = scratch.path() + "/to-proc";
  ASSERT_EQ(symlink("/proc", link.c_str()), 0);
  const struct {
    std::string path;
    const char *resolved;
  } rows[] = {{"/", "/"}, {".", "."}, {"/tmp", "/tmp"}, {link, "/proc"}};
  for (const auto &row : rows) {
    const char *path = row.path.c_str();
    PathInfo *info = infopath(path);
    ASSERT_NE(info, nullptr) << path << "\n" << log.all();
    struct statvfs64 space;
    ASSERT_EQ(statvfs64(row.resolved, &space), 0);
    EXPECT_EQ(info->fsid, static_cast<uint32_t>(space.f_fsid)) << path;
    EXPECT_EQ(info->total_bytes, static_cast<double>(space.f_blocks) * space.f_frsize);
    EXPECT_EQ(info->total_files, static_cast<double>(space.f_files));
    EXPECT_LE(info->avail_bytes, info->total_bytes);
    EXPECT_LE(info->avail_files, info->total_files);
    char host[PATHINFO_HOST_SIZE], filesystem[PATHINFO_FILESYSTEM_SIZE];
    ASSERT_EQ(fspath(row.resolved, host, filesystem), 0);
    EXPECT_STREQ(info->host, host) << path;
    EXPECT_STREQ(info->filesystem, filesystem) << path;
    free(info);
  }
}

TEST(HostInfopath, TildeIsExpanded) {
  const char *home = getenv("HOME");
  if (home == nullptr || home[0] != '/') GTEST_SKIP() << "no HOME";
  PathInfo *by_tilde = infopath("~");
  PathInfo *by_home = infopath(home);
  ASSERT_NE(by_tilde, nullptr);
  ASSERT_NE(by_home, nullptr);
  EXPECT_EQ(by_tilde->fsid, by_home->fsid);
  EXPECT_STREQ(by_tilde->filesystem, by_home->filesystem);
  free(by_tilde);
  free(by_home);
  LogCapture log;
  EXPECT_EQ(infopath("~no-such-user-tkp/x"), nullptr);
  EXPECT_EQ(log.count(ELOG_LOG, "can't resolve host, filesystem for ~no-such-user-tkp/x"), 1)
      << log.all();
}

TEST(HostInfopath, CountsBeyondThirtyTwoBitsAreKept) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string big = scratch.path() + "/big";
  std::filesystem::create_directories(big);
  TKP_RUN_IN_CHILD([&] {
    std::string why = tkpixmap::testing::enter_private_mounts();
    if (!why.empty()) GTEST_SKIP() << why;
    // 2^34 blocks of 4096 bytes and 5e9 file nodes, none of which fit 32 bits.
    if (mount("tmpfs", big.c_str(), "tmpfs", 0, "size=64T,nr_inodes=5000000000") != 0)
      GTEST_SKIP() << "large tmpfs: " << strerror(errno);
    PathInfo *info = infopath(big.c_str());
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->host, "");
    EXPECT_STREQ(info->filesystem, "tmpfs");
    EXPECT_EQ(info->total_bytes, 64.0 * 1024 * 1024 * 1024 * 1024);
    EXPECT_EQ(info->total_files, 5000000000.0);
    EXPECT_GT(info->avail_bytes, 4294967296.0 * 4096.0);
    EXPECT_GT(info->avail_files, 4294967296.0);
    free(info);
  });
}

TEST(HostInfopath, OddPathsGiveARecordOrNothing) {
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

// ------------------------------------------------------------ time zones

TEST(HostTimezone, SystemDatabase) {
  std::string why = tkpixmap::testing::why_no_forking();
  if (!why.empty()) GTEST_SKIP() << why;
  struct stat status;
  if (stat("/usr/share/zoneinfo/Europe/London", &status) != 0)
    GTEST_SKIP() << "no system zone database";
  // ZONEINFO set but empty names no directory: it counts as unset.
  for (const char *setting : {static_cast<const char *>(nullptr), ""}) {
    SCOPED_TRACE(setting == nullptr ? "ZONEINFO unset" : "ZONEINFO empty");
    TKP_RUN_IN_CHILD([setting] {
      if (setting == nullptr)
        unsetenv("ZONEINFO");
      else
        setenv("ZONEINFO", setting, 1);
      const struct {
        const char *zone;
        int expected;
      } rows[] = {{"Europe/London", 1}, {"UTC", 1}, {"Europe", 0}, {"", 0},
                  {"Europe/Nowhere", 0}, {"../zoneinfo/UTC", 0}, {"/Europe/London", 1}};
      for (const auto &row : rows) {
        errno = 4321;
        EXPECT_EQ(is_timezone(row.zone), row.expected) << row.zone;
        EXPECT_EQ(errno, 4321) << row.zone;
      }
    });
  }
}

TEST(HostTimezone, DirectoryFromTheEnvironmentAtTheFirstCall) {
  std::string why = tkpixmap::testing::why_no_forking();
  if (!why.empty()) GTEST_SKIP() << why;
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string zones = scratch.path() + "/zones";
  std::filesystem::create_directories(zones + "/Region");
  std::ofstream(zones + "/Region/City") << "TZif";
  std::ofstream(zones + "/Solo") << "TZif";
  std::ofstream(scratch.path() + "/outside") << "not a zone";
  symlink("Region/City", (zones + "/Link").c_str());
  symlink("Nowhere", (zones + "/Dangling").c_str());
  mkfifo((zones + "/Pipe").c_str(), 0600);
  TKP_RUN_IN_CHILD([&] {
    setenv("ZONEINFO", zones.c_str(), 1);
    const struct {
      std::string zone;
      int expected;
    } rows[] = {
        {"Region/City", 1}, {"Solo", 1},  {"Region", 0},   {"", 0},
        {"Link", 1},        {"Dangling", 0}, {"Pipe", 0},  {"Europe/London", 0},
        {"../outside", 0},  {"Region/../Solo", 0},
        {std::string(BU_PATH_MAX, 'z'), 0},
    };
    for (const auto &row : rows) {
      errno = 4321;
      EXPECT_EQ(is_timezone(row.zone.c_str()), row.expected) << row.zone.substr(0, 40);
      EXPECT_EQ(errno, 4321);
    }
    // Later changes of the environment are not seen.
    setenv("ZONEINFO", "/usr/share/zoneinfo", 1);
    EXPECT_EQ(is_timezone("Solo"), 1);
    unsetenv("ZONEINFO");
    EXPECT_EQ(is_timezone("Region/City"), 1);
  });
}

// Run alone (as ctest does), the threads make the very first calls; the
// mount lookups keep all their state in the call.
TEST(HostTimezone, NamesStayInsideTheZoneDatabase) {
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

TEST(HostPathThreads, ConcurrentLookups) {
  std::atomic<int> wrong{0};
  const char *configured = getenv("ZONEINFO");
  struct stat status;
  const int expected_zone =
      stat((std::string(configured ? configured : "/usr/share/zoneinfo") + "/UTC").c_str(),
           &status) == 0 && S_ISREG(status.st_mode);
  char root_host[PATHINFO_HOST_SIZE], root_fs[PATHINFO_FILESYSTEM_SIZE];
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        if (is_timezone("UTC") != expected_zone || is_timezone("no/such/zone") != 0)
          wrong.fetch_add(1);
        char host[PATHINFO_HOST_SIZE], filesystem[PATHINFO_FILESYSTEM_SIZE];
        if (fspath("/", host, filesystem) != 0 || is_nfs("/") < 0) wrong.fetch_add(1);
        PathInfo *info = infopath("/");
        if (info == nullptr) wrong.fetch_add(1);
        free(info);
      }
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  ASSERT_EQ(fspath("/", root_host, root_fs), 0);
}

}  // namespace
