# Runs one script test: cmake -DPELLAR=... -DSCRIPT=.../NAME.vbs
#   -DWORK_DIR=... -P run_script_test.cmake
# The script is copied into an empty WORK_DIR and run there as "NAME.vbs",
# so files it writes stay in the build tree and the file name in error
# messages does not depend on where the source tree is.
#
# NAME.args, when present, holds the command line arguments to use instead
# of "run NAME.vbs", one per line; the script is standard input either way,
# so "run -" reads it from there.
#
# NAME.ulimit, when present, holds the address-space limit of the run in
# KiB (as ulimit -v takes it), unless -DADDRESS_LIMITS=OFF: sanitized
# builds reserve far more address space than such a limit allows.
#
# "[[COUNT|TEXT]]" in a script stands for TEXT written COUNT times, so that
# huge scripts are made when the test runs instead of kept in the tree.
cmake_minimum_required(VERSION 3.25)

foreach(var PELLAR SCRIPT WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_script_test.cmake: ${var} is not set")
  endif()
endforeach()

get_filename_component(name "${SCRIPT}" NAME_WLE)
get_filename_component(dir "${SCRIPT}" DIRECTORY)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(READ "${SCRIPT}" expanded)
while(expanded MATCHES "\\[\\[([0-9]+)\\|([^]]*)\\]\\]")
  string(REPEAT "${CMAKE_MATCH_2}" ${CMAKE_MATCH_1} repeated)
  string(REPLACE "${CMAKE_MATCH_0}" "${repeated}" expanded "${expanded}")
endwhile()
file(WRITE "${WORK_DIR}/${name}.vbs" "${expanded}")

set(args run "${name}.vbs")
if(EXISTS "${dir}/${name}.args")
  file(STRINGS "${dir}/${name}.args" args)
endif()
set(limit "")
if(EXISTS "${dir}/${name}.ulimit" AND NOT ADDRESS_LIMITS STREQUAL "OFF")
  file(STRINGS "${dir}/${name}.ulimit" kib)
  set(limit sh -c "ulimit -v ${kib} && exec \"$@\"" sh)
endif()

execute_process(
  COMMAND ${limit} "${PELLAR}" ${args}
  WORKING_DIRECTORY "${WORK_DIR}"
  INPUT_FILE "${WORK_DIR}/${name}.vbs"
  OUTPUT_VARIABLE actual_out
  ERROR_VARIABLE actual_err
  RESULT_VARIABLE actual_rc)

set(expected_out "")
set(expected_err "")
set(expected_rc 0)
if(EXISTS "${dir}/${name}.out")
  file(READ "${dir}/${name}.out" expected_out)
else()
  message(FATAL_ERROR "missing ${dir}/${name}.out")
endif()
if(EXISTS "${dir}/${name}.err")
  file(READ "${dir}/${name}.err" expected_err)
endif()
if(EXISTS "${dir}/${name}.rc")
  file(READ "${dir}/${name}.rc" expected_rc)
  string(STRIP "${expected_rc}" expected_rc)
endif()

# The conventions that let the same scripts run under the Windows script
# host, which exits silently on errors and lacks ChrW output: a script that
# should succeed ends with the sentinel line, and one using ChrW says it is
# native-only on its first line (after a byte order mark, if any).
file(READ "${SCRIPT}" source)
string(FIND "${source}" "' native-only" marker)
string(TOLOWER "${source}" lower_source)
string(FIND "${lower_source}" "chrw(" chrw)
if(NOT chrw EQUAL -1 AND NOT marker EQUAL 0 AND NOT marker EQUAL 3)
  message(FATAL_ERROR "${name}.vbs uses ChrW: its first line must be "
                      "' native-only")
endif()
string(STRIP "${source}" stripped_source)
if(expected_rc STREQUAL "0" AND
   NOT stripped_source MATCHES "\nWScript\.Echo \"done\"$")
  message(FATAL_ERROR "${name}.vbs must end with the line "
                      "WScript.Echo \"done\"")
endif()

# Leaves the actual output beside the script for a closer look.
file(WRITE "${WORK_DIR}/actual.out" "${actual_out}")
file(WRITE "${WORK_DIR}/actual.err" "${actual_err}")

# Reports the first line where `expected` and `actual` differ, with line
# ends made visible.
function(describe_difference what expected actual)
  set(line 1)
  while(TRUE)
    string(FIND "${expected}" "\n" e_end)
    string(FIND "${actual}" "\n" a_end)
    if(e_end EQUAL -1)
      set(e_line "${expected}")
      set(e_rest "")
    else()
      math(EXPR e_next "${e_end} + 1")
      string(SUBSTRING "${expected}" 0 ${e_next} e_line)
      string(SUBSTRING "${expected}" ${e_next} -1 e_rest)
    endif()
    if(a_end EQUAL -1)
      set(a_line "${actual}")
      set(a_rest "")
    else()
      math(EXPR a_next "${a_end} + 1")
      string(SUBSTRING "${actual}" 0 ${a_next} a_line)
      string(SUBSTRING "${actual}" ${a_next} -1 a_rest)
    endif()
    if(NOT e_line STREQUAL a_line)
      foreach(side e_line a_line)
        string(REPLACE "\r" "\\r" ${side} "${${side}}")
        string(REPLACE "\n" "\\n" ${side} "${${side}}")
        if("${${side}}" STREQUAL "")
          set(${side} "<end of output>")
        endif()
      endforeach()
      message("${what} differs at line ${line}:\n"
              "  expected: ${e_line}\n"
              "  actual:   ${a_line}")
      return()
    endif()
    set(expected "${e_rest}")
    set(actual "${a_rest}")
    math(EXPR line "${line} + 1")
  endwhile()
endfunction()

set(failed FALSE)
if(NOT actual_out STREQUAL expected_out)
  describe_difference("standard output" "${expected_out}" "${actual_out}")
  message("--- expected standard output ---\n${expected_out}"
          "--- actual standard output ---\n${actual_out}--- end ---")
  set(failed TRUE)
endif()
if(NOT actual_err STREQUAL expected_err)
  describe_difference("standard error" "${expected_err}" "${actual_err}")
  message("--- expected standard error ---\n${expected_err}"
          "--- actual standard error ---\n${actual_err}--- end ---")
  set(failed TRUE)
endif()
if(NOT actual_rc STREQUAL expected_rc)
  message("exit code: expected ${expected_rc}, actual ${actual_rc}")
  set(failed TRUE)
endif()
if(failed)
  message(FATAL_ERROR "script test ${name} failed")
endif()
