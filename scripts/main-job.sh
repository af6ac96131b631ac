#!/bin/sh
# The main job: shows the sample GIF images (and any GIF files named on the
# command line) on a Tk canvas through the pixmap item type, and writes a
# screenshot, build/demo.png unless -o names another file.  Installs what is
# missing and builds first.  Without a DISPLAY it runs on its own Xvfb
# server.  Exits 1 when an image could not be shown (after the screenshot).
#   scripts/main-job.sh [-o FILE.png] [file.gif ...]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
(
  cd "$top"
  scripts/bootstrap.sh --demo
  cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DTKPIXMAP_TESTS=OFF >/dev/null
  cmake --build build/demo -j "$(nproc)"
)
# From the caller's folder, so that -o FILE and the GIF files named are
# found where the caller meant them.
exec sh "$top/scripts/demo.sh" -build "$top/build/demo" "$@"
