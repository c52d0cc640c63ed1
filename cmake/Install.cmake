# What `cmake --install` puts under the prefix: the command line and its man
# page, the embedding library with its header, a CMake package
# (find_package(ferrow CONFIG) gives ferrow::ferrow) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS ferrow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ferrow_embed EXPORT ferrowTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/ferrow/ferrow.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ferrow)
install(FILES ${PROJECT_SOURCE_DIR}/doc/ferrow.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(FERROW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ferrow)
install(EXPORT ferrowTargets NAMESPACE ferrow:: DESTINATION ${FERROW_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ferrowConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ferrowConfig.cmake
                              INSTALL_DESTINATION ${FERROW_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ferrowConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ferrowConfig.cmake ${PROJECT_BINARY_DIR}/ferrowConfigVersion.cmake
        DESTINATION ${FERROW_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so that it holds
# for `cmake --install --prefix` and for a prefix moved after installation.
file(RELATIVE_PATH FERROW_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/ferrow.pc.in ${PROJECT_BINARY_DIR}/ferrow.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ferrow.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
