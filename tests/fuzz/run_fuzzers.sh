#!/usr/bin/env bash
# Runs every fuzz program of a fuzz build for a given time each.
#   run_fuzzers.sh BUILD_DIR SECONDS [NAME...]
# Each program works on BUILD_DIR/fuzz-corpus/<name>, seeded from
# tests/fuzz/corpus/<name> and tests/fuzz/regressions/<name>; an input that
# finds a fault is written to BUILD_DIR/fuzz-artifacts/<name>/ and the script
# fails.  A fixed fault's input belongs in tests/fuzz/regressions/<name>/,
# where the test suite replays it.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
src=$(cd "$(dirname "$0")" && pwd)
status=0
shopt -s nullglob
exes=("$build"/tests/fuzz/fuzz_*)
if [ ${#exes[@]} -eq 0 ]; then
  echo "run_fuzzers: no fuzz programs in $build/tests/fuzz" >&2
  exit 1
fi
for exe in "${exes[@]}"; do
  name=${exe##*/fuzz_}
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  work=$build/fuzz-corpus/$name
  art=$build/fuzz-artifacts/$name
  log=$build/fuzz-$name.log
  mkdir -p "$work" "$art"
  seeds=()
  for d in corpus regressions; do
    if [ -d "$src/$d/$name" ]; then seeds+=("$src/$d/$name"); fi
  done
  opts=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=3072 -print_final_stats=1
        -artifact_prefix="$art/")
  if [ -f "$src/$name.dict" ]; then opts+=(-dict="$src/$name.dict"); fi
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$exe" "${opts[@]}" "$work" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 || true)
    echo "fuzz_$name: ${runs:-?} runs, ${cov:-no coverage figures}, no fault"
  else
    echo "fuzz_$name: FAULT; see $log and $art/"
    grep -E 'ERROR|fuzz check failed|runtime error|Test unit written' "$log" | head -5 || true
    status=1
  fi
done
exit $status
