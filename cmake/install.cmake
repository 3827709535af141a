# Installs the library for C++ programs: the shared library, its headers and a CMake package, so
# that `find_package(tavrelo)` and `target_link_libraries(app PRIVATE tavrelo::tavrelo)` work.
include(CMakePackageConfigHelpers)

install(TARGETS tavrelo EXPORT tavreloTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
get_property(headers GLOBAL PROPERTY TAVRELO_HEADERS)
foreach(header ${headers} tavrelo.hpp)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavrelo/${dir})
endforeach()

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tavrelo)
install(EXPORT tavreloTargets NAMESPACE tavrelo:: DESTINATION ${config_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tavreloConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tavreloConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tavreloConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavreloConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/tavreloConfigVersion.cmake DESTINATION ${config_dir})
