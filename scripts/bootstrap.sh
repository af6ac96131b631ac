#!/bin/sh
# Installs the Debian 12 packages the project builds, tests and demonstrates
# with, when any is missing.  Uses sudo when not run as root.
#   scripts/bootstrap.sh            everything
#   scripts/bootstrap.sh --demo     only what the demo needs
set -eu

demo_packages="cmake ninja-build g++ pkg-config tcl tk tcl8.6 tk8.6 tcl8.6-dev tk8.6-dev libx11-dev
  libxcb1-dev libx11-xcb1
  xvfb xauth xfonts-base x11-utils zlib1g-dev"
test_packages="googletest libgtest-dev libbenchmark-dev libgif-dev libxres-dev net-tools iproute2
  crossbuild-essential-armel crossbuild-essential-s390x qemu-user clang libclang-rt-14-dev llvm
  valgrind libstb-dev ghostscript"

packages=$demo_packages
[ "${1:-}" = "--demo" ] || packages="$packages $test_packages"

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
