# The Debian package (cpack -G DEB, see scripts/package): the runnable folder of dist/ under
# /opt/tamrix-rest-server with a config.ini of its own, the systemd unit and the maintainer
# scripts of deploy/debian.

set(TAMRIX_PACOTE_MANTENEDOR "Equipe TAMRIX <suporte@tamrix.com.br>"
    CACHE STRING "Maintainer field of the Debian package")

# cpack installs what scripts/package built (the two executables) instead of building every
# target (tests, benchmarks) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(_pasta opt/tamrix-rest-server)
set(_doc usr/share/doc/tamrix-rest-server)
set(_deploy ${CMAKE_SOURCE_DIR}/deploy)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

foreach(t tamrix-rest-server tamrix-dataset)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${_pasta})
  endif()
endforeach()
foreach(d templates js proxy)
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/share/${d})
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/share/${d} DESTINATION ${_pasta})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/share/config.ini.example ${_deploy}/config.ini
        DESTINATION ${_pasta})
install(FILES ${_deploy}/systemd/tamrix-rest-server.service DESTINATION lib/systemd/system)
install(FILES ${_deploy}/debian/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME tamrix-rest-server)

# Debian wants the copyright file and a gzip -9n changelog (no name, no time in the header).
string(TIMESTAMP TAMRIX_PACOTE_DATA "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${_deploy}/debian/changelog.in ${CMAKE_BINARY_DIR}/pacote/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/pacote/changelog COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${_deploy}/debian/copyright ${CMAKE_BINARY_DIR}/pacote/changelog.gz
        DESTINATION ${_doc})

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE _arquitetura
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT _arquitetura)
  set(_arquitetura amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamrix-rest-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TAMRIX_PACOTE_MANTENEDOR})
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_arquitetura})
set(CPACK_DEBIAN_FILE_NAME tamrix-rest-server_${PROJECT_VERSION}_${_arquitetura}.deb)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "multi-tenant REST server of the TAMRIX ERP\nServes point-of-sale terminals, client applications and browser pages of\nthe TAMRIX ERP over HTTP: logins, ERP data read from each company's SQL\nServer database (through unixODBC and FreeTDS) and the stores' daily sales\nfiles. Runs headless as the systemd service tamrix-rest-server, with\nhealth checks and Prometheus metrics on an administration port.")
# The libraries the executables link come from dpkg-shlibdeps; the ODBC drivers are loaded
# at run time by name (odbcinst.ini), so they are named here with the driver manager.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, tdsodbc, odbc-postgresql, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${_deploy}/debian/conffiles ${_deploy}/debian/postinst ${_deploy}/debian/prerm
    ${_deploy}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
