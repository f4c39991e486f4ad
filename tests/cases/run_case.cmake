cmake_minimum_required(VERSION 3.25)  # quoted names in if() are plain strings (CMP0054)
# Runs pedseg in a scratch copy of CASE/input and compares the results with
# CASE/expected:
#   status       the exit status
#   console.txt  standard output
#   stderr.txt   standard error
#   absent       names of files that must not exist after the run
#   any other    a file of the scratch folder, compared byte for byte
# With UPDATE_GOLDEN set in the environment, the expected files that exist
# are rewritten from the run instead (review the difference before committing).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(GLOB inputs ${CASE}/input/*)
if(inputs)
  file(COPY ${inputs} DESTINATION ${WORK})
endif()

# With FOLDER_ARG set, the program runs as `pedseg NAME` from the parent
# folder, which must give exactly the results of a run inside it.
set(command ${PEDSEG})
set(cwd ${WORK})
if(FOLDER_ARG)
  get_filename_component(cwd ${WORK} DIRECTORY)
  get_filename_component(leaf ${WORK} NAME)
  list(APPEND command ${leaf})
endif()

set(ENV{OMP_NUM_THREADS} ${THREADS})
execute_process(COMMAND ${command}
                WORKING_DIRECTORY ${cwd}
                OUTPUT_FILE ${WORK}.console.out
                ERROR_FILE ${WORK}.stderr.out
                RESULT_VARIABLE status)

set(failures "")
file(GLOB expected_files RELATIVE ${CASE}/expected ${CASE}/expected/*)
foreach(name ${expected_files})
  set(want ${CASE}/expected/${name})
  if(name STREQUAL "status")
    file(READ ${want} want_status)
    string(STRIP "${want_status}" want_status)
    if(DEFINED ENV{UPDATE_GOLDEN})
      file(WRITE ${want} "${status}\n")
    elseif(NOT status STREQUAL want_status)
      list(APPEND failures "exit status ${status}, expected ${want_status}")
    endif()
    continue()
  endif()
  if(name STREQUAL "absent")
    file(STRINGS ${want} absent_names)
    foreach(a ${absent_names})
      if(EXISTS ${WORK}/${a})
        list(APPEND failures "${a} exists but must not")
      endif()
    endforeach()
    continue()
  endif()
  if(name STREQUAL "console.txt")
    set(got ${WORK}.console.out)
  elseif(name STREQUAL "stderr.txt")
    set(got ${WORK}.stderr.out)
  else()
    set(got ${WORK}/${name})
  endif()
  if(NOT EXISTS ${got})
    list(APPEND failures "${name} was not written")
    continue()
  endif()
  if(DEFINED ENV{UPDATE_GOLDEN})
    file(COPY_FILE ${got} ${want})
    continue()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${want} ${got}
                  RESULT_VARIABLE differ)
  if(differ)
    execute_process(COMMAND diff ${want} ${got} OUTPUT_VARIABLE d ERROR_QUIET)
    list(APPEND failures "${name} differs:\n${d}")
  endif()
endforeach()

if(failures)
  string(REPLACE ";" "\n" text "${failures}")
  message(FATAL_ERROR "case ${CASE}:\n${text}")
endif()
