#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS] [TARGET ...]      (default: 60 seconds, every target)
# Seeds: the target's generated seeds, its regression inputs under
# fuzz/regressions/<target>/, and for the GIF reader the shared corpus of GIF
# files when it exists (read in place).  New inputs collect in
# build/fuzz/corpus/<target>/; crashes are written to build/fuzz/crashes/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"$(ls fuzz/*_fuzzer.cc | sed 's|fuzz/||; s|\.cc$||' | tr '\n' ' ')"}

cmake --preset fuzz >/dev/null
# shellcheck disable=SC2086
cmake --build --preset fuzz --target $targets make_gif_seeds

out=build/fuzz
mkdir -p "$out/crashes"
status=0
for target in $targets; do
  corpus=$out/corpus/$target
  seeds=$out/seeds/$target
  mkdir -p "$corpus" "$seeds"
  extra=""
  case $target in
    gif_fuzzer)
      "$out/fuzz/make_gif_seeds" "$seeds"
      [ -d ../shared/corpus/gif ] && extra="../shared/corpus/gif"
      ;;
  esac
  [ -d "fuzz/regressions/$target" ] && extra="$extra fuzz/regressions/$target"
  dict=""
  [ -f "fuzz/${target%_fuzzer}.dict" ] && dict="-dict=fuzz/${target%_fuzzer}.dict"
  echo "=== $target for ${seconds}s"
  # Only what this run writes counts; artifacts of earlier runs stay for study.
  stamp=$out/crashes/.$target.started
  touch "$stamp"
  # shellcheck disable=SC2086
  "$out/fuzz/$target" $dict -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=20 \
    -artifact_prefix="$out/crashes/$target-" -print_final_stats=1 \
    "$corpus" "$seeds" $extra 2>&1 | grep -E "^(#[0-9]+.*(DONE|INITED)|stat::|SUMMARY|==[0-9]+==ERROR)" || true
  found=$(find "$out/crashes" -maxdepth 1 -name "$target-*" -newer "$stamp" | tr '\n' ' ')
  if [ -n "$found" ]; then
    echo "FAIL: $target found crashes: $found"
    status=1
  fi
done
exit $status
