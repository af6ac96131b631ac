#!/usr/bin/env bash
# Cross-checks the Tcl/Tk/X-free services on the two hosts that differ most
# from the development machine: 32-bit little-endian ARM with software
# floating point (armel) and big-endian s390x.  Each preset configures,
# builds and runs the unit tests under qemu-user; the test presets give each
# test at most 300 s, so that an emulator that stalls fails that test instead
# of holding up the run (the slowest take 50-90 s on a loaded machine).
#
# Usage: scripts/cross-test.sh [preset ...]     (default: armel s390x)
# Needs: crossbuild-essential-armel, crossbuild-essential-s390x, qemu-user,
#        googletest sources in /usr/src/googletest.
set -euo pipefail

cd "$(dirname "$0")/.."
jobs=${TKPIXMAP_JOBS:-2}
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(armel s390x)

status=0
for preset in "${presets[@]}"; do
  echo "== cross: $preset"
  start=$(date +%s)
  if cmake --preset "$preset" >/dev/null &&
     cmake --build --preset "$preset" -j "$jobs" &&
     ctest --preset "$preset" -j "$jobs"; then
    echo "== cross: $preset passed in $(( $(date +%s) - start ))s"
  else
    echo "== cross: $preset FAILED after $(( $(date +%s) - start ))s"
    status=1
  fi
done
exit $status
