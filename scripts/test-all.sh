#!/bin/sh
# Runs every test on a fresh Debian 12 machine: installs what is missing,
# then builds and tests
#   dev     (Debug, -Werror): unit, Tcl, X (on Xvfb), corpus and linkage tests
#   asan    the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan    the threaded services' tests under ThreadSanitizer
#   cross   the services' unit tests on 32-bit ARM (soft float) and s390x
#           (big-endian), under qemu-user
#   hardening  every fuzz target for a minute, and the Tcl tests under
#           valgrind's memcheck (needs the dev stage's build)
# Pick stages with TKPIXMAP_STAGES="dev asan" (default: all of them).
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

stages=${TKPIXMAP_STAGES:-"dev asan tsan cross hardening"}
jobs=$(nproc)
failed=""

run_preset() {
  preset=$1
  echo "=== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$jobs" --timeout 900
}

for stage in $stages; do
  case $stage in
    dev | asan | tsan) run_preset "$stage" || failed="$failed $stage" ;;
    cross) bash scripts/cross-test.sh || failed="$failed cross" ;;
    hardening) sh scripts/hardening.sh build/dev || failed="$failed hardening" ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
done

if [ -n "$failed" ]; then
  echo "FAILED stages:$failed"
  exit 1
fi
echo "All stages passed:" $stages
