#!/bin/sh
# The Tcl/Tk 9 stage: builds Tcl and Tk 9 from ../shared/tcltk9 once (kept
# in build/tcltk9, rebuilt when the sources' checksums change), builds the
# package against them (preset tcl9: libtkpixmap.so.3 and
# libtcl9pixmap3.0.so in build/tcl9) and runs the same Tcl and X test files
# under tclsh9.0 and wish9.0 at every depth, and the linkage tests.
# Exits 77 (skipped, saying why) when ../shared/tcltk9 is absent.
set -eu
cd "$(dirname "$0")/.."
sources=../shared/tcltk9
prefix=build/tcltk9
if [ ! -x "$sources/build.sh" ]; then
  echo "tcl9: SKIPPED: $sources (the Tcl/Tk 9 sources) is absent, so nothing was built or tested for Tcl 9"
  exit 77
fi
if [ ! -x "$prefix/bin/wish9.0" ] || ! cmp -s "$sources/SHA256SUMS" "$prefix/.sources"; then
  echo "tcl9: building Tcl/Tk 9 into $prefix (once)"
  rm -rf "$prefix" build/tcltk9-work
  # build.sh changes folder as it goes: both folders must be absolute.
  mkdir -p build
  "$sources/build.sh" "$(pwd)/$prefix" "$(pwd)/build/tcltk9-work" >build/tcltk9.log 2>&1 ||
    { tail -n 30 build/tcltk9.log; exit 1; }
  cp "$sources/SHA256SUMS" "$prefix/.sources"
  rm -rf build/tcltk9-work
fi
jobs=$(nproc)
cmake --preset tcl9 >/dev/null
# Only what the Tcl, X and linkage tests use (gifwrite writes their GIF files): the unit tests are the dev
# stage's and do not change with the Tcl version.
cmake --build --preset tcl9 -j "$jobs" --target tkpixmap tcl9pixmap baseutil xreadback xrescount xshot gifwrite
ctest --preset tcl9 -j "$jobs" --timeout 900
