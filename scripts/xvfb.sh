#!/bin/sh
# The one way this project starts its X servers (Xvfb).  Each server is of a
# kind:
#   d8   8-bit PseudoColor        d16  16-bit TrueColor (5-6-5)
#   d24  24-bit TrueColor with Composite (offers 32-bit ARGB visuals)
#   d15  15-bit TrueColor (refused by the pixmap builder)
#   s2   two 24-bit screens (an image built on one is refused on the other)
#   t8   8-bit with TrueColor as the default visual (-cc 4), PseudoColor beside it
#   large8, large16, large24   one 1920x1200 screen of that depth (the demo)
#   starved24  one 320x200x24 screen with 60 MB of address space (it starts in
#        about 46), for a server that runs out of memory; it ends with its
#        last client (-terminate), or after five minutes at the latest
# Usage:
#   xvfb.sh start STATEDIR [KIND ...]   starts servers (default: the six X test kinds)
#   xvfb.sh stop STATEDIR               stops every server started into STATEDIR
#   xvfb.sh display STATEDIR KIND       prints the DISPLAY of a started server
#   xvfb.sh run STATEDIR KIND COMMAND [ARG ...]   runs COMMAND on that server
# Each server picks a free display number (-displayfd); STATEDIR/<kind>.display
# holds it, STATEDIR/<kind>.pid the server's process id and STATEDIR/<kind>.log
# what the server printed.
set -eu
if [ $# -lt 2 ]; then
  echo "usage: $0 start STATEDIR [KIND ...] | stop STATEDIR | display STATEDIR KIND | run STATEDIR KIND COMMAND ..." >&2
  exit 2
fi
action=$1
state=$2
shift 2

test_kinds="d8 d16 d24 d15 s2 t8"
screen_of() {
  case $1 in
    d8) echo "-screen 0 800x600x8" ;;
    d16) echo "-screen 0 800x600x16" ;;
    d24) echo "+extension Composite -screen 0 800x600x24" ;;
    d15) echo "-screen 0 800x600x15" ;;
    s2) echo "-screen 0 800x600x24 -screen 1 800x600x24" ;;
    t8) echo "-screen 0 800x600x8 -cc 4" ;;
    large8 | large16 | large24) echo "-screen 0 1920x1200x${1#large}" ;;
    starved24) echo "-terminate -screen 0 320x200x24" ;;
    *) echo "xvfb.sh: unknown server kind '$1'" >&2; return 2 ;;
  esac
}

stop_kind() {
  if [ -f "$state/$1.pid" ]; then
    kill "$(cat "$state/$1.pid")" 2>/dev/null || true
    rm -f "$state/$1.pid" "$state/$1.display"
  fi
}

# Starts the server of a kind in the background ($! is its process).
launch() {
  if [ "$1" = starved24 ]; then
    # ulimit -v is in dash and bash, the shells this runs in.
    # shellcheck disable=SC2046,SC3045
    (ulimit -v 60000 && exec timeout 300 Xvfb -displayfd 3 -nolisten tcp $(screen_of "$1") \
      3>"$state/$1.display" >"$state/$1.log" 2>&1) &
  else
    # shellcheck disable=SC2046
    Xvfb -displayfd 3 -nolisten tcp -noreset $(screen_of "$1") \
      3>"$state/$1.display" >"$state/$1.log" 2>&1 &
  fi
}

display_of() {
  if [ ! -s "$state/$1.display" ]; then
    echo "xvfb.sh: no $1 server started in $state" >&2
    exit 2
  fi
  echo ":$(cat "$state/$1.display")"
}

case $action in
  start)
    # shellcheck disable=SC2086
    [ $# -gt 0 ] || set -- $test_kinds
    for kind; do screen_of "$kind" >/dev/null || exit 2; done
    mkdir -p "$state"
    for kind; do
      stop_kind "$kind"
      launch "$kind"
      echo $! >"$state/$kind.pid"
    done
    for kind; do
      tries=0
      until [ -s "$state/$kind.display" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then
          echo "Xvfb for $kind did not start:" >&2
          cat "$state/$kind.log" >&2
          exit 1
        fi
        sleep 0.1
      done
      echo "$kind on $(display_of "$kind")"
    done
    ;;
  stop)
    for pidfile in "$state"/*.pid; do
      [ -f "$pidfile" ] || continue
      stop_kind "$(basename "$pidfile" .pid)"
    done
    ;;
  display) display_of "$1" ;;
  run)
    DISPLAY=$(display_of "$1")
    export DISPLAY
    shift
    exec "$@"
    ;;
  *) echo "usage: $0 start|stop|display|run STATEDIR ..." >&2; exit 2 ;;
esac
