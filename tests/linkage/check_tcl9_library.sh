#!/bin/sh
# Checks how the Tcl 9 package library links: it exports only Pixmap_Init,
# needs nothing of ours by name (so that in a process that also has
# libtkpixmap.so.3 none of its calls can bind there, and that library's
# registry and services stay its own), and reaches Tcl, Tk and Xlib only
# through stubs tables and the run-time lookup, like the 8.6 library.
# Usage: check_tcl9_library.sh LIBRARY EXPORTS_FIXTURE
set -u
library=$1 fixture=$2
status=0
fail() { echo "FAIL: $*"; status=1; }

exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | sort -u)
[ "$exported" = "Pixmap_Init" ] || fail "exports $(echo $exported), not only Pixmap_Init"

undefined=$(nm -D --undefined-only "$library" | awk '{print $2}' | sed 's/@.*//' | sort -u)
ours=$(echo "$undefined" | grep -Fxf "$fixture" || true)
[ -z "$ours" ] || fail "refers by name to the 8.6 library's exports: $(echo $ours)"
direct=$(echo "$undefined" | grep -E '^(Tcl_|Tk_|X[A-Z])' || true)
[ -z "$direct" ] || fail "refers directly to: $(echo $direct)"

needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for lib in $needed; do
  case $lib in
    libbaseutil.so.1 | libc.so.6 | libm.so.6 | libpthread.so.0 | libdl.so.2) ;;
    *) fail "needs $lib" ;;
  esac
done
[ $status -eq 0 ] && echo "$(basename "$library"): exports Pixmap_Init only, needs: $(echo $needed)"
exit $status
