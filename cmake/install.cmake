# Installs the library, its header and a CMake package (tarvex::tarvex);
# on Linux also a pkg-config file.
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
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/tarvex.pc
    "prefix=${CMAKE_INSTALL_PREFIX}\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n\n"
    "Name: tarvex\nDescription: ${PROJECT_DESCRIPTION}\nVersion: ${PROJECT_VERSION}\n"
    "Libs: -L\${libdir} -ltarvex\nCflags: -I\${includedir}\n")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# The packet structure EA SPORTS WRC sends to the WRC reader (README, "EA
# SPORTS WRC").
install(FILES share/wrc/tarvex.json DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvex/wrc)
