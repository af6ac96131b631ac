// Reading one line of the mount table and deciding whether a mount point
// covers a path.  Internal to the path services; exposed for their tests.
#ifndef TKPIXMAP_BASE_HOST_MOUNT_TABLE_H
#define TKPIXMAP_BASE_HOST_MOUNT_TABLE_H

#include <stddef.h>

#include <string_view>

#include "pathinfo.h"

namespace tkpixmap::pathinfo {

// One mount table entry with its escapes (\040 and the like) decoded.
struct MountEntry {
  char host[PATHINFO_HOST_SIZE];              // "" for a local device; cut to fit
  char filesystem[PATHINFO_FILESYSTEM_SIZE];  // cut to fit
  char mount_point[PATHINFO_FILESYSTEM_SIZE];
  size_t mount_point_length;
};

// Fills entry from line ("device mountpoint ...").  False for a line with
// fewer than two fields or a mount point too long to name any path.
bool parse_mount_line(std::string_view line, MountEntry &entry);

// True when mount_point is path itself or one of its ancestor directories:
// "/usr" covers "/usr" and "/usr/lib" but not "/usr2".
bool mount_covers(std::string_view mount_point, std::string_view path);

}  // namespace tkpixmap::pathinfo

#endif
