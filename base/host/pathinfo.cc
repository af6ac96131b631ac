// Which mounted file system holds a path, which host serves it, and the
// file system's identity and space figures; and whether a name is a time-zone
// file of the system's zone database.
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <string_view>

#include "base/host/text_view.h"
#include "base/out_of_memory.h"
#include "baseutil.h"
#include "base/host/mount_table.h"
#include "pathinfo.h"

namespace tkpixmap::pathinfo {
namespace {

constexpr const char *kMountTable = "/etc/mtab";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Next field of line, separated by blanks and tabs; empty when none is left.
std::string_view next_field(std::string_view &line) {
  size_t start = 0;
  while (start < line.size() && is_blank(line[start])) ++start;
  size_t end = start;
  while (end < line.size() && !is_blank(line[end])) ++end;
  std::string_view field = tkpixmap::text::head(tkpixmap::text::tail(line, start), end - start);
  line.remove_prefix(end);
  return field;
}

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// Decodes the kernel's \ooo escapes of field into out (size bytes), cutting
// what does not fit.  Returns the decoded length before any cut.
size_t decode_field(std::string_view field, char *out, size_t size) {
  size_t length = 0;
  for (size_t i = 0; i < field.size(); ++i) {
    char c = field[i];
    if (c == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
        is_octal(field[i + 2]) && is_octal(field[i + 3])) {
      c = static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                            (field[i + 3] - '0'));
      i += 3;
    }
    if (length + 1 < size) out[length] = c;
    ++length;
  }
  out[length + 1 < size ? length : size - 1] = '\0';
  return length;
}

// Time-zone names are looked up in the system's zone database.
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
    dieOutOfMemory(__LINE__, "is_timezone",
                   strlen(configured != nullptr ? configured : kDefaultZoneinfo) + 1, "zoneinfo");
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

int lookup_zone(const char *zone) {
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

bool parse_mount_line(std::string_view line, MountEntry &entry) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  std::string_view device = next_field(line);
  std::string_view mount_point = next_field(line);
  if (device.empty() || mount_point.empty()) return false;

  entry.mount_point_length =
      decode_field(mount_point, entry.mount_point, sizeof entry.mount_point);
  if (entry.mount_point_length >= sizeof entry.mount_point) return false;

  char decoded_device[PATHINFO_FILESYSTEM_SIZE + PATHINFO_HOST_SIZE];
  size_t device_length = decode_field(device, decoded_device, sizeof decoded_device);
  if (device_length >= sizeof decoded_device) device_length = sizeof decoded_device - 1;
  std::string_view whole(decoded_device, device_length);
  size_t colon = whole.find(':');
  std::string_view host = colon == std::string_view::npos ? std::string_view() : tkpixmap::text::head(whole, colon);
  std::string_view filesystem = colon == std::string_view::npos ? whole : tkpixmap::text::tail(whole, colon + 1);
  snprintf(entry.host, sizeof entry.host, "%.*s", static_cast<int>(host.size()), host.data());
  snprintf(entry.filesystem, sizeof entry.filesystem, "%.*s",
           static_cast<int>(filesystem.size()), filesystem.data());
  return true;
}

bool mount_covers(std::string_view mount_point, std::string_view path) {
  if (mount_point.empty() || !tkpixmap::text::begins_with(path, mount_point)) return false;
  return path.size() == mount_point.size() || path[mount_point.size()] == '/' ||
         mount_point.back() == '/';
}

}  // namespace tkpixmap::pathinfo

using namespace tkpixmap::pathinfo;

extern "C" {

int fspath(const char *path, char *host, char *filesystem) {
  host[0] = '\0';
  filesystem[0] = '\0';

  char absolute[BU_PATH_MAX];
  errno = 0;
  if (abspath(path, absolute) == nullptr) {
    // Too long for any lookup (or no working directory): a failed lookup.
    if (errno == 0) errno = ENAMETOOLONG;
    elog_log(1, "can't stat %s", path);
    return -1;
  }
  struct stat64 status;
  if (stat64(absolute, &status) != 0) {
    elog_log(1, "can't stat %s", absolute);
    return -1;
  }
  FILE *table = fopen(kMountTable, "r");
  if (table == nullptr) {
    elog_log(1, "can't open /etc/mtab");
    return -1;
  }

  // Whole lines: a piece of a long line could pass for an entry of its own.
  int result = -1;
  size_t chosen_length = 0;
  char *line = nullptr;
  size_t capacity = 0;
  ssize_t length;
  MountEntry entry;
  while ((length = getline(&line, &capacity, table)) > 0) {
    if (!parse_mount_line(std::string_view(line, static_cast<size_t>(length)), entry))
      continue;
    std::string_view mount_point(entry.mount_point, entry.mount_point_length);
    if (mount_point.size() > chosen_length && mount_covers(mount_point, absolute)) {
      strcpy(host, entry.host);
      strcpy(filesystem, entry.filesystem);
      chosen_length = mount_point.size();
      result = 0;
    }
  }
  free(line);
  fclose(table);
  return result;
}

PathInfo *infopath(const char *path) {
  PathInfo *info = static_cast<PathInfo *>(malloc(sizeof(PathInfo)));
  if (info == nullptr)
    tkpixmap::dieOutOfMemory(__LINE__, "infopath", sizeof(PathInfo), "info");

  char cleaned[BU_PATH_MAX];
  if (path[0] == '~') {
    if (cleanpath(path, 1, cleaned) == nullptr) {
      elog_log(0, "can't resolve host, filesystem for %s", path);
      free(info);
      return nullptr;
    }
    path = cleaned;
  }
  // The mount search goes by the path's name and statvfs by the file it
  // leads to: through a symbolic link they would name two file systems.
  // Both use the resolved path; one that cannot be resolved (missing, say)
  // is left to fspath to report.  Reports name the path as given.
  char resolved[PATH_MAX];
  const char *lookup = realpath(path, resolved) != nullptr ? resolved : path;
  if (fspath(lookup, info->host, info->filesystem) != 0) {
    elog_log(0, "can't resolve host, filesystem for %s", path);
    free(info);
    return nullptr;
  }
  struct statvfs64 space;
  if (statvfs64(lookup, &space) != 0) {
    elog_log(1, "statvfs on '%s' fails", path);
    free(info);
    return nullptr;
  }
  // Counts convert at their full unsigned width; products are in double.
  const double fragment = static_cast<double>(space.f_frsize);
  info->fsid = static_cast<uint32_t>(space.f_fsid);
  info->avail_bytes = static_cast<double>(space.f_bavail) * fragment;
  info->total_bytes = static_cast<double>(space.f_blocks) * fragment;
  info->avail_files = static_cast<double>(space.f_favail);
  info->total_files = static_cast<double>(space.f_files);
  return info;
}

int is_nfs(const char *path) {
  char host[PATHINFO_HOST_SIZE];
  char filesystem[PATHINFO_FILESYSTEM_SIZE];
  if (fspath(path, host, filesystem) != 0) return -1;
  return host[0] != '\0' ? 1 : 0;
}

int is_timezone(const char *zone) {
  const int saved_errno = errno;
  pthread_once(&zoneinfo_once, choose_zoneinfo_dir);
  const int result = lookup_zone(zone);
  errno = saved_errno;
  return result;
}

}  // extern "C"
