# tarvexctl formula as a person uses it: a valid formula's response, a
# refused one's reason and exit code, the CSV and SVG outputs.
#   cmake -DTOOL=tarvexctl -DOUT=dir -P this file
function(run expected_rc)
  execute_process(COMMAND ${TOOL} formula ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(FATAL_ERROR "formula ${ARGN}: exit ${rc}, wanted ${expected_rc}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(0 "GAIN(EMALP(VALUE\;10)\;2)" --cycles 12)
# A step of 1 at cycle 10: EMALP(10) gives 0.1, then 0.19, doubled.
if(NOT out MATCHES "valid\n" OR NOT out MATCHES "10 +20.000 +1 +0.2\n" OR NOT out MATCHES "11 +22.000 +1 +0.38\n")
  message(FATAL_ERROR "unexpected response:\n${out}")
endif()

run(1 "GAIN(EMALP(VALUE\;0.5)\;2)")
if(NOT out MATCHES "invalid: EMALP: the smoothing number must be at least 1")
  message(FATAL_ERROR "unexpected reason:\n${out}")
endif()
run(1 "GAIM(VALUE\;2)")
if(NOT out MATCHES "unknown keyword 'GAIM'")
  message(FATAL_ERROR "unexpected reason:\n${out}")
endif()

run(0 "SETVALUE(VALUE\;3)" --input ramp --cycles 3 --csv)
if(NOT out STREQUAL "cycle,time_ms,input,output\n0,0.000,0,3\n1,2.000,0.5,3\n2,4.000,1,3\n")
  message(FATAL_ERROR "unexpected CSV:\n${out}")
endif()

file(REMOVE ${OUT}/formula.svg)
run(0 "SINUS(VALUE\;1\;5)" --input sine --cycles 200 --svg ${OUT}/formula.svg)
file(READ ${OUT}/formula.svg svg)
if(NOT svg MATCHES "^<svg " OR NOT svg MATCHES "</svg>\n$" OR NOT svg MATCHES "<polyline")
  message(FATAL_ERROR "not an SVG plot:\n${svg}")
endif()
run(2 "VALUE" --input square)
