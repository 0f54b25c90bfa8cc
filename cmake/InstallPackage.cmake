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
function(kelvard_install_pkgconfig name component)
    kelvard_install_configured(${PROJECT_SOURCE_DIR}/packaging/${name}.pc.in
        ${CMAKE_INSTALL_LIBDIR}/pkgconfig ${component})
endfunction()

# kelvard_install_configured(template folder component): installs the template, without its .in,
# into the folder under the prefix, with @CMAKE_INSTALL_PREFIX@ (and the other folders, the
# version) filled in as they are when installing. A file that names the prefix it is installed
# under (zorvane.pc: prefix=/usr in the package, which pkg-config knows for the system's own; the
# service unit's program) can only be written then: cmake --install --prefix and CPack's /usr
# decide it, not the configuration.
function(kelvard_install_configured template folder component)
    get_filename_component(name ${template} NAME_WLE)
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name}.in)
    configure_file(${template} ${copy} COPYONLY)
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/Install-${name}.cmake @ONLY CONTENT [[
block(PROPAGATE CMAKE_INSTALL_MANIFEST_FILES)
    set(PROJECT_VERSION @PROJECT_VERSION@)
    set(CMAKE_INSTALL_BINDIR @CMAKE_INSTALL_BINDIR@)
    set(CMAKE_INSTALL_LIBDIR @CMAKE_INSTALL_LIBDIR@)
    set(CMAKE_INSTALL_INCLUDEDIR @CMAKE_INSTALL_INCLUDEDIR@)
    set(out "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@folder@/@name@")
    message(STATUS "Installing: ${out}")
    configure_file("@copy@" "${out}" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${out}")
endblock()
]])
    install(SCRIPT ${CMAKE_CURRENT_BINARY_DIR}/Install-${name}.cmake COMPONENT ${component})
endfunction()
