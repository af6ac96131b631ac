#!/bin/sh
# Starts or stops the X servers the X tests draw on, one per screen kind:
#   d8   8-bit PseudoColor        d16  16-bit TrueColor (5-6-5)
#   d24  24-bit TrueColor with Composite (offers 32-bit ARGB visuals)
#   d15  15-bit TrueColor (refused by the pixmap builder)
#   s2   two 24-bit screens (an image built on one is refused on the other)
#   t8   8-bit with TrueColor as the default visual (-cc 4), PseudoColor beside it
# Usage: xvfb.sh start STATEDIR | stop STATEDIR
# Each server picks a free display number (-displayfd); STATEDIR/<kind>.display
# holds it and STATEDIR/<kind>.pid the server's process id.
set -eu
action=$1
state=$2

kinds="d8 d16 d24 d15 s2 t8"
screen_of() {
  case $1 in
    d8) echo "-screen 0 800x600x8" ;;
    d16) echo "-screen 0 800x600x16" ;;
    d24) echo "+extension Composite -screen 0 800x600x24" ;;
    d15) echo "-screen 0 800x600x15" ;;
    s2) echo "-screen 0 800x600x24 -screen 1 800x600x24" ;;
    t8) echo "-screen 0 800x600x8 -cc 4" ;;
  esac
}

stop() {
  for kind in $kinds; do
    if [ -f "$state/$kind.pid" ]; then
      kill "$(cat "$state/$kind.pid")" 2>/dev/null || true
      rm -f "$state/$kind.pid" "$state/$kind.display"
    fi
  done
}

case $action in
  start)
    mkdir -p "$state"
    stop
    for kind in $kinds; do
      rm -f "$state/$kind.display"
      # shellcheck disable=SC2046
      Xvfb -displayfd 3 -nolisten tcp -noreset $(screen_of "$kind") \
        3>"$state/$kind.display" >"$state/$kind.log" 2>&1 &
      echo $! >"$state/$kind.pid"
    done
    for kind in $kinds; do
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
      echo "$kind on :$(cat "$state/$kind.display")"
    done
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop STATEDIR" >&2; exit 2 ;;
esac
