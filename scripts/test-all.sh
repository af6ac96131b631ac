#!/bin/sh
# Runs every test on a fresh Debian 12 machine: installs what is missing,
# then builds and tests
#   dev     (Debug, -Werror): unit, Tcl, X (on Xvfb), corpus and linkage tests
#   asan    the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan    the threaded services' tests under ThreadSanitizer
#   release the release preset (-O3) with warnings as errors: unit, Tcl and X
#           tests, where optimiser-dependent faults show
#   tcl9    Tcl/Tk 9 built from ../shared/tcltk9 (once), the package built
#           against it, the Tcl and X tests under tclsh9.0 and wish9.0
#           (skipped, and said so, without ../shared/tcltk9)
#   cross   the services' unit tests on 32-bit ARM (soft float) and s390x
#           (big-endian), under qemu-user
#   hardening  every fuzz target for a minute, and the Tcl tests under
#           valgrind's memcheck (needs the dev stage's build)
#   fresh   a fresh Debian 12 root (debootstrap), the clone of HEAD in it, the
#           README's first command and the dev stage there (needs root)
# Pick stages with TKPIXMAP_STAGES="dev asan" (default: all of them).  Each
# stage's time is printed at the end.
set -eu
cd "$(dirname "$0")/.."

stages=${TKPIXMAP_STAGES:-"dev asan tsan release tcl9 cross hardening fresh"}
groups=""
for stage in $stages; do
  case $stage in
    dev | asan | tsan | release) groups="$groups test" ;;
    tcl9) groups="$groups test tcl9" ;;
    cross) groups="$groups test cross" ;;
    hardening) groups="$groups test hardening" ;;
    fresh) groups="$groups fresh" ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
done
# shellcheck disable=SC2086
scripts/bootstrap.sh $(echo $groups | tr ' ' '\n' | sort -u)

jobs=$(nproc)
failed="" skipped="" times=""

run_preset() {
  preset=$1; shift
  cmake --preset "$preset" "$@" >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$jobs" --timeout 900
}

# The release preset as CI builds it: a folder of its own, so that the
# consumer's release build (no -Werror, benchmarks) stays as it is.
run_release() {
  cmake --preset release -B build/release-ci -DTKPIXMAP_WERROR=ON -DTKPIXMAP_BENCH=OFF >/dev/null &&
    cmake --build build/release-ci -j "$jobs" &&
    ctest --test-dir build/release-ci -L 'unit|tcl|x11' --output-on-failure -j "$jobs" --timeout 900
}

for stage in $stages; do
  echo "=== $stage"
  start=$(date +%s)
  set +e
  case $stage in
    dev | asan | tsan) run_preset "$stage" ;;
    release) run_release ;;
    tcl9) sh scripts/tcl9-stage.sh ;;
    cross) bash scripts/cross-test.sh ;;
    hardening) sh scripts/hardening.sh build/dev ;;
    fresh) sh scripts/fresh-machine.sh ;;
  esac
  result=$?
  set -e
  seconds=$(($(date +%s) - start))
  case $result in
    0) outcome=passed ;;
    77) outcome=SKIPPED; skipped="$skipped $stage" ;;
    *) outcome=FAILED; failed="$failed $stage" ;;
  esac
  echo "=== $stage: $outcome in ${seconds}s"
  times="$times
  $stage $outcome ${seconds}s"
done

echo "Stage times:$times"
[ -z "$skipped" ] || echo "SKIPPED stages (not run, not passed):$skipped"
if [ -n "$failed" ]; then
  echo "FAILED stages:$failed"
  exit 1
fi
echo "All other stages passed."
