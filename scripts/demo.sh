#!/bin/sh
# Runs the demo (scripts/demo.tcl): shows the sample GIFs and any GIF files
# given on the command line, writes a PNG screenshot and exits.  With no
# DISPLAY it starts its own X server (scripts/xvfb.sh, 24 bits deep) for the run.
#   scripts/demo.sh ?-o FILE.png? ?-build DIR? ?FILE.gif ...?
# DEMO_DEPTH=8|16|24 picks the depth of that server (default 24).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${DISPLAY:-}" ]; then
  exec wish "$here/demo.tcl" "$@"
fi

kind=large${DEMO_DEPTH:-24}
state=$(mktemp -d)
cleanup() {
  "$here/xvfb.sh" stop "$state"
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
if ! "$here/xvfb.sh" start "$state" "$kind" >/dev/null; then
  echo "demo: Xvfb did not start" >&2
  exit 1
fi
"$here/xvfb.sh" run "$state" "$kind" wish "$here/demo.tcl" "$@"
