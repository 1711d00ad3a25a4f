# Installs the library, its headers, a CMake package (tarvex::tarvex) and the
# C# and Python bindings; on Linux also a pkg-config file; on Windows the
# .def, a README, and the zip that holds them all.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS tarvex EXPORT tarvexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/tarvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tarvexTargets NAMESPACE tarvex::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarvex)

file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/tarvexTargets.cmake\")\n")
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/tarvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarvex)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tarvexConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tarvexConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarvex)

if(NOT WIN32)
  # Relocatable: the prefix is found from the file's own place, so an install
  # moved or made with --prefix elsewhere still names its own folders.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(_pc_prefix "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH _up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
    set(_pc_prefix "\${pcfiledir}/${_up}")
  endif()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/tarvex.pc
    "prefix=${_pc_prefix}\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n\n"
    "Name: tarvex\nDescription: ${PROJECT_DESCRIPTION}\nVersion: ${PROJECT_VERSION}\n"
    "Libs: -L\${libdir} -ltarvex\nCflags: -I\${includedir}\n")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# The packet structure EA SPORTS WRC sends to the WRC reader (README, "EA
# SPORTS WRC").
install(FILES share/wrc/tarvex.json DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/wrc)

# The bindings, as source: bindings/ in the Windows zip, share/tarvex/bindings
# on Linux.
if(WIN32)
  set(_bindings_dir bindings)
else()
  set(_bindings_dir ${CMAKE_INSTALL_DATADIR}/tarvex/bindings)
endif()
install(DIRECTORY bindings/ DESTINATION ${_bindings_dir} PATTERN "__pycache__" EXCLUDE PATTERN "*.pyc" EXCLUDE)

# The Windows zip a host developer downloads (cmake --build --preset windows
# --target package): the DLL, its import library and .def, the headers, the
# CMake package, both bindings and a short README that lists them.
if(WIN32)
  install(FILES ${TARVEX_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES cmake/zip-readme.txt DESTINATION . RENAME README.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME tarvex)
  set(CPACK_PACKAGE_FILE_NAME tarvex-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
endif()
