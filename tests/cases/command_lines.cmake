cmake_minimum_required(VERSION 3.25)
# The command lines of the four programs, one row each: the program, the
# expected status, patterns for the standard output and the standard error,
# and the arguments.  Every row runs in a copy of INPUT (a sample with
# pedigree.txt and idmap.dat) that also holds old result files, an empty
# folder and the sample with a folder as its idmap.dat, and must leave the
# folder as it was.  A row whose output pattern is /dev/full runs with the
# standard output on the full device.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/empty ${WORK}/dirmap/idmap.dat)
file(GLOB inputs ${INPUT}/*)
file(COPY ${inputs} DESTINATION ${WORK})
file(COPY ${INPUT}/par.inp ${INPUT}/iway.dat ${INPUT}/trait.dat DESTINATION ${WORK}/dirmap)
foreach(name sigma.dat max.dat par.err models.tsv)
  file(WRITE ${WORK}/${name} "old ${name}\n")
endforeach()
# A truth for pedseg-power whose residual variance lies beyond the sample's bounds.
file(READ ${INPUT}/par.inp par_text)
string(REPLACE "12 1 3.0 0.3 0.01 30.0" "12 1 99.0 0.3 0.01 100.0" par_text "${par_text}")
file(WRITE ${WORK}/truth_outside.inp "${par_text}")

function(snapshot out)
  file(GLOB_RECURSE names RELATIVE ${WORK} LIST_DIRECTORIES true ${WORK}/*)
  list(SORT names)
  set(text "")
  foreach(n ${names})
    if(IS_DIRECTORY ${WORK}/${n})
      string(APPEND text "${n}/\n")
    else()
      file(SHA256 ${WORK}/${n} h)
      string(APPEND text "${n} ${h}\n")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

snapshot(before)
set(failures "")
# row(PROGRAM STATUS STDOUT STDERR ARGS...).  STDOUT: a pattern, "-" for
# nothing, "help" or "version" for the program's help or version, or
# /dev/full to run with the standard output on the full device.  STDERR: "-"
# for nothing, "usage: TEXT" for one usage error line, else the pattern of
# what follows "PROGRAM: ".
function(row program want_status want_out want_err)
  set(out "")
  set(out_to OUTPUT_VARIABLE out)
  if(want_out STREQUAL "/dev/full")
    set(out_to OUTPUT_FILE /dev/full)
    set(want_out "^$")
  elseif(want_out STREQUAL "help")
    set(want_out "^usage: ${program} .*\n       ${program} --help [|] --version\n\n.*\n"
                 "  -h, --help +this text\n  --version +the version\n\n.*Exit status: 0 ")
    string(JOIN "" want_out ${want_out})
  elseif(want_out STREQUAL "version")
    set(want_out "^${program} ${VERSION}\n$")
  elseif(want_out STREQUAL "-")
    set(want_out "^$")
  endif()
  if(want_err STREQUAL "-")
    set(want_err "^$")
  elseif(want_err MATCHES "^usage: (.*)")
    set(want_err "^${program}: ${CMAKE_MATCH_1}; see ${program} --help\n$")
  else()
    set(want_err "^${program}: ${want_err}")
  endif()
  execute_process(COMMAND ${${program}} ${ARGN} WORKING_DIRECTORY ${WORK}
                  ${out_to} ERROR_VARIABLE err RESULT_VARIABLE status)
  set(what "${program} ${ARGN}")
  if(NOT status STREQUAL want_status)
    list(APPEND failures "${what}: status ${status}, expected ${want_status}")
  endif()
  if(NOT out MATCHES "${want_out}")
    list(APPEND failures "${what}: standard output [${out}] does not match ${want_out}")
  endif()
  if(NOT err MATCHES "${want_err}")
    list(APPEND failures "${what}: standard error [${err}] does not match ${want_err}")
  endif()
  snapshot(after)
  if(NOT after STREQUAL before)
    list(APPEND failures "${what} changed the folder:\n${before}became\n${after}")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

set(write_error "write error: cannot write to standard output\n$")
set(any "[^\n]*")

row(pedseg 0 help - -h)
row(pedseg 4 /dev/full ${write_error} --help)
row(pedseg 4 /dev/full ${write_error} --version)
row(pedseg 2 - "usage: --version excludes --help" --version --help)

row(pedseg-models 0 help - --help)
row(pedseg-models 0 version - --version)
row(pedseg-models 4 /dev/full ${write_error} --help)
row(pedseg-models 2 - "usage: unknown option --frobnicate" --frobnicate)
row(pedseg-models 2 - "usage: unexpected argument empty" . empty)
row(pedseg-models 2 - "usage: --starts${any}" --starts)
# Checked before anything is read: `empty` has no par.inp.
row(pedseg-models 2 - "usage: --starts: '1001' is not a number from 0 to 1000" empty --starts 1001)
row(pedseg-models 2 - "usage: --threads: '300' is not a number from 1 to 256" empty --threads=300)
row(pedseg-models 2 - "usage: --max-breakers: '6' is not a number from 1 to 5" empty --max-breakers 6)
row(pedseg-models 2 - "usage: --transform: 'cube' is not boxcox or log" empty --transform cube)
row(pedseg-models 2 - "usage: --ascertainment: 'maybe' is not actual, threshold or none"
    empty --ascertainment maybe)
row(pedseg-models 2 - "usage: --models: unknown model 'nonsense' [(]models: sporadic, ${any}"
    empty --models major,nonsense)
row(pedseg-models 2 - "usage: --posteriors: unknown model 'x'${any}" empty --posteriors x)
row(pedseg-models 2 - "usage: --profile: unknown parameter 'tau4' [(]names: q, ${any}"
    empty --profile tau4)
row(pedseg-models 2 - "usage: 'no-such-folder' is not a folder" no-such-folder)
row(pedseg-models 2 - "usage: 'pedigree.txt' is not a folder" pedigree.txt)
# Checked against par.inp, before any fit.
row(pedseg-models 2 -
    "usage: --profile tau1: not a free parameter of the mixed model [(]free: q, spike1${any}"
    --profile tau1)
row(pedseg-models 2 - "usage: --profile polygenic_effect: not a free parameter of the major${any}"
    --models general --posteriors major --profile polygenic_effect)
row(pedseg-models 2 - "input error: empty/par.inp: the file does not exist\n$" empty --profile tau1)
row(pedseg-models 2 -
    "input error: dirmap/idmap.dat: the file cannot be read [(]Is a directory[)]\n$"
    dirmap --posteriors mixed)

row(pedseg-power 0 help - --help)
row(pedseg-power 0 version - --version)
row(pedseg-power 4 /dev/full ${write_error} --help)
row(pedseg-power 2 - "usage: DIR is required" --truth par.inp)
row(pedseg-power 2 - "usage: --replicates is required" . --truth par.inp --null sporadic --alt mixed)
row(pedseg-power 2 - "usage: --part: '3/3' is not K/M with 0 <= K < M" . --part 3/3)
row(pedseg-power 2 - "usage: --null: polygenic is not nested in major"
    . --truth par.inp --null polygenic --alt major --replicates 2)
row(pedseg-power 2 - "usage: --collect takes no design: it is in the parts' files"
    --collect empty --replicates 2)
# Checked against the sample's par.inp, before any replicate.
row(pedseg-power 2 -
    "usage: --truth: residual_variance = 99 lies outside its bounds 0.01 to 30 in the sample's par.inp"
    . --truth truth_outside.inp --null sporadic --alt polygenic --replicates 2)
row(pedseg-power 2 - "input error: absent.inp: the file does not exist\n$"
    . --truth absent.inp --null sporadic --alt polygenic --replicates 2)
row(pedseg-power 2 - "input error: empty/replicates.tsv: the file does not exist\n$" --collect empty)

row(ped2iway 0 help - --help)
row(ped2iway 0 version - pedigree.txt --version)
row(ped2iway 2 /dev/full ${write_error} --version)
row(ped2iway 1 - "usage: PEDFILE is required")
row(ped2iway 1 - "usage: unexpected argument b.ped" a.ped b.ped)
row(ped2iway 1 - "usage: unknown option --bogus" pedigree.txt --bogus)
row(ped2iway 1 - "usage: --missing${any}" pedigree.txt --missing)
row(ped2iway 1 - "usage: --out-dir${any}" pedigree.txt --out-dir=)
row(ped2iway 1 - "usage: --trait-file: 'a_name_of_17chars': ${any}at most 16 characters${any}"
    pedigree.txt --trait-file a_name_of_17chars)
row(ped2iway 1 - "usage: --trait-file: 'two words'${any}" pedigree.txt "--trait-file=two words")
row(ped2iway 1 - "usage: iway.dat cannot be the trait file or the id map"
    pedigree.txt --trait-file iway.dat)
row(ped2iway 1 - "usage: the trait file and the id map need different names"
    pedigree.txt --map-file trait.dat)
row(ped2iway 1 - "usage: --covariates: 'age,,sex' has an empty name" pedigree.txt --covariates age,,sex)
row(ped2iway 1 - "usage: loops.dat cannot be the trait file or the id map"
    pedigree.txt --map-file loops.dat)
row(ped2iway 2 - "absent.ped: the file does not exist\n$" absent.ped)
row(ped2iway 2 - "empty: the file cannot be read [(]Is a directory[)]\n$" empty)

row(pedsim 0 help - --help)
row(pedsim 0 version - --version)
row(pedsim 2 /dev/full ${write_error} --help)
row(pedsim 2 /dev/full "2 families${any}\npedsim: ${write_error}" --families 2)
row(pedsim 0 "^# pedsim, seed 5${any}\nF1 1 0 0 1 "
    "2 families, [0-9]+ individuals written, seed 5\n$" --families=2 --seed 5 --children=2-3)
row(pedsim 0 "^# pedsim" "without --spouses ${any}--fix-parents\npedsim: 2 families"
    --generations 3 --families 2)
row(pedsim 1 - "usage: --families: '0' is not a number from 1 to 1000000" --families 0)
row(pedsim 1 - "usage: --children: '4-2' is not MIN-MAX${any}" --children 4-2)
row(pedsim 1 - "usage: --generations: '4' is not 2 or 3" --generations 4)
row(pedsim 1 - "usage: --missing-rate: '1.5' is not a share from 0 to 1" --missing-rate 1.5)
row(pedsim 1 - "usage: --set: '13=1' is not SLOT=VALUE with a slot from 1 to 12 or its name" --set 13=1)
row(pedsim 1 - "usage: --set: 'tau4=1' is not SLOT=VALUE${any}" --set tau4=1)
row(pedsim 1 - "usage: true values: q ${any}" --set 5=9 --set 1=2)
row(pedsim 1 - "usage: --spike-value: '998' is not a number above 998" --spike-value 998)
row(pedsim 1 - "usage: --seed: '-1' is not a non-negative integer" --seed -1)
row(pedsim 1 - "usage: unexpected argument extra" extra)
row(pedsim 1 - "usage: --select-quantile: '1.5' is not a share between 0 and 1"
    --select-quantile 1.5)
row(pedsim 1 - "usage: --pilot: '5' is not a number from 100 to 10000000" --pilot 5)
row(pedsim 1 - "usage: --cousins: '2' is not a share from 0 to 1" --cousins 2)
row(pedsim 1 - "usage: with --lognormal the means${any}below ln 998${any}" --lognormal)
row(pedsim 1 - "usage: probands need children${any}" --probands --children 0-2)
row(pedsim 0 "^# pedsim, seed 1\nfamily individual father mother sex trait age proband\nF1 1 0 0 1 "
    "2 families kept out of [0-9]+ drawn [(]proband's trait at or above 12[)], [0-9]+ individuals"
    --families 2 --age-effect 0.1 --select-above 12)
row(pedsim 0 "^# pedsim, seed 1: family individual father mother sex trait\nF1 1 0 0 1 [0-9.]+\n"
    "2 families, [0-9]+ individuals written" --families 2 --cousins 1 --sisters 0.5 --spouses --lognormal
    --set 5=1 --set 6=1 --set 7=1 --set 11=0.1 --set 12=0.1)
row(pedsim 2 - "absent.inp: the file does not exist\n$" --par absent.inp)
row(pedsim 2 - "cannot write no/x.ped: [^\n]+\n$" --families 2 --out no/x.ped)

if(failures)
  string(REPLACE ";" "\n" text "${failures}")
  message(FATAL_ERROR "${text}")
endif()
