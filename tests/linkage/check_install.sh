#!/bin/sh
# The package installed as users get it.
#  1. `cmake --install` with DESTDIR at prefix /usr and at the default prefix
#     /usr/local; the staged tree is laid over the real one in a private mount
#     namespace (read-only overlay), where a plain tclsh8.6 and wish8.6, with
#     no environment but DISPLAY, must find the package on their own package
#     path and load the one library of the library folder.  A Tcl 9 build's
#     tclsh9.0 and wish9.0 load it there through TCLLIBPATH, and with no
#     environment from an install at their own prefix.  Also checks the
#     installed files: one copy of each library, nothing outside the prefix,
#     the man pages, no library in the package folder.
#  2. A C program built with pkg-config and no rpath against the installs
#     at /usr and /usr/local, as a user builds one: at /usr it runs as it
#     is, at /usr/local once ldconfig has been run (in the private root, over
#     a private /etc).
#  3. A scratch install at a plain prefix, and three C consumers built
#     against it: pkg-config on the command line, CMake's pkg_check_modules
#     IMPORTED_TARGET, and find_package(tkpixmap) with its imported targets.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR XSTATE CC TCLSH WISH [TCLSH9 WISH9 TCL9_PREFIX]
# Exits 77 (skipped, with the reason) where no mount namespace can be made.
set -eu
build=$1 source=$2 xstate=$3 cc=$4 tclsh=$5 wish=$6
tclsh9=${7:-} wish9=${8:-} tcl9_prefix=${9:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

display=:$(cat "$xstate/d24.display")
gif=$source/examples/rainbow.gif

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  echo "SKIPPED: the installs at /usr and /usr/local need root and a mount namespace"
  exit 77
fi

# What each interpreter runs: load, report which file it loaded, and use it
# (a canvas item under wish, so that Tk and the item type are exercised).
cat >"$work/probe.tcl" <<'TCL'
set version [package require Pixmap]
set image [pixmap create [lindex $argv 0]]
if {[info commands tk] ne ""} {
    canvas .c
    .c create pixmap $image 0 0 -anchor nw
    update
}
puts "$version [pixmap $image width] [file normalize [lindex [package ifneeded Pixmap $version] 1]]"
exit
TCL

# Installs at PREFIX into a private root and runs the probe in each
# interpreter there.  TCL9_PATH: the TCLLIBPATH the Tcl 9 interpreters get
# (empty: none, they must find the package on their own).
check_prefix() {
  prefix=$1 tcl9_path=$2; shift 2
  interpreters=$*
  stage=$work/stage$(echo "$prefix" | tr / _)
  DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$stage.log" 2>&1 ||
    { cat "$stage.log"; fail "install at $prefix"; return; }

  libraries=$(find "$stage" -name 'libtkpixmap.so.3*' ! -type l)
  [ "$(echo "$libraries" | wc -l)" -eq 1 ] || fail "$prefix: libtkpixmap.so.3 installed more than once: $libraries"
  index=$(find "$stage" -name pkgIndex.tcl -path '*pixmap3.0*')
  [ -n "$index" ] || fail "$prefix: no pkgIndex.tcl"
  outside=$(find "$stage" -mindepth 1 -maxdepth 1 ! -name "$(echo "$prefix" | cut -d/ -f2)")
  [ -z "$outside" ] || fail "$prefix: installed outside the prefix: $outside"
  for folder in $(dirname $index); do
    [ -z "$(find "$folder" -name '*.so*')" ] || fail "$prefix: a library in the package folder $folder"
  done
  for page in man/mann/pixmap.n man/man3/tkpixmap_byteorder.3 man/man3/tkpixmap_gxline.3; do
    [ -f "$stage$prefix/share/$page" ] || fail "$prefix: no share/$page"
  done

  # shellcheck disable=SC2016
  unshare -m --propagation private sh -eu -c '
    stage=$1 display=$2 probe=$3 gif=$4 prefix=$5 tcl9_path=$6; shift 6
    mount -t overlay overlay -o "lowerdir=$stage$prefix:$prefix" "$prefix"
    for interp in "$@"; do
      environment="PATH=/usr/bin:/bin DISPLAY=$display"
      case $interp in *9.0) [ -z "$tcl9_path" ] || environment="$environment TCLLIBPATH=$tcl9_path" ;; esac
      # shellcheck disable=SC2086
      result=$(cd / && env -i $environment "$interp" "$probe" "$gif" 2>&1) || true
      case $result in
        "3.0 "*" $prefix/lib/"*)
          echo "$prefix: $(basename "$interp") ($environment) loaded $(echo "$result" | cut -d" " -f3-)" ;;
        *) echo "FAIL: $prefix: $(basename "$interp"): $result"; exit 1 ;;
      esac
    done
  ' check "$stage" "$display" "$work/probe.tcl" "$gif" "$prefix" "$tcl9_path" $interpreters ||
    status=1
}

# Debian's Tcl 8.6 looks in /usr/lib/tcltk/<arch> and /usr/local/lib/tcltk;
# a Tcl 9 of another prefix is shown the way with TCLLIBPATH.
all="$tclsh $wish $tclsh9 $wish9"
check_prefix /usr "/usr/lib/tcltk/$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)" $all
check_prefix /usr/local /usr/local/lib/tcltk $all
# Installed into Tcl 9's own prefix, Tcl 9 finds it with no environment.
if [ -n "$tcl9_prefix" ]; then
  check_prefix "$tcl9_prefix" "" "$tclsh9" "$wish9"
fi

cat >"$work/probe.c" <<'C'
#include <baseutil.h>
#include <byteorder.h>
int main(void) {
  char path[BU_PATH_MAX];
  unsigned char in[4] = {1, 2, 3, 4}, out[4];
  swap4(in, out, 1);
  return cleanpath("/a/./b/../c", 0, path) != 0 && path[0] == '/' && out[0] == 4 ? 0 : 1;
}
C

# The probe built with pkg-config against the install at PREFIX (staged by
# check_prefix), linked as the README shows, without an rpath: it must run,
# after ldconfig when LDCONFIG is yes.
check_plain_consumer() {
  prefix=$1 ldconfig=$2
  # shellcheck disable=SC2016
  unshare -m --propagation private sh -eu -c '
    stage=$1 prefix=$2 ldconfig=$3 cc=$4 probe=$5 work=$6
    mount -t overlay overlay -o "lowerdir=$stage$prefix:$prefix" "$prefix"
    # ldconfig writes /etc/ld.so.cache: a private /etc takes it.
    layers=$work/etc-layers$(echo "$prefix" | tr / _)
    mkdir -p "$layers"
    mount -t tmpfs tmpfs "$layers"
    mkdir "$layers/upper" "$layers/work"
    mount -t overlay overlay -o "lowerdir=/etc,upperdir=$layers/upper,workdir=$layers/work" /etc
    program=$layers/probe
    # shellcheck disable=SC2046
    "$cc" "$probe" -o "$program" $(pkg-config --cflags --libs tkpixmap)
    if [ "$ldconfig" = yes ]; then
      if "$program" 2>/dev/null; then before="ran"; else before="did not run"; fi
      ldconfig
      "$program" || { echo "FAIL: $prefix: the pkg-config consumer does not run after ldconfig"; exit 1; }
      echo "$prefix: cc with pkg-config, no rpath: $before before ldconfig, ran after it"
    else
      "$program" || { echo "FAIL: $prefix: the pkg-config consumer does not run"; exit 1; }
      echo "$prefix: cc with pkg-config, no rpath: ran"
    fi
  ' check "$work/stage$(echo "$prefix" | tr / _)" "$prefix" "$ldconfig" "$cc" "$work/probe.c" "$work" ||
    status=1
}
check_plain_consumer /usr no
check_plain_consumer /usr/local yes

# Consumers of a scratch install.
scratch=$work/scratch
cmake --install "$build" --prefix "$scratch" >/dev/null
pcdir=$(dirname "$(find "$scratch" -name tkpixmap.pc)")
# shellcheck disable=SC2046
if PKG_CONFIG_PATH=$pcdir "$cc" "$work/probe.c" -o "$work/probe" \
     $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs tkpixmap) \
     -Wl,-rpath,"$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir tkpixmap)" &&
   "$work/probe"; then
  echo "consumer: cc with pkg-config built and ran"
else
  fail "cc with pkg-config"
fi

for kind in pkgconfig config; do
  project=$work/consumer-$kind
  mkdir -p "$project"
  cp "$work/probe.c" "$project/probe.c"
  if [ $kind = pkgconfig ]; then
    find='find_package(PkgConfig REQUIRED)
pkg_check_modules(TKPIXMAP REQUIRED IMPORTED_TARGET tkpixmap)'
    target=PkgConfig::TKPIXMAP
  else
    find='find_package(tkpixmap 3.0 REQUIRED)'
    target=tkpixmap::tkpixmap
  fi
  cat >"$project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
$find
add_executable(probe probe.c)
target_link_libraries(probe PRIVATE $target)
CMAKE
  if PKG_CONFIG_PATH=$pcdir cmake -S "$project" -B "$project/build" -DCMAKE_PREFIX_PATH="$scratch" \
       >"$project.log" 2>&1 &&
     cmake --build "$project/build" >>"$project.log" 2>&1 &&
     "$project/build/probe"; then
    echo "consumer: CMake with $target built and ran"
  else
    cat "$project.log"
    fail "CMake consumer with $target"
  fi
done
exit $status
