#!/bin/sh
# Runs one tcltest file against one of the fixture's X servers.
# Usage: run-x.sh STATEDIR KIND INTERPRETER RUNNER FILE
set -eu
state=$1 kind=$2 interp=$3 runner=$4 file=$5
DISPLAY=:$(cat "$state/$kind.display")
export DISPLAY
exec "$interp" "$runner" "$file"
