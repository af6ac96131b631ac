#!/bin/sh
# The main job: shows the sample GIF images (and any GIF files named on the
# command line) on a Tk canvas through the pixmap item type, and writes a
# screenshot.  Installs what is missing and builds first.  Without a DISPLAY
# it runs on its own Xvfb server.
#   scripts/main-job.sh [-o FILE.png] [file.gif ...]
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh --demo
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DTKPIXMAP_TESTS=OFF >/dev/null
cmake --build build/demo -j "$(nproc)"
exec sh scripts/demo.sh -build build/demo "$@"
