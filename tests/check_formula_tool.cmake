# tarvexctl formula as a person uses it: a valid formula's response, a
# refused one's reason and exit code, the CSV and SVG outputs.
#   cmake -DTOOL=tarvexctl -DOUT=dir -P this file
include(${CMAKE_CURRENT_LIST_DIR}/expect_exit.cmake)

# A step of 1 at cycle 10: EMALP(10) gives 0.1, then 0.19, doubled.
expect_exit(0 ${TOOL} formula "GAIN(EMALP(VALUE\;10)\;2)" --cycles 12)
if(NOT out MATCHES "valid\n" OR NOT out MATCHES "10 +20.000 +1 +0.2\n" OR NOT out MATCHES "11 +22.000 +1 +0.38\n")
  message(FATAL_ERROR "unexpected response:\n${out}")
endif()

expect_exit(1 ${TOOL} formula "GAIN(EMALP(VALUE\;0.5)\;2)")
if(NOT out MATCHES "invalid: EMALP: the smoothing number must be at least 1")
  message(FATAL_ERROR "unexpected reason:\n${out}")
endif()
expect_exit(1 ${TOOL} formula "GAIM(VALUE\;2)")
if(NOT out MATCHES "unknown keyword 'GAIM'")
  message(FATAL_ERROR "unexpected reason:\n${out}")
endif()

expect_exit(0 ${TOOL} formula "SETVALUE(VALUE\;3)" --input ramp --cycles 3 --csv)
if(NOT out STREQUAL "cycle,time_ms,input,output\n0,0.000,0,3\n1,2.000,0.5,3\n2,4.000,1,3\n")
  message(FATAL_ERROR "unexpected CSV:\n${out}")
endif()

file(REMOVE ${OUT}/formula.svg)
expect_exit(0 ${TOOL} formula "SINUS(VALUE\;1\;5)" --input sine --cycles 200 --svg ${OUT}/formula.svg)
file(READ ${OUT}/formula.svg svg)
if(NOT svg MATCHES "^<svg " OR NOT svg MATCHES "</svg>\n$" OR NOT svg MATCHES "<polyline")
  message(FATAL_ERROR "not an SVG plot:\n${svg}")
endif()
