#!/bin/sh
# Installs the Debian 12 packages the project builds, tests and demonstrates
# with, when any is missing.  Uses sudo when not run as root.
#   scripts/bootstrap.sh              everything
#   scripts/bootstrap.sh --demo       only what the demo (scripts/main-job.sh) needs
#   scripts/bootstrap.sh GROUP ...    the demo's packages and those of the groups:
#     test       building and running the dev/release/asan/tsan stages' tests
#     cross      the ARM and s390x cross builds under qemu-user
#     hardening  the fuzzers (clang) and valgrind
#     tcl9       building Tcl/Tk 9 from ../shared/tcltk9
#     fresh      making a fresh Debian root (scripts/fresh-machine.sh)
set -eu

demo="cmake ninja-build g++ pkg-config tcl tk tcl8.6 tk8.6 tcl8.6-dev tk8.6-dev libx11-dev
  libxcb1-dev libx11-xcb1 xvfb xauth xfonts-base x11-utils zlib1g-dev"
test="googletest libgtest-dev libbenchmark-dev libgif-dev libxres-dev libstb-dev net-tools iproute2
  ghostscript python3-tk python3-pil tcl-thread tcl-vfs"
cross="crossbuild-essential-armel crossbuild-essential-s390x qemu-user"
hardening="clang libclang-rt-14-dev llvm valgrind"
tcl9="make xz-utils libxft-dev"
fresh="debootstrap git"

case ${1:-} in
  --demo) packages=$demo ;;
  "") packages="$demo $test $cross $hardening $tcl9 $fresh" ;;
  *)
    packages=$demo
    for group in "$@"; do
      case $group in
        test) packages="$packages $test" ;;
        cross) packages="$packages $cross" ;;
        hardening) packages="$packages $hardening" ;;
        tcl9) packages="$packages $tcl9" ;;
        fresh) packages="$packages $fresh" ;;
        *) echo "bootstrap: unknown group '$group'" >&2; exit 2 ;;
      esac
    done
    ;;
esac

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  case $status in
    *"install ok installed"*) ;;
    *) missing="$missing $package" ;;
  esac
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
echo "Installing:$missing"
$sudo apt-get update
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
