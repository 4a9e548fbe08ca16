# Installs the kit (bin/qvrev, bin/qvctl, sys/strings, qvctl's bash completion), the library, its
# headers and the CMake package.
include(CMakePackageConfigHelpers)

install(TARGETS qvframework EXPORT qvframeworkTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qvframework)
install(TARGETS qvrev qvctl RUNTIME DESTINATION bin)
install(DIRECTORY ${QV_KIT_STRINGS_DIR}/ DESTINATION sys/strings)
install(FILES ${QV_KIT_DIR}/share/bash-completion/completions/qvctl DESTINATION share/bash-completion/completions)
# qvctl's application is not in the library, so neither is its header.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/src/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qvframework
        FILES_MATCHING PATTERN "*.h" PATTERN "adcCtlApp.h" EXCLUDE)
install(DIRECTORY ${QV_GENERATED_INCLUDE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qvframework
        FILES_MATCHING PATTERN "*.h")

set(QV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qvframework)
install(EXPORT qvframeworkTargets NAMESPACE qvframework:: DESTINATION ${QV_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qvframeworkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qvframeworkConfig.cmake INSTALL_DESTINATION ${QV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qvframeworkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qvframeworkConfig.cmake
              ${CMAKE_BINARY_DIR}/qvframeworkConfigVersion.cmake DESTINATION ${QV_CMAKE_DIR})

# The way from the installed .pc file's folder back to the prefix ("../.." for lib/pkgconfig).
file(RELATIVE_PATH QV_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_SOURCE_DIR}/cmake/qvframework.pc.in ${CMAKE_BINARY_DIR}/qvframework.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qvframework.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
