# Installs the built library into a temporary prefix, moves that prefix
# elsewhere (nothing may remember where it was made), and builds and runs a
# small C host against it twice: through pkg-config and through
# find_package(tarvex).
#   cmake -DBUILD=dir -DCONSUMER=dir -DWORK=dir -DCC=compiler -DGENERATOR=... -P this file
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nexit ${rc}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
step(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/made-here)
file(RENAME ${WORK}/made-here ${WORK}/moved)
file(REAL_PATH ${WORK}/moved prefix)
file(GLOB_RECURSE pc ${prefix}/*/tarvex.pc)
get_filename_component(pcdir "${pc}" DIRECTORY)
get_filename_component(libdir "${pcdir}" DIRECTORY)
file(GLOB bindings ${prefix}/share/tarvex/bindings/csharp/Tarvex.cs ${prefix}/share/tarvex/bindings/python/tarvex/__init__.py)
list(LENGTH bindings n)
if(NOT pc OR NOT n EQUAL 2)
  message(FATAL_ERROR "the install lacks tarvex.pc or a binding: '${pc}' ${bindings}")
endif()

# pkg-config
set(ENV{PKG_CONFIG_PATH} ${pcdir})
step(pkg-config --cflags --libs tarvex)
string(STRIP "${out}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
foreach(flag IN LISTS flags)
  if(flag MATCHES "^-[IL](.*)")
    file(REAL_PATH "${CMAKE_MATCH_1}" folder)
    if(NOT folder STREQUAL "${prefix}/include" AND NOT folder STREQUAL "${libdir}")
      message(FATAL_ERROR "pkg-config names a folder outside the moved prefix: ${flag}")
    endif()
  endif()
endforeach()
step(${CC} ${CONSUMER}/consumer.c ${flags} -o ${WORK}/consumer-pc)
set(ENV{LD_LIBRARY_PATH} ${libdir})
step(${WORK}/consumer-pc)

# find_package(tarvex)
step(${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK}/consumer-build -G ${GENERATOR}
     -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${CC})
step(${CMAKE_COMMAND} --build ${WORK}/consumer-build)
step(${WORK}/consumer-build/consumer)
message(STATUS "consumer: ${out}")
