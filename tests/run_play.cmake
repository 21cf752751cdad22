# Runs one key script with the options every end-to-end test uses and compares the
# exit status with the one the script names on a line "# status: N".
# Called as: cmake -DKORAX=... -DSCRIPT=... -DSHOTS=... -P run_play.cmake
foreach(var KORAX SCRIPT SHOTS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_play.cmake needs -D${var}=...")
  endif()
endforeach()

set(expected 0)
file(STRINGS ${SCRIPT} status_lines REGEX "^#[ \t]*status:[ \t]*[0-9]+[ \t\r]*$")
if(status_lines)
  list(GET status_lines 0 status_line)
  string(REGEX REPLACE "^#[ \t]*status:[ \t]*([0-9]+).*$" "\\1" expected "${status_line}")
endif()

# Files a script writes and names on lines "# clean: PATH" (relative to the
# repository root) are removed first, so that every run meets the same folder.
file(STRINGS ${SCRIPT} clean_lines REGEX "^#[ \t]*clean:" ENCODING UTF-8)
# Removes the files named on the "# clean:" lines: before a run, and again once it passed.
macro(clean_up)
  foreach(line ${clean_lines})
    string(REGEX REPLACE "^#[ \t]*clean:[ \t]*(.*[^ \t\r])[ \t\r]*$" "\\1" path "${line}")
    file(GLOB doomed ${CMAKE_CURRENT_LIST_DIR}/../${path})
    if(doomed)
      file(REMOVE ${doomed})
    endif()
  endforeach()
endmacro()
clean_up()

# Files a script works on in a folder of its own, "# fixture: FILE FOLDER" (both
# relative to the repository root): the folder is made afresh with copies of
# the files before the run and removed once the run passed, so that what the
# program writes beside them never lands among the sources.
file(STRINGS ${SCRIPT} fixture_lines REGEX "^#[ \t]*fixture:" ENCODING UTF-8)
set(fixture_folders "")
foreach(line ${fixture_lines})
  string(REGEX REPLACE "^#[ \t]*fixture:[ \t]*([^ \t]+)[ \t]+(.*[^ \t\r])[ \t\r]*$" "\\2" folder "${line}")
  list(APPEND fixture_folders ${CMAKE_CURRENT_LIST_DIR}/../${folder})
endforeach()
list(REMOVE_DUPLICATES fixture_folders)
foreach(folder ${fixture_folders})
  file(REMOVE_RECURSE ${folder})
  file(MAKE_DIRECTORY ${folder})
endforeach()
foreach(line ${fixture_lines})
  string(REGEX REPLACE "^#[ \t]*fixture:[ \t]*([^ \t]+)[ \t]+(.*[^ \t\r])[ \t\r]*$" "\\1;\\2" pair "${line}")
  list(GET pair 0 source)
  list(GET pair 1 folder)
  file(COPY ${CMAKE_CURRENT_LIST_DIR}/../${source} DESTINATION ${CMAKE_CURRENT_LIST_DIR}/../${folder})
endforeach()

# Pictures of an earlier run must not pass for this one's.
file(REMOVE_RECURSE ${SHOTS})
file(MAKE_DIRECTORY ${SHOTS})

# A bound on the peak memory, "# peak-memory-mb: N", is checked where GNU time
# is given to measure it.
set(limit_mb "")
file(STRINGS ${SCRIPT} memory_lines REGEX "^#[ \t]*peak-memory-mb:[ \t]*[0-9]+")
if(memory_lines AND DEFINED TIME)
  list(GET memory_lines 0 memory_line)
  string(REGEX REPLACE "^#[ \t]*peak-memory-mb:[ \t]*([0-9]+).*$" "\\1" limit_mb "${memory_line}")
  set(measure ${TIME} -f %M -o ${SHOTS}/peak-kb.txt)
endif()

# The settings a run keeps go to the script's own folder, which starts empty.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env XDG_STATE_HOME=${SHOTS}/state ${measure} ${KORAX} --play ${SCRIPT} --shots ${SHOTS} --seed 1 --config none
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)


if(NOT "${status}" STREQUAL "${expected}")
  message("${out}")
  message("${err}")
  message(FATAL_ERROR "${SCRIPT}: exit status ${status}, expected ${expected}")
endif()

# Files the run must have left, named on lines "# exists: PATH" (relative to the
# repository root, UTF-8 as typed in the script).
file(STRINGS ${SCRIPT} exists_lines REGEX "^#[ \t]*exists:" ENCODING UTF-8)
foreach(line ${exists_lines})
  string(REGEX REPLACE "^#[ \t]*exists:[ \t]*(.*[^ \t\r])[ \t\r]*$" "\\1" path "${line}")
  if(NOT EXISTS ${CMAKE_CURRENT_LIST_DIR}/../${path})
    message("${err}")
    message(FATAL_ERROR "${SCRIPT}: the run did not leave ${path}")
  endif()
endforeach()
# Files the run must have written byte for byte as expected, "# same: PATH
# EXPECTED" (both relative to the repository root).
file(STRINGS ${SCRIPT} same_lines REGEX "^#[ \t]*same:" ENCODING UTF-8)
foreach(line ${same_lines})
  string(REGEX REPLACE "^#[ \t]*same:[ \t]*([^ \t]+)[ \t]+(.*[^ \t\r])[ \t\r]*$" "\\1;\\2" pair "${line}")
  list(GET pair 0 written)
  list(GET pair 1 expected_file)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    ${CMAKE_CURRENT_LIST_DIR}/../${written} ${CMAKE_CURRENT_LIST_DIR}/../${expected_file}
    RESULT_VARIABLE differ)
  if(differ)
    message("${err}")
    message(FATAL_ERROR "${SCRIPT}: ${written} is not as ${expected_file}")
  endif()
endforeach()
if(NOT limit_mb STREQUAL "")
  file(STRINGS ${SHOTS}/peak-kb.txt peak_lines REGEX "^[0-9]+$")
  list(GET peak_lines -1 peak_kb)
  math(EXPR peak_mb "${peak_kb} / 1024")
  if(peak_mb GREATER limit_mb)
    message(FATAL_ERROR "${SCRIPT}: peak memory ${peak_mb} MB, more than ${limit_mb} MB")
  endif()
  message(STATUS "${SCRIPT}: peak memory ${peak_mb} MB (at most ${limit_mb} MB)")
endif()
clean_up()
foreach(folder ${fixture_folders})
  file(REMOVE_RECURSE ${folder})
endforeach()
message(STATUS "${SCRIPT}: exit status ${status} as expected")
