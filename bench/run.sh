#!/usr/bin/env bash
# Likelihood and whole-run timings on simulated samples.
#
#   bench/run.sh [BUILD_DIR] [SECONDS]
#
# Builds pedseg, likbench, pedsim and ped2iway in BUILD_DIR (default
# build-bench), simulates three samples (600 three-generation families of
# about 19000 people; 604 families of about 23000 people near the limits,
# with loose relatives and missing values; 600 nuclear families) and reports
# for each: evaluations per second of the plain and the fast likelihood with
# one thread and with all threads, the wall time and peak memory of a whole
# run with each, the ratios, and whether the output files are identical.
# Then the loaded-machine check: a busy loop on one core while a run with
# one thread and a run with the default thread count are timed; and the
# two ways of computing genotype posteriors (bench/posbench.cpp).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
mkdir -p "$build" && build=$(cd "$build" && pwd)  # the samples are made in other folders
seconds=${2:-3}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target pedseg likbench posbench pedsim ped2iway -j2 >/dev/null
bench=$build/bench/likbench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sample() {  # name, pedsim options...
  local dir=$work/$1; shift
  mkdir -p "$dir"
  (cd "$dir" && "$build/tools/pedsim" "$@" --out ped.txt >/dev/null &&
     "$build/tools/ped2iway" ped.txt --par-template >/dev/null)
}
sample g3 --families 600 --generations 3 --children 3-6 --marry 0.9 --remarry 0.05 --spouses --seed 7
sample limits --families 604 --generations 3 --children 4-6 --marry 0.93 --remarry 0.05 \
  --loose 0.2 --missing-rate 0.05 --spouses --seed 11
sample nuclear --families 600 --children 2-6 --seed 3

# One whole run in its own copy of the sample: wall seconds and peak RSS (kB).
timed_run() {  # sample, kernel, threads, label
  local dir=$work/$1.$4
  rm -rf "$dir"; cp -r "$work/$1" "$dir"
  local t0 t1
  t0=$(date +%s.%N)
  (cd "$dir" && OMP_NUM_THREADS=$3 /usr/bin/time -f %M -o rss "$bench" run "$2" >console)
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc) $(cat "$dir/rss")"
}

for s in g3 limits nuclear; do
  echo "== sample $s"
  (cd "$work/$s" && "$bench" eval "$seconds")
  read -r tp rp < <(timed_run "$s" plain 1 plain)
  read -r t1 r1 < <(timed_run "$s" fast 1 fast1)
  read -r ta ra < <(timed_run "$s" fast "$(nproc)" fastall)
  same=identical
  for f in console max.dat sigma.dat par.err; do
    cmp -s "$work/$s.plain/$f" "$work/$s.fast1/$f" || same="DIFFERENT ($f)"
    cmp -s "$work/$s.plain/$f" "$work/$s.fastall/$f" || same="DIFFERENT ($f)"
  done
  printf 'whole run: plain %.2f s (%d kB), fast 1 thread %.2f s (x %.1f, %d kB), fast %d threads %.2f s (x %.1f, %d kB); outputs %s\n' \
    "$tp" "$rp" "$t1" "$(echo "$tp / $t1" | bc -l)" "$r1" "$(nproc)" "$ta" \
    "$(echo "$tp / $ta" | bc -l)" "$ra" "$same"
done

echo "== genotype posteriors, sample limits (re-peeling on the first 60 families)"
(cd "$work/limits" && "$build/bench/posbench" 60)

echo "== loaded machine (a busy loop on one core), sample g3"
( while :; do :; done ) &
busy=$!
sleep 0.5
read -r l1 _ < <(timed_run g3 fast 1 load1)
read -r la _ < <(timed_run g3 fast "" loadall)
kill "$busy"
printf 'under load: 1 thread %.2f s, default threads %.2f s (ratio %.2f, must be <= 1.5)\n' \
  "$l1" "$la" "$(echo "$la / $l1" | bc -l)"
