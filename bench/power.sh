#!/usr/bin/env bash
# pedseg-power under the null and its speed.
#
#   bench/power.sh [BUILD_DIR] [REPLICATES]
#
# The calibration: a sample of 60 nuclear families (pedsim, ped2iway), a
# sporadic truth (par.inp's values with the three means equal and no
# polygenic effect), sporadic vs polygenic, REPLICATES replicates (default
# 200) with --jobs 2: the share of p <= 0.05 must lie in the 95%
# Clopper-Pearson interval around it that holds 0.05 (power.tsv's interval
# is printed; the run fails when it excludes 0.05).  Then the same
# replicates with --jobs 1: replicates per minute of both, and their ratio.
# Then bench/models.sh's design (600 three-generation families, about 19000
# people): 4 replicates of sporadic vs polygenic with --jobs 2.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
n=${2:-200}
mkdir -p "$build" && build=$(cd "$build" && pwd)
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target pedseg-power pedsim ped2iway -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A truth with no gene and no polygenic effect from a par.inp.
sporadic() {
  awk 'NR == 1 { print; next }
       $1 == 5 { m = $3 }
       $1 == 6 || $1 == 7 { $3 = m }
       $1 == 11 { $3 = 0 }
       { print }' "$1"
}
elapsed() {  # seconds since $1 (date +%s.%N)
  echo "$(date +%s.%N) - $1" | bc -l
}

mkdir "$work/small" && cd "$work/small"
"$build/tools/pedsim" --families 60 --seed 3 --out ped.txt >/dev/null
"$build/tools/ped2iway" ped.txt --par-template >/dev/null
sporadic par.inp >truth.inp
t0=$(date +%s.%N)
"$build/pedseg-power" . --truth truth.inp --null sporadic --alt polygenic --replicates "$n" \
  --jobs 2 --out jobs2 --quiet
t2=$(elapsed "$t0")
t0=$(date +%s.%N)
"$build/pedseg-power" . --truth truth.inp --null sporadic --alt polygenic --replicates "$n" \
  --jobs 1 --out jobs1 --quiet
t1=$(elapsed "$t0")
cmp jobs1/replicates.tsv jobs2/replicates.tsv
echo "60 nuclear families, sporadic truth, sporadic vs polygenic, $n replicates:"
column -t jobs2/power.tsv
column -t jobs2/summary.tsv
printf '%s replicates per minute with --jobs 1, %s with --jobs 2, ratio %.2f\n' \
  "$(echo "60 * $n / $t1" | bc)" "$(echo "60 * $n / $t2" | bc)" "$(echo "$t1 / $t2" | bc -l)"
awk -F'\t' '$1 == "0.05" { if ($5 > 0.05 || $6 < 0.05) { print "0.05 lies outside the interval"; exit 1 } }' \
  jobs2/power.tsv

mkdir "$work/large" && cd "$work/large"
"$build/tools/pedsim" --families 600 --generations 3 --children 3-6 --marry 0.9 --remarry 0.05 \
  --spouses --seed 7 --out ped.txt >/dev/null
"$build/tools/ped2iway" ped.txt --par-template >/dev/null
sporadic par.inp >truth.inp
t0=$(date +%s.%N)
"$build/pedseg-power" . --truth truth.inp --null sporadic --alt polygenic --replicates 4 \
  --jobs 2 --out jobs2 --quiet
t=$(elapsed "$t0")
printf '600 three-generation families: %.2f replicates per minute with --jobs 2\n' \
  "$(echo "60 * 4 / $t" | bc -l)"
