include(CMakePackageConfigHelpers)
include(GNUInstallDirs)

# kelvard_install_package(target Name component): the library's CMake package, made from
# packaging/<Name>Config.cmake.in (find_package(Name) gives Name::target), with its version
# file, and <target>.pc (below), for building against it.
function(kelvard_install_package target name component)
    set(dir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
    install(EXPORT ${name}Targets NAMESPACE ${name}:: DESTINATION ${dir} COMPONENT ${component})
    configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/${name}Config.cmake.in
        ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake INSTALL_DESTINATION ${dir})
    write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
        VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}Config.cmake
                  ${CMAKE_CURRENT_BINARY_DIR}/${name}ConfigVersion.cmake
        DESTINATION ${dir} COMPONENT ${component})
    kelvard_install_pkgconfig(${target} ${component})
endfunction()

# kelvard_install_pkgconfig(name component): installs packaging/<name>.pc.in as <name>.pc.
# The file names the prefix it is installed under as it is (prefix=/usr in the package), so
# pkg-config knows /usr/include and /usr/lib/<triplet> for the system's own and prints neither.
# That prefix is known only when installing (cmake --install --prefix, CPack's /usr): the file
# is written then.
function(kelvard_install_pkgconfig name component)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/${name}.pc.in
        ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc.in COPYONLY)
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/Install-${name}-pc.cmake @ONLY CONTENT [[
block(PROPAGATE CMAKE_INSTALL_MANIFEST_FILES)
    set(PROJECT_VERSION @PROJECT_VERSION@)
    set(CMAKE_INSTALL_LIBDIR @CMAKE_INSTALL_LIBDIR@)
    set(CMAKE_INSTALL_INCLUDEDIR @CMAKE_INSTALL_INCLUDEDIR@)
    set(pc "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/@name@.pc")
    message(STATUS "Installing: ${pc}")
    configure_file("@CMAKE_CURRENT_BINARY_DIR@/@name@.pc.in" "${pc}" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${pc}")
endblock()
]])
    install(SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/Install-${name}-pc.cmake COMPONENT ${component})
endfunction()
