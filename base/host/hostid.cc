// Host identity: host, system and hardware names, the host's own address,
// name/address translation with a memory of failed reverse lookups, the
// login name, and the interface addresses with their 60-second cache.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <pthread.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <bit>
#include <string_view>

#include "base/host/interface_list.h"
#include "base/out_of_memory.h"
#include "base/host/text_view.h"
#include "baseutil.h"
#include "baseutil/mutex_lock.h"
#include "gxline.h"
#include "hostid.h"
#include "reserve_file.h"
#include "shims.h"

namespace tkpixmap::hostid {
namespace {

// The source name out-of-memory reports have always given for this family.
constexpr const char *kReportName = "my";

constexpr const char *kLocalhost = "localhost";
constexpr int kListingLineSize = 1024;
constexpr int kMaxInterfaceAddresses = HOSTID_IPS_SIZE - 1;
constexpr double kInterfaceCacheSeconds = 60.0;
constexpr size_t kResolverFirstBuffer = 1024;
constexpr size_t kResolverMaxBuffer = 1 << 20;

// Each service below runs one call at a time under its own lock; my_ip
// calls my_ips, so my_ip_lock comes before my_ips_lock (the lock order is
// in baseutil/mutex_lock.h).
pthread_mutex_t my_ip_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t ip2name_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t name2ip_lock = PTHREAD_MUTEX_INITIALIZER;

Arr *unresolved_ips = nullptr;  // under ip2name_lock

// Filled once; the lock keeps a fill from racing a reader.
pthread_mutex_t username_lock = PTHREAD_MUTEX_INITIALIZER;
char username_cache[HOSTID_LOGIN_SIZE];

pthread_mutex_t my_ips_lock = PTHREAD_MUTEX_INITIALIZER;
uint32_t ips_cache[HOSTID_IPS_SIZE];  // numeric form, under my_ips_lock
int ips_count = 0;
double ips_time = 0.0;

void copy_cut(char *out, size_t size, const char *text) { snprintf(out, size, "%s", text); }

void dotted_text(uint32_t network_address, char *dotted) {
  struct in_addr address;
  address.s_addr = network_address;
  inet_ntop(AF_INET, &address, dotted, HOSTID_DOTTED_SIZE);
}

// Result of one resolver call: the first IPv4 address (network form) and
// the official name, cut to HOSTID_NAME_SIZE.
struct HostAnswer {
  uint32_t address;
  char name[HOSTID_NAME_SIZE];
};

bool take_answer(const struct hostent *entry, HostAnswer &answer) {
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
      entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
    return false;
  memcpy(&answer.address, entry->h_addr_list[0], sizeof answer.address);
  copy_cut(answer.name, sizeof answer.name, entry->h_name != nullptr ? entry->h_name : "");
  return true;
}

// Calls a reentrant resolver form, growing its scratch buffer while it asks
// for more room.
template <typename Call>
bool ask_resolver(Call call, HostAnswer &answer) {
  char first[kResolverFirstBuffer];
  char *scratch = first;
  size_t size = sizeof first;
  bool found = false;
  for (;;) {
    struct hostent entry;
    struct hostent *result = nullptr;
    int resolver_error = 0;
    int rc = call(&entry, scratch, size, &result, &resolver_error);
    if (rc == ERANGE && size < kResolverMaxBuffer) {
      size *= 2;
      char *bigger = static_cast<char *>(scratch == first ? malloc(size) : realloc(scratch, size));
      if (bigger == nullptr) dieOutOfMemory(__LINE__, kReportName, size, "resolver");
      scratch = bigger;
      continue;
    }
    found = rc == 0 && take_answer(result, answer);
    break;
  }
  if (scratch != first) free(scratch);
  return found;
}

bool resolve_name(const char *name, HostAnswer &answer) {
  return ask_resolver(
      [name](struct hostent *entry, char *scratch, size_t size, struct hostent **result,
             int *resolver_error) {
        return gethostbyname_r(name, entry, scratch, size, result, resolver_error);
      },
      answer);
}

bool resolve_address(uint32_t network_address, HostAnswer &answer) {
  return ask_resolver(
      [&network_address](struct hostent *entry, char *scratch, size_t size,
                         struct hostent **result, int *resolver_error) {
        return gethostbyaddr_r(&network_address, sizeof network_address, AF_INET, entry,
                               scratch, size, result, resolver_error);
      },
      answer);
}

using UnameField = char (utsname::*)[sizeof(utsname::nodename)];

int uname_part(char *buf, UnameField field, bool short_name) {
  struct utsname names;
  if (uname(&names) != 0) {
    buf[0] = '\0';
    return -1;
  }
  std::string_view text = names.*field;
  if (short_name) text = tkpixmap::text::head(text, text.find('.'));
  snprintf(buf, HOSTID_UNAME_SIZE, "%.*s", static_cast<int>(text.size()), text.data());
  return 0;
}

static_assert(sizeof(utsname::nodename) <= HOSTID_UNAME_SIZE);

// Reads the listing of "/sbin/ifconfig -a" into ips_cache; my_ips_lock held.
void read_interface_list() {
  static char lang[] = "LANG=C";
  char *const environment[] = {lang, nullptr};
  int fd_out = -1;
  ips_count = 0;
  int handle = gxpipe("/sbin/ifconfig -a", environment, &fd_out);
  if (handle < 0) {
    elog_log(1, "failed to open ifconfig pipe");
    return;
  }
  char line[kListingLineSize];
  while (gxline(handle, line, sizeof line) != 0) {
    uint32_t address;
    if (ips_count == kMaxInterfaceAddresses || !address_in_line(line, address) ||
        address == kLoopbackNumeric)
      continue;
    ips_cache[ips_count++] = address;
  }
  gxclose(handle);
  errno = 0;
}

}  // namespace
}  // namespace tkpixmap::hostid

using namespace tkpixmap::hostid;

extern "C" {

int my_hostname(char *buf) { return uname_part(buf, &utsname::nodename, true); }
int my_os(char *buf) { return uname_part(buf, &utsname::sysname, false); }
int my_hardware(char *buf) { return uname_part(buf, &utsname::machine, false); }

int my_ip(char *name, char *dotted, uint32_t *ip) {
  char host[HOSTID_UNAME_SIZE];
  my_hostname(host);
  tkpixmap::MutexLock lock(my_ip_lock);
  int result = 0;
  HostAnswer answer;
  if (resolve_name(host, answer)) {
    *ip = answer.address;
    copy_cut(name, HOSTID_NAME_SIZE, answer.name);
    dotted_text(answer.address, dotted);
  } else {
    copy_cut(name, HOSTID_NAME_SIZE, kLocalhost);
    uint32_t addresses[HOSTID_IPS_SIZE];
    if (my_ips(addresses) > 0) {
      *ip = htonl(addresses[0]);
      dotted_text(*ip, dotted);
    } else {
      result = -1;
    }
  }
  return result;
}

int ip2name(uint32_t ip, char *name) {
  if (ip == htonl(kLoopbackNumeric)) {
    copy_cut(name, HOSTID_NAME_SIZE, kLocalhost);
    return 0;
  }
  char key[16];
  snprintf(key, sizeof key, "%d", std::bit_cast<int32_t>(ip));
  tkpixmap::MutexLock lock(ip2name_lock);
  int result = -1;
  const char *known_failure =
      unresolved_ips != nullptr ? static_cast<const char *>(getarr(unresolved_ips, key)) : nullptr;
  HostAnswer answer;
  if (known_failure != nullptr) {
    copy_cut(name, HOSTID_NAME_SIZE, known_failure);
  } else if (resolve_address(ip, answer)) {
    copy_cut(name, HOSTID_NAME_SIZE, answer.name);
    result = 0;
  } else {
    char dotted[HOSTID_DOTTED_SIZE];
    dotted_text(ip, dotted);
    copy_cut(name, HOSTID_NAME_SIZE, dotted);
    if (unresolved_ips == nullptr) unresolved_ips = newarr(nullptr);
    char *kept = strdup(dotted);
    if (kept == nullptr) tkpixmap::dieOutOfMemory(__LINE__, kReportName, sizeof dotted, "unresolved");
    setarr(unresolved_ips, key, kept);
    elog_complain(0, "Can't lookup hostname for ip address %s", dotted);
  }
  return result;
}

int name2ip(const char *name, uint32_t *ip, char *dotted) {
  tkpixmap::MutexLock lock(name2ip_lock);
  HostAnswer answer;
  int result = 0;
  if (resolve_name(name, answer)) {
    *ip = answer.address;
    dotted_text(answer.address, dotted);
  } else {
    *ip = 0xFFFFFFFFu;
    dotted[0] = '\0';
    result = -1;
  }
  return result;
}

int my_username(char *buf) {
  tkpixmap::MutexLock lock(username_lock);
  if (username_cache[0] == '\0') {
    // The whole name from the password database, not cut as cuserid cuts it.
    struct passwd entry;
    struct passwd *found = nullptr;
    char scratch[4096];
    if (getpwuid_r(geteuid(), &entry, scratch, sizeof scratch, &found) == 0 &&
        found != nullptr && found->pw_name != nullptr)
      copy_cut(username_cache, sizeof username_cache, found->pw_name);
  }
  int result = 0;
  if (username_cache[0] == '\0') {
    snprintf(buf, HOSTID_LOGIN_SIZE, "u#%ld", static_cast<long>(getuid()));
    result = -1;
  } else {
    copy_cut(buf, HOSTID_LOGIN_SIZE, username_cache);
  }
  return result;
}

uint32_t my_ipaddress(void) {
  uint32_t result = 0;
  release_FILE();
  FILE *listing = popen("LANG=C /sbin/ifconfig -a", "r");
  if (listing == nullptr) {
    elog_log(1, "failed to open pipe for /sbin/ifconfig");
  } else {
    char line[kListingLineSize];
    // Read to the end, so the command is not cut off by a closed pipe.
    uint32_t address;
    while (getaline(listing, line, sizeof line) != 0)
      if (result == 0 && address_in_line(line, address)) result = address;
    pclose(listing);
    errno = 0;
  }
  reserve_FILE();
  return result;
}

int my_ips(uint32_t *ips) {
  tkpixmap::MutexLock lock(my_ips_lock);
  const double now = std_now();
  if (now - ips_time > kInterfaceCacheSeconds) {
    read_interface_list();
    ips_time = now;
  }
  memcpy(ips, ips_cache, static_cast<size_t>(ips_count) * sizeof *ips);
  ips[ips_count] = 0;
  const int count = ips_count;
  return count;
}

}  // extern "C"
