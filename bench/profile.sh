#!/usr/bin/env bash
# The cost of a profile: pedseg-models --models mixed with and without
# --profile q, on the bundled example and on a 60-family pedsim sample whose
# par.inp (ped2iway's template) is symmetric under relabelling the genotypes
# (its q profile maximises half the grid).
#
#   bench/profile.sh [BUILD_DIR]
#
# Prints the wall times, the profile's share and its count of maximisations.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
mkdir -p "$build" && build=$(cd "$build" && pwd)
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target pedseg-models pedsim ped2iway -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/example" "$work/sim"
cp "$here"/examples/{par.inp,iway.dat,trait.dat} "$work/example/"
(cd "$work/sim" && "$build/tools/pedsim" --families 60 --children 1-4 --seed 11 --out ped.txt \
  >/dev/null && "$build/tools/ped2iway" ped.txt --par-template >/dev/null)

timed() {  # folder, options: wall seconds of pedseg-models there
  local dir=$1 t0 t1; shift
  t0=$(date +%s.%N)
  (cd "$dir" && "$build/pedseg-models" --models mixed --no-figures "$@" >console 2>progress)
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}
for s in example sim; do
  fit=$(timed "$work/$s")
  both=$(timed "$work/$s" --profile q)
  printf '%-8s fit %.2f s, with the profile of q %.2f s (profile %.2f s); %s\n' "$s" "$fit" \
    "$both" "$(echo "$both - $fit" | bc -l)" \
    "$(grep -o 'profile of q.*' "$work/$s/progress" | tail -1)"
done
