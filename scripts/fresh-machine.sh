#!/bin/sh
# Proves the README's promise on a machine that has nothing installed: makes
# a Debian 12 minbase root with debootstrap, clones the committed HEAD of this
# checkout into it, and runs there, as a new user would,
#   bash scripts/main-job.sh             (the demo, installing what it needs)
#   TKPIXMAP_STAGES=dev scripts/test-all.sh   (the dev test stage)
# inside a private mount namespace (nothing is mounted in the caller's).
#   scripts/fresh-machine.sh [STATEDIR]      (default build/fresh-machine)
# STATEDIR keeps between runs the debootstrap result (a tarball) and the
# downloaded .deb files, so only the first run fetches the base system.  The
# mirror is the one this machine's apt sources name for Debian itself.
# ../shared (the GIF corpus, the Tcl/Tk 9 sources) is made visible beside the
# clone, as it is beside this checkout.  Needs root (debootstrap, chroot).
set -eu
cd "$(dirname "$0")/.."
source_dir=$(pwd)
state=${1:-$source_dir/build/fresh-machine}
mkdir -p "$state"
state=$(cd "$state" && pwd)
tarball=$state/debian12-minbase.tar
root=$state/root
archives=$state/archives

[ "$(id -u)" -eq 0 ] || { echo "fresh-machine: SKIPPED: needs root (debootstrap, chroot, mount)"; exit 77; }
command -v debootstrap >/dev/null || scripts/bootstrap.sh fresh

# The Debian mirror of this machine's apt sources (deb822 or one-line style).
mirror() {
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    sed -n -e 's/^URIs:[[:space:]]*//p' -e 's/^deb[[:space:]]\{1,\}\(\[[^]]*\][[:space:]]\{1,\}\)\{0,1\}\([^[:space:]]*\).*/\2/p' "$file"
  done | tr ' ' '\n' | grep -E '/debian/?$' | head -n 1
}

if [ ! -s "$tarball" ]; then
  url=$(mirror)
  [ -n "$url" ] || url=http://deb.debian.org/debian
  echo "fresh-machine: debootstrap bookworm (minbase) from $url"
  rm -rf "$state/base.new"
  # In a mount namespace of its own: what debootstrap mounts inside the new
  # root goes away with it, even when it fails half-way.
  unshare -m --propagation private \
    debootstrap --variant=minbase bookworm "$state/base.new" "$url" >"$state/debootstrap.log" 2>&1 ||
    { tail -n 20 "$state/debootstrap.log" >&2; exit 1; }
  tar -C "$state/base.new" -cf "$tarball.new" .
  mv "$tarball.new" "$tarball"
  rm -rf "$state/base.new"
fi

echo "fresh-machine: a new root from $tarball"
rm -rf "$root"
mkdir -p "$root" "$archives/partial"
tar -C "$root" -xf "$tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
# What booting would add: systemd-tmpfiles makes /etc/mtab a link to the
# kernel's mount table on every Debian 12 machine; a debootstrap root has none.
ln -sfn ../proc/self/mounts "$root/etc/mtab"

# The committed HEAD, as someone cloning the project gets it.
head=$(git rev-parse HEAD)
mkdir -p "$root/work"
git clone --quiet --no-checkout "$source_dir" "$root/work/checkout"
git -C "$root/work/checkout" checkout --quiet --detach "$head"
mkdir -p "$root/work/shared"
shared=$source_dir/../shared

# shellcheck disable=SC2016
unshare -m --propagation private sh -eu -c '
  root=$1 archives=$2 shared=$3
  # The root is a mount of its own, as a machine'"'"'s root is: the mount
  # table then has an entry for "/" inside it.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --rbind /sys "$root/sys"
  mount -t tmpfs tmpfs "$root/tmp"
  mount --bind "$archives" "$root/var/cache/apt/archives"
  if [ -d "$shared" ]; then mount --bind -o ro "$shared" "$root/work/shared"; fi
  exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 /bin/sh -eu -c "
      cd /work/checkout
      echo \"fresh-machine: bash scripts/main-job.sh\"
      bash scripts/main-job.sh -o /tmp/demo.png
      test -s /tmp/demo.png
      echo \"fresh-machine: TKPIXMAP_STAGES=dev scripts/test-all.sh\"
      TKPIXMAP_STAGES=dev sh scripts/test-all.sh"
' fresh-machine "$root" "$archives" "$shared"
echo "fresh-machine: passed (demo and dev stage on a fresh Debian 12 root)"
