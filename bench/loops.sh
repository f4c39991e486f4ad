#!/usr/bin/env bash
# The cost of loops: evaluations of a sample of 300 three-generation
# pedigrees, each built around a first-cousin marriage (pedsim --cousins 1;
# ped2iway cuts each loop and writes loops.dat), against the same families
# with the loop removed (the same files without loops.dat: each copy is then
# an unrelated founder).
#
#   bench/loops.sh [BUILD_DIR] [SECONDS]
#
# Runs likbench eval on both samples and prints, with one thread and with
# all threads, the evaluations per second of each and their ratio, and for
# the looped sample with all threads the cores kept busy (CPU seconds per
# wall second: the engine's threads split the families).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
mkdir -p "$build" && build=$(cd "$build" && pwd)
seconds=${2:-3}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target likbench pedsim ped2iway -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/cut"
(cd "$work/cut" &&
   "$build/tools/pedsim" --families 300 --generations 3 --cousins 1 --spouses --children 1-4 \
     --seed 7 --out ped.txt >/dev/null &&
   "$build/tools/ped2iway" ped.txt --par-template | cut -c1-160)
cp -r "$work/cut" "$work/uncut"
rm "$work/uncut/loops.dat"
for s in cut uncut; do
  echo "== $s"
  (cd "$work/$s" && "$build/bench/likbench" eval "$seconds") | tee "$work/$s.txt"
done

# The number before WORD on the line of VARIANT and MOVE.
field() {  # file, variant, move, word
  awk -v v="$2" -v m="$3" -v w="$4" \
    '$1 == v && index($0, m) { for (i = 2; i <= NF; ++i) if ($i == w) { print $(i - 1); exit } }' "$1"
}
echo "== ratios (without loops / with loops)"
for v in fast-1 fast-all; do
  for m in "q moves" "trait parameter moves"; do
    c=$(field "$work/cut.txt" "$v" "$m" evaluations/s)
    u=$(field "$work/uncut.txt" "$v" "$m" evaluations/s)
    printf '%-9s %-22s %9.2f vs %9.2f evaluations/s: loops cost x %.1f\n' "$v" "$m" "$u" "$c" \
      "$(echo "$u / $c" | bc -l)"
  done
done
wall=$(field "$work/cut.txt" fast-all "q moves" evaluations/s)
cpu=$(field "$work/cut.txt" fast-all "q moves" per)
threads=$(awk '$1 == "fast-all" { print $3; exit }' "$work/cut.txt")
printf 'with loops, %d threads: %.2f cores busy\n' "$threads" "$(echo "$wall / $cpu" | bc -l)"
