/*
 * pathinfo.h - where a path lives: its mounted file system and the host that
 * serves it, the file system's identity and space, whether it is remote, and
 * time-zone names of the system's zone database.
 */
#ifndef TKPIXMAP_PATHINFO_H
#define TKPIXMAP_PATHINFO_H

#include <stdint.h>

#include "tkpixmap_export.h"

TKP_BEGIN_DECLS

/* Sizes of the buffers fspath writes: names from the mount table are cut to
 * fit, so callers must supply at least this much. */
#define PATHINFO_HOST_SIZE 64
#define PATHINFO_FILESYSTEM_SIZE 4096

typedef struct PathInfo {
  uint32_t fsid;                          /* statvfs f_fsid */
  char host[PATHINFO_HOST_SIZE];          /* serving host, "" when local */
  char filesystem[PATHINFO_FILESYSTEM_SIZE]; /* remote path, or local device */
  double avail_bytes;                     /* f_bavail * f_frsize */
  double total_bytes;                     /* f_blocks * f_frsize */
  double avail_files;                     /* f_favail */
  double total_files;                     /* f_files */
} PathInfo;

/* host (PATHINFO_HOST_SIZE bytes) and filesystem (PATHINFO_FILESYSTEM_SIZE
 * bytes) of the mount that holds path.  0 found, -1 not found or failed. */
TKP_EXPORT int fspath(const char *path, char *host, char *filesystem);

/* A new record (caller frees), or null on failure.  Symbolic links in path
 * are followed first, so that the names and the figures both belong to the
 * file system the path leads to. */
TKP_EXPORT PathInfo *infopath(const char *path);

/* 1 mounted from another host, 0 local, -1 failed. */
TKP_EXPORT int is_nfs(const char *path);

/* 1 when zone names a regular file of the zone database ($ZONEINFO as seen
 * at the first call, else /usr/share/zoneinfo; an empty $ZONEINFO counts as
 * unset), 0 otherwise. */
TKP_EXPORT int is_timezone(const char *zone);

TKP_END_DECLS

#endif
