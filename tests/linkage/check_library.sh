#!/bin/sh
# Checks how libtkpixmap.so.3 links: its SONAME, exactly the agreed exports
# (all unmangled), only libbaseutil and the C library as needed libraries, and
# no direct references to Tcl, Tk or Xlib (those come through stubs tables and
# a run-time lookup).
# Usage: check_library.sh LIBRARY EXPORTS_FIXTURE
set -u
library=$1
fixture=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libtkpixmap.so.3" ] || fail "SONAME is '$soname'"

exported=$(mktemp) wanted=$(mktemp)
trap 'rm -f "$exported" "$wanted"' EXIT
nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | sort -u >"$exported"
sort -u "$fixture" >"$wanted"
extra=$(comm -13 "$wanted" "$exported")
missing=$(comm -23 "$wanted" "$exported")
[ -z "$extra" ] || fail "exported but not agreed: $(echo $extra)"
[ -z "$missing" ] || fail "agreed but not exported ($(echo "$missing" | wc -l)): $(echo $missing)"
grep -q '^_Z' "$exported" && fail "mangled names are exported"

needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$needed" | grep -qx 'libbaseutil.so.1' || fail "libbaseutil.so.1 is not needed"
for lib in $needed; do
  case $lib in
    libbaseutil.so.1 | libc.so.6 | libm.so.6 | libpthread.so.0 | libdl.so.2) ;;
    libasan.so.* | libubsan.so.* | libtsan.so.* | libstdc++.so.* | libgcc_s.so.*)
      # Sanitizer builds bring their runtimes (and the C++ one) with them.
      [ "${TKPIXMAP_SANITIZED:-OFF}" = ON ] || fail "needs $lib" ;;
    *) fail "needs $lib" ;;
  esac
done

direct=$(nm -D --undefined-only "$library" | awk '{print $2}' | grep -E '^(Tcl_|Tk_|X[A-Z])' || true)
[ -z "$direct" ] || fail "refers directly to: $(echo $direct)"

[ $status -eq 0 ] && echo "libtkpixmap.so.3: $(wc -l <"$exported") exports, needs: $(echo $needed)"
exit $status
