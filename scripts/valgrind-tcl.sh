#!/bin/sh
# Runs the Tcl tests of the pixmap command under valgrind's memcheck: any
# invalid access, use of uninitialised memory or definite leak fails.
#   scripts/valgrind-tcl.sh [BUILD_DIR]
# BUILD_DIR (default $TKPIXMAP_BUILD_DIR, else build/dev) is a plain, not
# sanitised build tree holding libtkpixmap.so.3 and pkgIndex.tcl; the system
# tclsh and wish load the package from it.  The X test file runs in wish on
# the X test servers d24 and d8 (24-bit TrueColor, 8-bit PseudoColor)
# that this script starts.  Logs are left in BUILD_DIR/valgrind/.
# Memory the design keeps for the life of the process, and what Tcl, Tk and
# Xlib keep themselves, is listed with its reason in tests/valgrind.supp.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-${TKPIXMAP_BUILD_DIR:-build/dev}}
build=$(cd "$build" && pwd)
if [ ! -f "$build/pkgIndex.tcl" ] || [ ! -e "$build/libtkpixmap.so.3" ]; then
  echo "valgrind-tcl: no built package in $build (build the tkpixmap target first)" >&2
  exit 2
fi
logs=$build/valgrind
mkdir -p "$logs"
rm -f "$logs"/*.log

export TKPIXMAP_BUILD_DIR="$build" TKPIXMAP_SOURCE_DIR="$root" TKPIXMAP_UNDER_VALGRIND=1
vg="valgrind --tool=memcheck --error-exitcode=1 --leak-check=full
    --errors-for-leak-kinds=definite --show-leak-kinds=definite,indirect
    --suppressions=$root/tests/valgrind.supp --num-callers=40"

status=0
# run NAME COMMAND...: one test file under memcheck; its log stays behind.
run() {
  name=$1
  shift
  echo "=== $name"
  # shellcheck disable=SC2086
  if $vg --log-file="$logs/$name.log" "$@" >"$logs/$name.out" 2>&1; then
    result=passed
  else
    result=FAILED
    status=1
  fi
  grep -E "Total|FAILED" "$logs/$name.out" || true
  grep -E "ERROR SUMMARY|definitely lost" "$logs/$name.log" | sed 's/^==[0-9]*== /  /'
  echo "  $result"
  if [ $result = FAILED ]; then
    sed -n '/^==[0-9]*== [A-Z][a-z].*\(Invalid\|uninitialised\|definitely\|Mismatched\|overlap\)/,/^==[0-9]*== $/p' \
      "$logs/$name.log" | head -80
  fi
}

run pixmap tclsh tests/tcl/run.tcl tests/tcl/pixmap.test
run badinput tclsh tests/tcl/run.tcl tests/tcl/badinput.test

# The X test file on the X test servers of two screen kinds (scripts/xvfb.sh),
# stopped on the way out.
xstate=$logs/xvfb
trap '"$root/scripts/xvfb.sh" stop "$xstate"' EXIT
trap 'exit 130' INT TERM
if ! "$root/scripts/xvfb.sh" start "$xstate" d24 d8 >/dev/null; then
  echo "valgrind-tcl: Xvfb did not start" >&2
  exit 2
fi
for kind in d24 d8; do
  DISPLAY=$("$root/scripts/xvfb.sh" display "$xstate" $kind)
  export DISPLAY TKPIXMAP_X_KIND=$kind TKPIXMAP_HOST=wish
  for file in x11-build x11-item x11-postscript; do
    run "$file-$kind" wish tests/tcl/run.tcl "tests/tcl/$file.test"
  done
done
exit $status
