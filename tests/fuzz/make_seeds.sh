#!/usr/bin/env bash
# Rebuilds the seed corpora of the fuzz programs from the end-to-end cases:
#   tests/fuzz/make_seeds.sh
# par.inp, iway.dat and trait.dat of every case become seeds of the params,
# iway and traits programs; the three together (separated by a line "%%")
# seeds of the run program; the reader gets every input file behind a
# choice of reads.  Inputs over 4 KB are left out.  The seeds of ped2iway,
# covariates, proband and loops (corpus/ped2iway, ...) are written by hand
# and left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$root/tests/fuzz/corpus
rm -rf "$out"/{reader,params,iway,traits,run}
mkdir -p "$out"/{reader,params,iway,traits,run}
small() { [ -f "$1" ] && [ "$(stat -c %s "$1")" -le 4096 ]; }
for dir in "$root"/tests/cases/*/input; do
  case_name=$(basename "$(dirname "$dir")")
  par=$dir/par.inp iway=$dir/iway.dat trait=$dir/trait.dat
  # Large inputs (long lines) only slow the fuzzers down.
  small "$par" || par=/nonexistent
  small "$iway" || iway=/nonexistent
  small "$trait" || trait=/nonexistent
  [ -f "$par" ] && cp "$par" "$out/params/$case_name"
  [ -f "$iway" ] && cp "$iway" "$out/iway/$case_name"
  if [ -f "$trait" ] && [ -f "$iway" ]; then
    # Byte 0: the number of individuals, from record 6 of iway.dat.
    nind=$(awk 'NR == 6 { print $1; exit }' "$iway")
    if [ -n "$nind" ] && [ "$nind" -ge 0 ] 2>/dev/null && [ "$nind" -le 255 ]; then
      { printf "\\$(printf '%03o' "$nind")"; cat "$trait"; } >"$out/traits/$case_name"
    fi
  fi
  if [ -f "$par" ] && [ -f "$iway" ] && [ -f "$trait" ]; then
    { cat "$par"; printf '%%%%\n'; cat "$iway"; printf '%%%%\n'; cat "$trait"; } \
      >"$out/run/$case_name"
  fi
  for f in "$dir"/*; do
    small "$f" || continue
    # Byte 0: three operation bytes follow (text, then integers and reals).
    { printf '\003\003\000\001'; cat "$f"; } >"$out/reader/${case_name}_$(basename "$f")"
  done
done
# Duplicates add nothing.
for d in "$out"/{reader,params,iway,traits,run}; do
  md5sum "$d"/* | sort | awk 'seen[$1]++ { print $2 }' | xargs -r rm --
done
