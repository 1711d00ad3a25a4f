# Installs the built library into a temporary prefix, moves that prefix
# elsewhere (nothing may remember where it was made), and builds and runs a
# small C host against it twice: through pkg-config and through
# find_package(tarvex).
#   cmake -DBUILD=dir -DCONSUMER=dir -DWORK=dir -DCC=compiler -DGENERATOR=... -P this file
include(${CMAKE_CURRENT_LIST_DIR}/expect_exit.cmake)

file(REMOVE_RECURSE ${WORK})
expect_exit(0 ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/made-here)
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
expect_exit(0 pkg-config --cflags --libs tarvex)
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
expect_exit(0 ${CC} ${CONSUMER}/consumer.c ${flags} -o ${WORK}/consumer-pc)
set(ENV{LD_LIBRARY_PATH} ${libdir})
expect_exit(0 ${WORK}/consumer-pc)

# find_package(tarvex)
expect_exit(0 ${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK}/consumer-build -G ${GENERATOR}
            -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${CC})
expect_exit(0 ${CMAKE_COMMAND} --build ${WORK}/consumer-build)
expect_exit(0 ${WORK}/consumer-build/consumer)
