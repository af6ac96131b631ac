// paths.cc - lexical path clean-up, "~" expansion and absolute paths.

#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "baseutil.h"

namespace {

// Appends text to an output of fixed capacity; false when it does not fit
// (the terminating NUL included).
struct Output {
  char *data;
  size_t length;
  size_t capacity;

  bool append(const char *text, size_t count) {
    if (count >= capacity - length) return false;
    memcpy(data + length, text, count);
    length += count;
    data[length] = '\0';
    return true;
  }
};

// The home directory of `user` (the effective user when empty) into home.
bool homeDirectory(const char *user, size_t userLength, char *home, size_t size) {
  char name[256];
  if (userLength >= sizeof name) return false;
  memcpy(name, user, userLength);
  name[userLength] = '\0';

  if (userLength == 0) {
    const char *env = getenv("HOME");
    if (env != nullptr && env[0] != '\0') {
      if (strlen(env) >= size) return false;
      strcpy(home, env);
      return true;
    }
  }
  struct passwd entry;
  struct passwd *found = nullptr;
  char storage[4096];
  int status = userLength == 0 ? getpwuid_r(geteuid(), &entry, storage, sizeof storage, &found)
                               : getpwnam_r(name, &entry, storage, sizeof storage, &found);
  if (status != 0 || found == nullptr || strlen(found->pw_dir) >= size) return false;
  strcpy(home, found->pw_dir);
  return true;
}

// Cleans `path` lexically into result: no empty or "." components, ".."
// removes the component before it (at the root it is dropped; at the start
// of a relative path it is kept).
char *cleanInto(const char *path, char *result) {
  Output out{result, 0, BU_PATH_MAX};
  result[0] = '\0';
  bool absolute = path[0] == '/';
  if (absolute && !out.append("/", 1)) return nullptr;
  size_t floor = out.length;  // ".." never removes what lies before this

  const char *p = path;
  while (*p != '\0') {
    while (*p == '/') ++p;
    const char *start = p;
    while (*p != '\0' && *p != '/') ++p;
    size_t length = static_cast<size_t>(p - start);
    if (length == 0 || (length == 1 && start[0] == '.')) continue;
    if (length == 2 && start[0] == '.' && start[1] == '.') {
      if (out.length > floor) {
        // Drop the last component with its separator.
        size_t cut = out.length;
        while (cut > floor && result[cut - 1] != '/') --cut;
        if (cut > floor) --cut;
        out.length = cut;
        result[cut] = '\0';
        continue;
      }
      if (absolute) continue;
      // A relative path that climbs above its start keeps the "..".
      if (out.length > 0 && !out.append("/", 1)) return nullptr;
      if (!out.append("..", 2)) return nullptr;
      floor = out.length;
      continue;
    }
    if (out.length > 0 && result[out.length - 1] != '/' && !out.append("/", 1)) return nullptr;
    if (!out.append(start, length)) return nullptr;
  }
  if (out.length == 0 && !out.append(".", 1)) return nullptr;
  return result;
}

}  // namespace

extern "C" {

char *cleanpath(const char *path, int expand_tilde, char *result) {
  if (path == nullptr || result == nullptr) return nullptr;
  char expanded[BU_PATH_MAX];
  const char *source = path;
  if (expand_tilde && path[0] == '~') {
    const char *userEnd = strchr(path, '/');
    size_t userLength = userEnd != nullptr ? static_cast<size_t>(userEnd - path - 1)
                                           : strlen(path + 1);
    char home[BU_PATH_MAX];
    if (!homeDirectory(path + 1, userLength, home, sizeof home)) return nullptr;
    const char *rest = path + 1 + userLength;
    size_t homeLength = strlen(home);
    size_t restLength = strlen(rest);
    if (homeLength + 1 + restLength >= sizeof expanded) return nullptr;
    memcpy(expanded, home, homeLength);
    expanded[homeLength] = '/';
    memcpy(expanded + homeLength + 1, rest, restLength + 1);
    source = expanded;
  }
  return cleanInto(source, result);
}

char *abspath(const char *path, char *result) {
  if (path == nullptr || result == nullptr) return nullptr;
  if (path[0] == '/') return cleanInto(path, result);
  char joined[BU_PATH_MAX];
  if (getcwd(joined, sizeof joined) == nullptr) return nullptr;
  size_t cwdLength = strlen(joined);
  size_t pathLength = strlen(path);
  if (cwdLength + 1 + pathLength >= sizeof joined) return nullptr;
  joined[cwdLength] = '/';
  memcpy(joined + cwdLength + 1, path, pathLength + 1);
  return cleanInto(joined, result);
}

}  // extern "C"
