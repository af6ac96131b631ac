// Host, system and login names, name/address translation and the interface
// addresses.  Lookups run in private namespaces whose "/etc/hosts" and
// "/etc/nsswitch.conf" are the test's own, so no question leaves the
// machine; interface addresses are added only inside a private network
// namespace, on a link that is never brought up.
#include <arpa/inet.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/host/interface_list.h"
#include "baseutil.h"
#include "hostid.h"
#include "tests/support/host_isolation.h"
#include "tests/support/host_log_capture.h"

namespace {

using tkpixmap::hostid::address_in_line;
using tkpixmap::testing::LogCapture;
using tkpixmap::testing::ScratchDir;

constexpr uint32_t numeric(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

// ------------------------------------------------------------ listing lines

TEST(HostInterfaceList, ClassicAndCurrentFormsAndNonAddresses) {
  const struct {
    const char *line;
    bool found;
    uint32_t address;
  } rows[] = {
      {"        inet 192.0.2.2  netmask 255.255.255.0  broadcast 192.0.2.255", true,
       numeric(192, 0, 2, 2)},
      {"          inet addr:10.1.2.3  Bcast:10.1.2.255  Mask:255.255.255.0", true,
       numeric(10, 1, 2, 3)},
      {"          inet addr:127.0.0.1  Mask:255.0.0.0", true, numeric(127, 0, 0, 1)},
      {"        inet 10.9.0.1", true, numeric(10, 9, 0, 1)},
      {"inet 255.255.255.255\tx", true, 0xFFFFFFFFu},
      {"inet 001.02.3.4 x", true, numeric(1, 2, 3, 4)},
      {"        inet6 fe80::fc:ff:fe00:1  prefixlen 64  scopeid 0x20<link>", false, 0},
      {"          inet6 addr: fe80::1/64 Scope:Link", false, 0},
      {"eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1400", false, 0},
      {"eth0      Link encap:Ethernet  HWaddr 02:fc:00:00:00:01", false, 0},
      {"", false, 0},
      {"inet addr:", false, 0},
      {"inet 256.1.1.1 x", false, 0},
      {"inet 1234.1.1.1 x", false, 0},
      {"inet 1.2.3 x", false, 0},
      {"inet 1.2.3.4x", false, 0},
      {"inet 1.2.3.4.5", false, 0},
      {"inet 99999999999999999999.1.1.1", false, 0},
      {"inet -1.2.3.4", false, 0},
  };
  for (const auto &row : rows) {
    uint32_t address = 0xDEADBEEF;
    EXPECT_EQ(address_in_line(row.line, address), row.found) << row.line;
    EXPECT_EQ(address, row.found ? row.address : 0xDEADBEEF) << row.line;
  }
}

// ------------------------------------------------------------ uname names

TEST(HostNames, FromUname) {
  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  const struct {
    const char *what;
    int (*service)(char *);
    std::string expected;
  } rows[] = {
      {"my_os", my_os, names.sysname},
      {"my_hardware", my_hardware, names.machine},
      {"my_hostname", my_hostname,
       std::string(names.nodename).substr(0, strcspn(names.nodename, "."))},
  };
  for (const auto &row : rows) {
    char buf[HOSTID_UNAME_SIZE];
    ASSERT_EQ(row.service(buf), 0) << row.what;
    EXPECT_EQ(std::string(buf), row.expected) << row.what;
  }
}

TEST(HostNames, HostNameIsCutAtItsFirstDot) {
  std::string why = tkpixmap::testing::why_no_namespaces();
  if (!why.empty()) GTEST_SKIP() << why;
  TKP_RUN_IN_CHILD([] {
    std::string reason = tkpixmap::testing::enter_private_network();
    if (!reason.empty()) GTEST_SKIP() << reason;
    const std::string longest(64, 'n');
    const struct {
      std::string node, expected;
    } rows[] = {{"plainname", "plainname"},
                {"tkp-probe.example.org", "tkp-probe"},
                {"a.b", "a"},
                {longest, longest}};
    for (const auto &row : rows) {
      ASSERT_EQ(sethostname(row.node.data(), row.node.size()), 0);
      char buf[HOSTID_UNAME_SIZE + 8];
      memset(buf, '#', sizeof buf);
      ASSERT_EQ(my_hostname(buf), 0);
      EXPECT_EQ(std::string(buf), row.expected);
      EXPECT_EQ(buf[HOSTID_UNAME_SIZE], '#') << "wrote past the documented buffer";
    }
  });
}

// ------------------------------------------------------------ the real machine

std::vector<uint32_t> listed_addresses() {
  std::vector<uint32_t> found;
  FILE *listing = popen("LANG=C /sbin/ifconfig -a 2>/dev/null", "r");
  if (listing == nullptr) return found;
  char line[1024];
  while (fgets(line, sizeof line, listing) != nullptr) {
    uint32_t address;
    if (address_in_line(line, address)) found.push_back(address);
  }
  pclose(listing);
  return found;
}

TEST(HostIdentityReal, InterfaceAddressesMatchTheListing) {
  struct stat status;
  if (stat("/sbin/ifconfig", &status) != 0) GTEST_SKIP() << "no /sbin/ifconfig (net-tools)";
  std::string why = tkpixmap::testing::why_no_forking();
  if (!why.empty()) GTEST_SKIP() << why;
  // A child, so that no later test inherits this process's cache.
  TKP_RUN_IN_CHILD([] {
    const std::vector<uint32_t> listed = listed_addresses();
    std::vector<uint32_t> expected;
    for (uint32_t address : listed)
      if (address != numeric(127, 0, 0, 1) && expected.size() < 31) expected.push_back(address);
    uint32_t ips[HOSTID_IPS_SIZE];
    int count = my_ips(ips);
    ASSERT_EQ(count, static_cast<int>(expected.size()));
    EXPECT_EQ(std::vector<uint32_t>(ips, ips + count), expected);
    EXPECT_EQ(ips[count], 0u);
    EXPECT_EQ(my_ipaddress(), listed.empty() ? 0u : listed.front());
  });
}

// ------------------------------------------------------------ private namespaces

constexpr const char *kNsswitch = "passwd: files\ngroup: files\nshadow: files\nhosts: files\n";

// Sets up the child: private network, host name and mounts, the test's own
// resolver files over /etc, and a counting stand-in in front of ifconfig.
// Returns "" or why the test cannot run.
std::string isolate(const ScratchDir &scratch, const std::string &hosts,
                    const std::map<std::string, std::string> &sbin) {
  std::string why = tkpixmap::testing::enter_private_network();
  if (why.empty()) why = tkpixmap::testing::enter_private_mounts();
  if (why.empty())
    why = tkpixmap::testing::overlay_files(
        "/etc", {{"hosts", hosts}, {"nsswitch.conf", kNsswitch}}, scratch.path());
  if (why.empty() && !sbin.empty())
    why = tkpixmap::testing::overlay_files("/sbin", sbin, scratch.path());
  const char *node = "tkp-nohost";
  if (why.empty() && sethostname(node, strlen(node)) != 0) why = "sethostname failed";
  return why;
}

using SbinFiles = std::map<std::string, std::string>;

// Runs body in a child isolated by isolate() with the hosts file `hosts`
// and the /sbin stand-ins that `sbin` makes for the scratch directory;
// skips where namespaces or the isolation cannot be had.
void in_isolation(const std::string &hosts,
                  const std::function<SbinFiles(const std::string &scratch)> &sbin,
                  const std::function<void(const std::string &scratch)> &body) {
  std::string why = tkpixmap::testing::why_no_namespaces();
  if (!why.empty()) GTEST_SKIP() << why;
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  TKP_RUN_IN_CHILD([&] {
    std::string reason = isolate(scratch, hosts, sbin(scratch.path()));
    if (!reason.empty()) GTEST_SKIP() << reason;
    body(scratch.path());
  });
}

SbinFiles no_stand_ins(const std::string &) { return {}; }

std::string counting_ifconfig(const std::string &count_file) {
  return "#!/bin/sh\necho start >> " + count_file + "\nexec /sbin/ifconfig.real \"$@\"\n";
}

std::string real_ifconfig() {
  std::ifstream in("/sbin/ifconfig", std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

int lines_in(const std::string &path) {
  std::ifstream in(path);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

// 40 addresses, one per label, on a link that stays down.
std::string add_forty_addresses() {
  std::string commands = "ip link add tkp0 type veth peer name tkp1 && ip link set lo up";
  for (int n = 0; n < 40; ++n)
    commands += " && ip addr add 10.9." + std::to_string(n) + ".1/24 dev tkp1 label tkp1:" +
                std::to_string(n);
  return tkpixmap::testing::shell(commands);
}

const std::string kLongName(300, 'q');

std::string test_hosts() {
  std::string hosts = "127.0.0.1 localhost\n10.9.5.1 five.example five\n"
                      "10.9.7.1 tkp-known.example.org tkp-known\n10.9.6.1 " +
                      kLongName + "\n10.9.8.1 many";
  for (int alias = 0; alias < 200; ++alias) hosts += " alias-number-" + std::to_string(alias);
  return hosts + "\n";
}

TEST(HostIdentityNamespace, FortyAddressesAndTheResolver) {
  auto counted = [](const std::string &scratch) {
    return SbinFiles{{"ifconfig", counting_ifconfig(scratch + "/starts")},
                     {"ifconfig.real", real_ifconfig()}};
  };
  in_isolation(test_hosts(), counted, [](const std::string &scratch) {
    const std::string count_file = scratch + "/starts";
    std::string reason = add_forty_addresses();
    if (!reason.empty()) GTEST_SKIP() << reason;
    ASSERT_EQ(chmod("/sbin/ifconfig.real", 0755), 0);

    // 31 of the 40, in listed order, then 0; the second call is cached.
    uint32_t ips[HOSTID_IPS_SIZE];
    memset(ips, 0xAB, sizeof ips);
    ASSERT_EQ(my_ips(ips), 31);
    for (uint32_t n = 0; n < 31; ++n) EXPECT_EQ(ips[n], numeric(10, 9, n, 1)) << n;
    EXPECT_EQ(ips[31], 0u);
    uint32_t again[HOSTID_IPS_SIZE];
    ASSERT_EQ(my_ips(again), 31);
    EXPECT_EQ(memcmp(ips, again, sizeof ips), 0);
    EXPECT_EQ(lines_in(count_file), 1) << "the command ran more than once";

    // The loopback interface comes first and is not passed over here.
    EXPECT_EQ(my_ipaddress(), numeric(127, 0, 0, 1));
    EXPECT_EQ(lines_in(count_file), 2);

    // The host name is unknown: "localhost" and the first interface address.
    char name[HOSTID_NAME_SIZE], dotted[HOSTID_DOTTED_SIZE];
    uint32_t ip = 0;
    ASSERT_EQ(my_ip(name, dotted, &ip), 0);
    EXPECT_STREQ(name, "localhost");
    EXPECT_STREQ(dotted, "10.9.0.1");
    EXPECT_EQ(ip, htonl(numeric(10, 9, 0, 1)));
    EXPECT_EQ(lines_in(count_file), 2) << "my_ip answers from the cache";

    // A known host name: the resolver's official name and address.
    ASSERT_EQ(sethostname("tkp-known.example.org", 21), 0);
    ASSERT_EQ(my_ip(name, dotted, &ip), 0);
    EXPECT_STREQ(name, "tkp-known.example.org");
    EXPECT_STREQ(dotted, "10.9.7.1");
    EXPECT_EQ(ip, htonl(numeric(10, 9, 7, 1)));

    const struct {
      const char *query;
      int result;
      uint32_t address;
      const char *text;
    } forward[] = {
        {"localhost", 0, numeric(127, 0, 0, 1), "127.0.0.1"},
        {"five", 0, numeric(10, 9, 5, 1), "10.9.5.1"},
        {"five.example", 0, numeric(10, 9, 5, 1), "10.9.5.1"},
        {"alias-number-199", 0, numeric(10, 9, 8, 1), "10.9.8.1"},  // a large answer
        {"nosuchhost.invalid", -1, 0xFFFFFFFFu, ""},
        {"", -1, 0xFFFFFFFFu, ""},
    };
    LogCapture log;
    for (const auto &row : forward) {
      char text[HOSTID_DOTTED_SIZE] = "junk";
      EXPECT_EQ(name2ip(row.query, &ip, text), row.result) << row.query;
      EXPECT_EQ(ip, row.result == 0 ? htonl(row.address) : row.address) << row.query;
      EXPECT_STREQ(text, row.text) << row.query;
    }
    EXPECT_EQ(log.messages().size(), 0u) << log.all();

    const struct {
      uint32_t address;
      int result;
      std::string name;
    } reverse[] = {
        {numeric(127, 0, 0, 1), 0, "localhost"},
        {numeric(10, 9, 5, 1), 0, "five.example"},
        {numeric(10, 9, 8, 1), 0, "many"},
        {numeric(10, 9, 6, 1), 0, kLongName.substr(0, HOSTID_NAME_SIZE - 1)},
        {numeric(10, 9, 9, 1), -1, "10.9.9.1"},
    };
    for (const auto &row : reverse) {
      char buf[HOSTID_NAME_SIZE + 16];
      memset(buf, '#', sizeof buf);
      EXPECT_EQ(ip2name(htonl(row.address), buf), row.result) << row.name;
      EXPECT_EQ(std::string(buf), row.name);
      EXPECT_EQ(buf[HOSTID_NAME_SIZE], '#') << "wrote past the documented buffer";
    }
    EXPECT_EQ(log.count(ELOG_COMPLAIN, "Can't lookup hostname for ip address 10.9.9.1"), 1)
        << log.all();
    EXPECT_EQ(log.messages().size(), 1u) << log.all();
  });
}

TEST(HostIdentityNamespace, ThreadsReportEachUnresolvedAddressOnce) {
  in_isolation(test_hosts(), no_stand_ins, [](const std::string &) {
    LogCapture log;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
      threads.emplace_back([t, &wrong] {
        for (int round = 0; round < 3; ++round)
          for (uint32_t n = 20; n < 26; ++n) {
            char name[HOSTID_NAME_SIZE];
            std::string expected = "10.9." + std::to_string(n) + ".1";
            if (ip2name(htonl(numeric(10, 9, n, 1)), name) != -1 || name != expected)
              wrong.fetch_add(1);
            char dotted[HOSTID_DOTTED_SIZE];
            uint32_t ip;
            if (t % 2 == 0 && (name2ip("five", &ip, dotted) != 0 || strcmp(dotted, "10.9.5.1")))
              wrong.fetch_add(1);
          }
      });
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    for (uint32_t n = 20; n < 26; ++n)
      EXPECT_EQ(log.count(ELOG_COMPLAIN,
                          "Can't lookup hostname for ip address 10.9." + std::to_string(n) + ".1"),
                1)
          << log.all();
    EXPECT_EQ(log.messages().size(), 6u);
  });
}

TEST(HostIdentityNamespace, LoopbackOnly) {
  in_isolation("127.0.0.1 localhost\n", no_stand_ins, [](const std::string &) {
    EXPECT_EQ(my_ipaddress(), 0u) << "no interface has an address yet";
    std::string reason = tkpixmap::testing::shell("ip link set lo up");
    if (!reason.empty()) GTEST_SKIP() << reason;
    EXPECT_EQ(my_ipaddress(), numeric(127, 0, 0, 1));
    uint32_t ips[HOSTID_IPS_SIZE];
    memset(ips, 0xAB, sizeof ips);
    EXPECT_EQ(my_ips(ips), 0);
    EXPECT_EQ(ips[0], 0u);
    char name[HOSTID_NAME_SIZE] = "junk", dotted[HOSTID_DOTTED_SIZE] = "untouched";
    uint32_t ip = 0x12345678;
    EXPECT_EQ(my_ip(name, dotted, &ip), -1);
    EXPECT_STREQ(name, "localhost");
    EXPECT_STREQ(dotted, "untouched");
    EXPECT_EQ(ip, 0x12345678u);
  });
}

const char *kClassicListing =
    "lo        Link encap:Local Loopback\n"
    "          inet addr:127.0.0.1  Mask:255.0.0.0\n"
    "          inet6 addr: ::1/128 Scope:Host\n"
    "\n"
    "eth0      Link encap:Ethernet  HWaddr 02:fc:00:00:00:01\n"
    "          inet addr:10.1.2.3  Bcast:10.1.2.255  Mask:255.255.255.0\n"
    "          inet6 addr: fe80::1/64 Scope:Link\n"
    "\n"
    "eth0:1    Link encap:Ethernet  HWaddr 02:fc:00:00:00:01\n"
    "          inet addr:10.1.2.4  Bcast:10.1.2.255  Mask:255.255.255.0\n";

TEST(HostIdentityNamespace, ClassicListingFromAStandIn) {
  auto listing = [](const std::string &scratch) {
    return SbinFiles{{"ifconfig", "#!/bin/sh\nenv > " + scratch + "/environment\ncat <<'EOF'\n" +
                                      kClassicListing + "EOF\n"}};
  };
  in_isolation("127.0.0.1 localhost\n", listing, [](const std::string &scratch) {
    const std::string environment = scratch + "/environment";
    setenv("TKP_MARKER", "1", 1);
    uint32_t ips[HOSTID_IPS_SIZE];
    ASSERT_EQ(my_ips(ips), 2);
    EXPECT_EQ(ips[0], numeric(10, 1, 2, 3));
    EXPECT_EQ(ips[1], numeric(10, 1, 2, 4));
    EXPECT_EQ(ips[2], 0u);
    // The command gets "LANG=C" as its whole environment.
    std::ifstream in(environment);
    std::set<std::string> seen;
    for (std::string line; std::getline(in, line);) seen.insert(line);
    EXPECT_TRUE(seen.count("LANG=C"));
    EXPECT_FALSE(seen.count("TKP_MARKER=1"));
    EXPECT_EQ(my_ipaddress(), numeric(127, 0, 0, 1));
  });
}

TEST(HostIdentityNamespace, MissingOrSilentCommandGivesNoAddresses) {
  auto silent = [](const std::string &) {
    return SbinFiles{{"ifconfig", "#!/bin/sh\necho 'eth0: flags=4163<UP>'\n"}};
  };
  for (bool missing : {true, false}) {
    SCOPED_TRACE(missing ? "missing" : "silent");
    in_isolation("127.0.0.1 localhost\n", silent, [missing](const std::string &scratch) {
      if (missing) {
        // An overlay whiteout hides the command.
        ASSERT_EQ(umount("/sbin"), 0);
        const std::string upper = scratch + "/hidden";
        std::filesystem::create_directories(upper + "/u");
        std::filesystem::create_directories(upper + "/w");
        ASSERT_EQ(mknod((upper + "/u/ifconfig").c_str(), S_IFCHR | 0600, makedev(0, 0)), 0);
        const std::string options =
            "lowerdir=/sbin,upperdir=" + upper + "/u,workdir=" + upper + "/w";
        ASSERT_EQ(mount("overlay", "/sbin", "overlay", 0, options.c_str()), 0);
        struct stat status;
        ASSERT_NE(stat("/sbin/ifconfig", &status), 0);
      }
      LogCapture log;
      uint32_t ips[HOSTID_IPS_SIZE];
      EXPECT_EQ(my_ips(ips), 0);
      EXPECT_EQ(ips[0], 0u);
      EXPECT_EQ(my_ipaddress(), 0u);
    });
  }
}

// ------------------------------------------------------------ login name

TEST(HostUsername, WholeNameOfTheEffectiveUserOrItsNumber) {
  std::string why = tkpixmap::testing::why_no_namespaces();
  if (!why.empty()) GTEST_SKIP() << why;
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path().empty());
  TKP_RUN_IN_CHILD([&] {
    std::string why_not = tkpixmap::testing::enter_private_mounts();
    const std::string passwd =
        "root:x:0:0:root:/root:/bin/sh\n"
        "averyveryverylongloginname:x:4321:4321::/:/bin/sh\n";
    if (why_not.empty())
      why_not = tkpixmap::testing::overlay_files(
          "/etc", {{"passwd", passwd}, {"nsswitch.conf", kNsswitch}}, scratch.path());
    if (!why_not.empty()) GTEST_SKIP() << why_not;
    char buf[HOSTID_LOGIN_SIZE];
    // No name for the effective user: the real user's number, tried again
    // on every call.
    ASSERT_EQ(seteuid(4322), 0);
    EXPECT_EQ(my_username(buf), -1);
    EXPECT_STREQ(buf, "u#0");
    ASSERT_EQ(seteuid(0), 0);
    ASSERT_EQ(seteuid(4321), 0);
    EXPECT_EQ(my_username(buf), 0);
    EXPECT_STREQ(buf, "averyveryverylongloginname");
    ASSERT_EQ(seteuid(0), 0);
    // Found once, kept for the life of the process.
    EXPECT_EQ(my_username(buf), 0);
    EXPECT_STREQ(buf, "averyveryverylongloginname");
  });
}

TEST(HostUsername, NameOfThisProcess) {
  struct passwd *entry = getpwuid(geteuid());
  if (entry == nullptr) GTEST_SKIP() << "the effective user has no name here";
  const std::string expected = entry->pw_name;
  char buf[HOSTID_LOGIN_SIZE];
  EXPECT_EQ(my_username(buf), 0);
  EXPECT_EQ(buf, expected);
}

// ------------------------------------------------------------ threads

// Names in the machine's own hosts file resolve there, before any name
// server is asked.
bool in_hosts_file(const std::string &name) {
  std::ifstream hosts("/etc/hosts");
  for (std::string line; std::getline(hosts, line);) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string field;
    fields >> field;
    while (fields >> field)
      if (field == name) return true;
  }
  return false;
}

TEST(HostIdentityThreads, LockedServicesFromManyThreads) {
  if (!in_hosts_file("localhost")) GTEST_SKIP() << "localhost is not in /etc/hosts";
  char host[HOSTID_UNAME_SIZE];
  ASSERT_EQ(my_hostname(host), 0);
  const bool host_is_local = in_hosts_file(host);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t, host_is_local, &wrong] {
      for (int i = 0; i < 20; ++i) {
        char name[HOSTID_NAME_SIZE], dotted[HOSTID_DOTTED_SIZE];
        uint32_t ip;
        uint32_t ips[HOSTID_IPS_SIZE];
        switch ((t + i) % 5) {
          case 0:
            if (name2ip("localhost", &ip, dotted) != 0 || strcmp(dotted, "127.0.0.1") != 0 ||
                ip != htonl(numeric(127, 0, 0, 1)))
              wrong.fetch_add(1);
            break;
          case 1:
            if (ip2name(htonl(numeric(127, 0, 0, 1)), name) != 0 || strcmp(name, "localhost"))
              wrong.fetch_add(1);
            break;
          case 2:
            if (my_ips(ips) < 0) wrong.fetch_add(1);
            break;
          case 3:
            if (host_is_local && my_ip(name, dotted, &ip) != 0) wrong.fetch_add(1);
            break;
          default:
            if (my_username(name) != 0 && strncmp(name, "u#", 2) != 0) wrong.fetch_add(1);
            break;
        }
      }
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
