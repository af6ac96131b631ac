// Whether a name is a time-zone file of the system's zone database.
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string_view>

#include "base/host/text_view.h"
#include "baseutil.h"
#include "pathinfo.h"

namespace tkpixmap::pathinfo {
namespace {

constexpr const char *kDefaultZoneinfo = "/usr/share/zoneinfo";

// The database directory, fixed at the first call for the life of the process.
char *zoneinfo_dir = nullptr;
pthread_once_t zoneinfo_once = PTHREAD_ONCE_INIT;

void choose_zoneinfo_dir() {
  const char *configured = getenv("ZONEINFO");
  // Set but empty names no directory (it would make "/" the database).
  if (configured != nullptr && configured[0] == '\0') configured = nullptr;
  zoneinfo_dir = strdup(configured != nullptr ? configured : kDefaultZoneinfo);
  if (zoneinfo_dir == nullptr)
    elog_die(1, "Out of memory at line %d in '%s'\n\tCan't malloc %u bytes for zoneinfo\n",
             __LINE__, "is_timezone",
             static_cast<unsigned>(strlen(configured != nullptr ? configured : kDefaultZoneinfo) + 1));
}

// A ".." component would lead out of the database to files that are no zones.
bool leaves_directory(std::string_view zone) {
  while (!zone.empty()) {
    size_t slash = zone.find('/');
    std::string_view component = tkpixmap::text::head(zone, slash);
    if (component == "..") return true;
    if (slash == std::string_view::npos) break;
    zone.remove_prefix(slash + 1);
  }
  return false;
}

int lookup(const char *zone) {
  if (leaves_directory(zone)) return 0;
  char path[BU_PATH_MAX];
  int length = snprintf(path, sizeof path, "%s/%s", zoneinfo_dir, zone);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return 0;
  struct stat64 status;
  int rc;
  do {
    rc = stat64(path, &status);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 && S_ISREG(status.st_mode) ? 1 : 0;
}

}  // namespace
}  // namespace tkpixmap::pathinfo

extern "C" int is_timezone(const char *zone) {
  using namespace tkpixmap::pathinfo;
  const int saved_errno = errno;
  pthread_once(&zoneinfo_once, choose_zoneinfo_dir);
  const int result = lookup(zone);
  errno = saved_errno;
  return result;
}
