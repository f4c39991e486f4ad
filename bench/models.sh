#!/usr/bin/env bash
# The whole default model table (six models, their starts, standard errors)
# against one pedseg run, on the three-generation sample of bench/run.sh
# (600 families, about 19000 people).
#
#   bench/models.sh [BUILD_DIR]
#   bench/models.sh --covariates [BUILD_DIR]
#   bench/models.sh --probands [BUILD_DIR]
#
# Prints both wall times and their ratio (the target is at most 40), and for
# each model the starts carried to a maximum and the evaluations of ln L.
#
# --covariates: the sample gets two simulated covariates (a sex effect of 1
# and an age slope of 0.05 per year, written to covariates.dat), and the
# table is timed with both (every person's penetrance is then its own) and
# with --covariates none; the target is a ratio of at most 2.
#
# --probands: the founders' first child of each family is its proband
# (proband.dat), and the table conditioned on the probands' values is timed
# against --ascertainment none; the target is a ratio of at most 1.5.
set -euo pipefail
covariates=0 probands=0
if [ "${1:-}" = --covariates ]; then covariates=1; shift; fi
if [ "${1:-}" = --probands ]; then probands=1; shift; fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-bench}
mkdir -p "$build" && build=$(cd "$build" && pwd)  # the samples are made in other folders
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target pedseg pedseg-models pedsim ped2iway -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$work"
timed() {  # folder, program and options: wall seconds of the run in that folder
  local dir=$1 t0 t1; shift
  t0=$(date +%s.%N)
  (cd "$dir" && "$@" >console 2>progress)
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}

# The table with and without a study file: the sample made by pedsim with
# the options $1, converted by ped2iway with $2, which writes the file $3;
# pedseg-models with $4 is the run without it; $5 and $6 name the two runs
# in the last line and $7 is the target ratio.
with_and_without() {
  "$build/tools/pedsim" --families 600 --generations 3 --children 3-6 --marry 0.9 --remarry 0.05 \
    --spouses --seed 7 $1 --out ped.txt >/dev/null
  "$build/tools/ped2iway" ped.txt $2 --par-template >/dev/null
  mkdir with without
  cp par.inp iway.dat trait.dat "$3" with/
  cp par.inp iway.dat trait.dat "$3" without/
  local tn tc
  tn=$(timed without "$build/pedseg-models" $4)
  tc=$(timed with "$build/pedseg-models")
  cat with/console
  echo
  grep -E '^pedseg-models: [a-z]+: [0-9]+ starts' with/progress | sed 's/^pedseg-models: /  /'
  printf '\n%s %.2f s, %s %.2f s, ratio %.2f (target <= %s)\n' \
    "$5" "$tn" "$6" "$tc" "$(echo "$tc / $tn" | bc -l)" "$7"
}

if [ $covariates = 1 ]; then
  with_and_without "--sex-effect 1 --age-effect 0.05" "--covariates sex,age" covariates.dat \
    "--covariates none" "without covariates" "with two" 2
  exit 0
fi

if [ $probands = 1 ]; then
  with_and_without --probands "--proband proband" proband.dat "--ascertainment none" \
    "not conditioned" "conditioned on the probands" 1.5
  exit 0
fi

"$build/tools/pedsim" --families 600 --generations 3 --children 3-6 --marry 0.9 --remarry 0.05 \
  --spouses --seed 7 --out ped.txt >/dev/null
"$build/tools/ped2iway" ped.txt --par-template >/dev/null
mkdir pedseg models
cp par.inp iway.dat trait.dat pedseg/
cp par.inp iway.dat trait.dat models/

tp=$(timed pedseg "$build/pedseg")
tm=$(timed models "$build/pedseg-models")
cat models/console
echo
grep -E '^pedseg-models: [a-z]+: [0-9]+ starts' models/progress | sed 's/^pedseg-models: /  /'
printf '\npedseg %.2f s (%s evaluations), pedseg-models %.2f s, ratio %.1f (target <= 40)\n' \
  "$tp" "$(sed -n 's/.*Number of functions = *//p' pedseg/sigma.dat)" "$tm" \
  "$(echo "$tm / $tp" | bc -l)"
