#!/bin/sh
# Installs the build into a scratch prefix and loads the package from there
# the way an application would: from a directory on Tcl's auto_path.  Also
# builds a C program against the installed headers and services.
# Usage: check_install.sh BUILD_DIR TCLSH CC
set -eu
build=$1 tclsh=$2 cc=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libtkpixmap.so.3' -path '*pixmap3.0*' | head -n 1)")
[ -n "$libdir" ] || { echo "FAIL: no installed package"; exit 1; }
tcltk=$(dirname "$libdir")

result=$(env -u TKPIXMAP_BUILD_DIR TCLLIBPATH="$tcltk" "$tclsh" <<'TCL'
puts [package require Pixmap]
puts [lindex [package ifneeded Pixmap 3.0] end]
TCL
)
version=$(echo "$result" | head -n 1)
[ "$version" = "3.0" ] || { echo "FAIL: package require Pixmap gave '$result'"; exit 1; }
echo "installed package: Pixmap $version"

# A C program that uses the installed services through pkg-config.
cat >"$prefix/probe.c" <<'C'
#include <stdio.h>
#include <baseutil.h>
#include <tkpixmap.h>
int main(void) {
  char path[BU_PATH_MAX];
  return cleanpath("/a/./b/../c", 0, path) != NULL && path[0] == '/' ? 0 : 1;
}
C
PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name tkpixmap.pc | head -n 1)")"
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
"$cc" "$prefix/probe.c" -o "$prefix/probe" $(pkg-config --cflags --libs tkpixmap) \
  -Wl,-rpath,"$(pkg-config --variable=libdir tkpixmap)"
"$prefix/probe" && echo "C program built and ran against the installed library"
