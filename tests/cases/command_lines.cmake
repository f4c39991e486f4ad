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
# row(PROGRAM STATUS STDOUT_REGEX STDERR_REGEX ARGS...)
function(row program want_status want_out want_err)
  if(want_out STREQUAL "/dev/full")
    set(out_to OUTPUT_FILE /dev/full)
    set(want_out "")
  else()
    set(out_to OUTPUT_VARIABLE out)
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

foreach(p pedseg pedseg-models ped2iway pedsim)
  set(help_${p} "^usage: ${p} .*\n       ${p} --help [|] --version\n\n.*\n  -h, --help +this text\n  --version +the version\n\n.*Exit status: 0 ")
  set(version_${p} "^${p} ${VERSION}\n$")
  set(usage_${p} "; see ${p} --help\n$")
endforeach()
set(write_error "write error: cannot write to standard output\n$")

row(pedseg 0 "${help_pedseg}" "^$" -h)
row(pedseg 4 /dev/full "^pedseg: ${write_error}" --help)
row(pedseg 4 /dev/full "^pedseg: ${write_error}" --version)
row(pedseg 2 "^$" "^pedseg: --version excludes --help${usage_pedseg}" --version --help)

row(pedseg-models 0 "${help_pedseg-models}" "^$" --help)
row(pedseg-models 0 "${version_pedseg-models}" "^$" --version)
row(pedseg-models 4 /dev/full "^pedseg-models: ${write_error}" --help)
row(pedseg-models 2 "^$" "^pedseg-models: unknown option --frobnicate${usage_pedseg-models}" --frobnicate)
row(pedseg-models 2 "^$" "^pedseg-models: unexpected argument empty${usage_pedseg-models}" . empty)
row(pedseg-models 2 "^$" "^pedseg-models: --starts[^\n]*${usage_pedseg-models}" --starts)
# Checked before anything is read: `empty` has no par.inp.
row(pedseg-models 2 "^$" "^pedseg-models: --starts: '0' is not a number from 1 to 100${usage_pedseg-models}"
    empty --starts 0)
row(pedseg-models 2 "^$" "^pedseg-models: --threads: '300' is not a number from 1 to 256${usage_pedseg-models}"
    empty --threads=300)
row(pedseg-models 2 "^$" "^pedseg-models: --models: unknown model 'nonsense' [(]models: sporadic, [^\n]*${usage_pedseg-models}"
    empty --models major,nonsense)
row(pedseg-models 2 "^$" "^pedseg-models: --posteriors: unknown model 'x'[^\n]*${usage_pedseg-models}"
    empty --posteriors x)
row(pedseg-models 2 "^$" "^pedseg-models: --profile: unknown parameter 'tau4' [(]names: q, [^\n]*${usage_pedseg-models}"
    empty --profile tau4)
row(pedseg-models 2 "^$" "^pedseg-models: 'no-such-folder' is not a folder${usage_pedseg-models}" no-such-folder)
row(pedseg-models 2 "^$" "^pedseg-models: 'pedigree.txt' is not a folder${usage_pedseg-models}" pedigree.txt)
# Checked against par.inp, before any fit.
row(pedseg-models 2 "^$"
    "^pedseg-models: --profile tau1: not a free parameter of the mixed model [(]free: q, spike1[^\n]*${usage_pedseg-models}"
    --profile tau1)
row(pedseg-models 2 "^$" "^pedseg-models: --profile polygenic_effect: not a free parameter of the major model[^\n]*${usage_pedseg-models}"
    --models general --posteriors major --profile polygenic_effect)
row(pedseg-models 2 "^$" "^pedseg-models: input error: empty/par.inp: the file does not exist\n$" empty --profile tau1)
row(pedseg-models 2 "^$" "^pedseg-models: input error: dirmap/idmap.dat: the file cannot be read [(]Is a directory[)]\n$"
    dirmap --posteriors mixed)

row(ped2iway 0 "${help_ped2iway}" "^$" --help)
row(ped2iway 0 "${version_ped2iway}" "^$" pedigree.txt --version)
row(ped2iway 2 /dev/full "^ped2iway: ${write_error}" --version)
row(ped2iway 1 "^$" "^ped2iway: PEDFILE is required${usage_ped2iway}")
row(ped2iway 1 "^$" "^ped2iway: unexpected argument b.ped${usage_ped2iway}" a.ped b.ped)
row(ped2iway 1 "^$" "^ped2iway: unknown option --bogus${usage_ped2iway}" pedigree.txt --bogus)
row(ped2iway 1 "^$" "^ped2iway: --missing[^\n]*${usage_ped2iway}" pedigree.txt --missing)
row(ped2iway 1 "^$" "^ped2iway: --out-dir[^\n]*${usage_ped2iway}" pedigree.txt --out-dir=)
row(ped2iway 1 "^$" "^ped2iway: --trait-file: 'a_name_of_17chars': [^\n]*at most 16 characters[^\n]*${usage_ped2iway}"
    pedigree.txt --trait-file a_name_of_17chars)
row(ped2iway 1 "^$" "^ped2iway: --trait-file: 'two words'[^\n]*${usage_ped2iway}"
    pedigree.txt "--trait-file=two words")
row(ped2iway 1 "^$" "^ped2iway: iway.dat cannot be the trait file or the id map${usage_ped2iway}"
    pedigree.txt --trait-file iway.dat)
row(ped2iway 1 "^$" "^ped2iway: the trait file and the id map need different names${usage_ped2iway}"
    pedigree.txt --map-file trait.dat)
row(ped2iway 2 "^$" "^ped2iway: absent.ped: the file does not exist\n$" absent.ped)
row(ped2iway 2 "^$" "^ped2iway: empty: the file cannot be read [(]Is a directory[)]\n$" empty)

row(pedsim 0 "${help_pedsim}" "^$" --help)
row(pedsim 0 "${version_pedsim}" "^$" --version)
row(pedsim 2 /dev/full "^pedsim: ${write_error}" --help)
row(pedsim 2 /dev/full "^pedsim: 2 families[^\n]*\npedsim: ${write_error}" --families 2)
row(pedsim 0 "^# pedsim, seed 5[^\n]*\nF1 1 0 0 1 " "^pedsim: 2 families, [0-9]+ individuals written, seed 5\n$"
    --families=2 --seed 5 --children=2-3)
row(pedsim 0 "^# pedsim" "^pedsim: without --spouses [^\n]*--fix-parents\npedsim: 2 families" --generations 3 --families 2)
row(pedsim 1 "^$" "^pedsim: --families: '0' is not a number from 1 to 1000000${usage_pedsim}" --families 0)
row(pedsim 1 "^$" "^pedsim: --children: '4-2' is not MIN-MAX[^\n]*${usage_pedsim}" --children 4-2)
row(pedsim 1 "^$" "^pedsim: --generations: '4' is not 2 or 3${usage_pedsim}" --generations 4)
row(pedsim 1 "^$" "^pedsim: --missing-rate: '1.5' is not a share from 0 to 1${usage_pedsim}" --missing-rate 1.5)
row(pedsim 1 "^$" "^pedsim: --set: '13=1' is not SLOT=VALUE with a slot from 1 to 12${usage_pedsim}" --set 13=1)
row(pedsim 1 "^$" "^pedsim: true values: q [^\n]*${usage_pedsim}" --set 5=9 --set 1=2)
row(pedsim 1 "^$" "^pedsim: --spike-value: '998' is not a number above 998${usage_pedsim}" --spike-value 998)
row(pedsim 1 "^$" "^pedsim: --seed: '-1' is not a non-negative integer${usage_pedsim}" --seed -1)
row(pedsim 1 "^$" "^pedsim: unexpected argument extra${usage_pedsim}" extra)
row(pedsim 2 "^$" "^pedsim: absent.inp: the file does not exist\n$" --par absent.inp)
row(pedsim 2 "^$" "^pedsim: cannot write no/x.ped: [^\n]+\n$" --families 2 --out no/x.ped)

if(failures)
  string(REPLACE ";" "\n" text "${failures}")
  message(FATAL_ERROR "${text}")
endif()
