#!/bin/sh
# Runs the demo (scripts/demo.tcl): shows the sample GIFs and any GIF files
# given on the command line, writes a PNG screenshot and exits.  With no
# DISPLAY it starts its own X server (Xvfb, 24 bits deep) for the run.
#   scripts/demo.sh ?-o FILE.png? ?-build DIR? ?FILE.gif ...?
# DEMO_DEPTH=8|16|24 picks the depth of that server (default 24).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "${display_file:-}" ]; then rm -f "$display_file"; fi
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -nolisten tcp -screen 0 "1920x1200x${DEMO_DEPTH:-24}" \
    3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  tries=0
  until [ -s "$display_file" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then
      echo "demo: Xvfb did not start" >&2
      exit 1
    fi
    sleep 0.1
  done
  DISPLAY=:$(cat "$display_file")
  export DISPLAY
fi
wish "$here/demo.tcl" "$@"
