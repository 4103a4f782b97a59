# The installed layout and the Debian package (scripts/package.sh).
# Installed, the program is called rq905, as Linux users type it; the build
# tree keeps W_RQ905.
set(rq905_programs rq905ctl rq905-sim)
if(TARGET rq905-gateway)
    list(APPEND rq905_programs rq905-gateway)
endif()
install(TARGETS ${rq905_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET W_RQ905)
    install(TARGETS W_RQ905 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(CODE "file(RENAME \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/W_RQ905\"
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/rq905\")")
endif()

# The drivers are loaded by bare name through the executables' run path and
# need none of their own.
set_target_properties(${RQ905_DRIVERS} PROPERTIES INSTALL_RPATH "")
install(TARGETS ${RQ905_DRIVERS}
        LIBRARY DESTINATION ${RQ905_INSTALL_DRIVER_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The 32-bit driver host, when the cross compiler made it, beside the drivers
# whose calls it serves.
if(TARGET rq905-drvhost)
    install(PROGRAMS ${RQ905_BIN_DIR}/rq905-drvhost.exe DESTINATION ${RQ905_INSTALL_DRIVER_DIR})
endif()

install(FILES data/rq905.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/rq905.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Dates of the release are the build's, or SOURCE_DATE_EPOCH when set.
string(TIMESTAMP rq905_release_date "%Y-%m-%d" UTC)
string(TIMESTAMP rq905_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(RQ905_MAN_DATE ${rq905_release_date})
configure_file(data/cz.rq905.rq905.metainfo.xml.in ${CMAKE_CURRENT_BINARY_DIR}/cz.rq905.rq905.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cz.rq905.rq905.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages and the changelog go compressed, without a time stamp in the
# gzip header, so that two builds give the same package.
find_program(RQ905_GZIP gzip REQUIRED)
set(rq905_gz_files)
set(rq905_man_pages rq905 rq905ctl rq905-sim)
if(TARGET rq905-gateway)
    list(APPEND rq905_man_pages rq905-gateway)
endif()
foreach(page ${rq905_man_pages})
    set(man ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
    configure_file(data/man/${page}.1.in ${man} @ONLY)
    add_custom_command(OUTPUT ${man}.gz
        COMMAND ${RQ905_GZIP} -9nc ${man} > ${man}.gz
        DEPENDS ${man} VERBATIM)
    set(gz ${man}.gz)
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND rq905_gz_files ${gz})
endforeach()

# The changelog of a native package.
configure_file(data/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog @ONLY)
set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
    COMMAND ${RQ905_GZIP} -9nc ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog > ${changelog_gz}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/doc/changelog VERBATIM)
list(APPEND rq905_gz_files ${changelog_gz})
add_custom_target(rq905_install_data ALL DEPENDS ${rq905_gz_files})

set(rq905_docdir ${CMAKE_INSTALL_DATADIR}/doc/rq905)
install(FILES ${changelog_gz} data/copyright README.md DESTINATION ${rq905_docdir})
install(DIRECTORY docs/ DESTINATION ${rq905_docdir}/docs FILES_MATCHING PATTERN "*.md")

# The gateway's service, disabled as installed (nothing enables it), and
# its commented configuration file, kept as a conffile over upgrades.
if(TARGET rq905-gateway)
    set(RQ905_GATEWAY_BIN ${CMAKE_INSTALL_FULL_BINDIR}/rq905-gateway)
    set(RQ905_GATEWAY_CONF ${CMAKE_INSTALL_FULL_SYSCONFDIR}/rq905/gateway.conf)
    configure_file(data/gateway/rq905-gateway.service.in ${CMAKE_CURRENT_BINARY_DIR}/rq905-gateway.service @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rq905-gateway.service DESTINATION lib/systemd/system)
    install(FILES data/gateway/gateway.conf DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/rq905)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles "${RQ905_GATEWAY_CONF}\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rq905)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "RQ-905 project")
set(CPACK_PACKAGE_CONTACT "RQ-905 project <rq905@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the RQ-905 addressable I/O module")
# The summary above is the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Configures the RQ-905 module (bus address, line speed, input and output
negation, PWM output) and watches its inputs and status register, through a
COM port, the PCI-318, PCI-1318 and USB-1318 cards or the RQ-1318 LAN
converter. The package holds the program with its Czech window (rq905), the
command-line tool rq905ctl, the module simulator rq905-sim, and the
gateway rq905-gateway that serves modules over Modbus TCP and exports
their health to Prometheus.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the libraries actually linked; the window icon is PNGs
# in the program's resources and needs no SVG plug-in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
