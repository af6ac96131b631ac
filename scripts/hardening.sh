#!/bin/sh
# The hardening checks of one CI run: every libFuzzer target for a minute
# (with its seeds, dictionary and regression inputs), then the Tcl tests
# under valgrind's memcheck.
#   scripts/hardening.sh [BUILD_DIR]
# BUILD_DIR is the plain build tree for the valgrind run (default
# $TKPIXMAP_BUILD_DIR, else build/dev; it must already be built).  Both
# parts always run; the exit status is non-zero when either failed.
set -u
cd "$(dirname "$0")/.."
build=${1:-${TKPIXMAP_BUILD_DIR:-build/dev}}
status=0
start=$(date +%s)
echo "### fuzz targets, 60 s each"
scripts/fuzz.sh 60 || status=1
echo "### Tcl tests under valgrind ($build)"
scripts/valgrind-tcl.sh "$build" || status=1
echo "### hardening: $([ $status = 0 ] && echo passed || echo FAILED) in $(($(date +%s) - start)) s"
exit $status
