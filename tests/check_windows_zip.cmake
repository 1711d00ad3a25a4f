# The Windows zip as a host developer downloads it: made by CPack from the
# windows build, it holds every file its README.txt lists, and the README
# lists everything in it but the CMake package's generated companions. A C
# host built with MinGW against the zip's header and import library runs
# under Wine with the zip's DLL.
#   cmake -DBUILD=dir -DWORK=dir -DCC=compiler -DCONSUMER=dir -DEMULATOR=wine-run;prefix -P this file
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/expect_exit.cmake)
file(REMOVE_RECURSE ${WORK})
expect_exit(0 ${CMAKE_CPACK_COMMAND} --config ${BUILD}/CPackConfig.cmake -B ${WORK})
file(GLOB zip ${WORK}/tarvex-*-win64.zip)
file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${WORK}/unpacked)
file(GLOB top ${WORK}/unpacked/tarvex-*-win64)
if(NOT EXISTS ${top}/README.txt)
  message(FATAL_ERROR "${zip} has no README.txt in its top folder")
endif()

file(STRINGS ${top}/README.txt rows REGEX "^  [a-z]+/[^ ]+ ")
set(listed "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "^  ([^ ]+)" _ "${row}")
  list(APPEND listed ${CMAKE_MATCH_1})
  if(NOT EXISTS ${top}/${CMAKE_MATCH_1})
    message(FATAL_ERROR "README.txt lists ${CMAKE_MATCH_1}; the zip lacks it")
  endif()
endforeach()
file(GLOB_RECURSE files RELATIVE ${top} ${top}/*)
foreach(f IN LISTS files)
  if(NOT f IN_LIST listed AND NOT f STREQUAL "README.txt" AND NOT f MATCHES "^lib/cmake/tarvex/tarvex[A-Za-z-]*\\.cmake$")
    message(FATAL_ERROR "the zip holds ${f}, which README.txt does not list")
  endif()
endforeach()
expect_exit(0 ${CC} ${CONSUMER}/consumer.c -I${top}/include ${top}/lib/tarvex.lib -o ${top}/bin/consumer.exe)
expect_exit(0 ${EMULATOR} ${top}/bin/consumer.exe)
