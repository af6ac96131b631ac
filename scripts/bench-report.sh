#!/bin/sh
# Builds the release preset, runs every benchmark suite with its peers, and
# prints one table of ratios (ours / peer).  The X suites run against Xvfb
# servers this script starts for them (8-bit PseudoColor, 16- and 24-bit
# TrueColor, the last with 32-bit visuals) and stops afterwards.
#
#   scripts/bench-report.sh [RESULTS_DIR]
#
# RESULTS_DIR (default: <build>/bench-results) receives each suite's JSON and
# console output, and report.txt with the table.  Environment:
#   BENCH_BUILD_DIR    build there instead of the release preset's folder
#                      (configured like the preset: Release, benchmarks on)
#   BENCH_REPETITIONS  repetitions of each benchmark (default 5; medians are
#                      reported); 1 for a quick look
#   BENCH_SUITES       the suites to run (default: all six)
# Takes about 6 to 8 minutes on two cores, most of it building.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
repetitions=${BENCH_REPETITIONS:-5}
suites=${BENCH_SUITES:-"gif_bench byteorder_bench gxline_bench xbuild_bench xdisplay_bench xicons_bench"}

cd "$root"
if [ -n "${BENCH_BUILD_DIR:-}" ]; then
  build=$BENCH_BUILD_DIR
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTKPIXMAP_BENCH=ON >/dev/null
else
  build=$root/build/release
  cmake --preset release >/dev/null
fi
results=${1:-$build/bench-results}
mkdir -p "$results"
rm -f "$results"/*.json

# A suite that does not build is reported as missing; the others still run.
built=""
for suite in $suites; do
  if cmake --build "$build" --target "$suite" -j 2 >"$results/$suite.build.log" 2>&1; then
    built="$built $suite"
  else
    echo "bench-report: $suite did not build (see $results/$suite.build.log)" >&2
  fi
done

xstate=$results/xvfb
stop_servers() { "$root/scripts/xvfb.sh" stop "$xstate" 2>/dev/null || true; }
trap stop_servers EXIT INT TERM

run() {
  suite=$1
  shift
  echo "bench-report: running $suite" >&2
  if ! "$build/bench/$suite" --benchmark_repetitions="$repetitions" --benchmark_color=false \
      --benchmark_report_aggregates_only=true --benchmark_out="$results/$suite.json" \
      --benchmark_out_format=json "$@" >"$results/$suite.txt" 2>&1; then
    echo "bench-report: $suite failed (see $results/$suite.txt)" >&2
  fi
}

for suite in $built; do
  case $suite in
    xbuild_bench | xdisplay_bench | xicons_bench)
      if [ ! -f "$xstate/d24.display" ]; then
        "$root/scripts/xvfb.sh" start "$xstate" >/dev/null
      fi
      if [ "$suite" = xicons_bench ]; then
        TKPIXMAP_XVFB_STATE=$xstate run "$suite"  # a fixed number of iterations
      else
        TKPIXMAP_XVFB_STATE=$xstate run "$suite" --benchmark_min_time=0.2
      fi
      ;;
    byteorder_bench) run "$suite" --benchmark_min_time=0.2 ;;
    *) run "$suite" ;;
  esac
done
stop_servers

python3 "$root/scripts/bench_ratios.py" "$results" | tee "$results/report.txt"
echo "(medians of $repetitions repetitions; JSON and console output in $results)"
