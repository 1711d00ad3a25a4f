# expect_exit(RC COMMAND...): runs the command, fails the script unless it
# exits with RC; leaves its standard output and error in `out` and `err`.
function(expect_exit expected_rc)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "${ARGN}: exit ${rc}, wanted ${expected_rc}\n--- stdout\n${out}--- stderr\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()
