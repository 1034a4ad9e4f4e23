# Install rules and the Debian package. The program goes to bin/, its port helper to
# libexec/stbmate/ (helper/CMakeLists.txt), its default settings file to share/stbmate/ (where
# the program looks for it, relative to itself), and the desktop integration to the places the
# freedesktop.org specifications name.
include(GNUInstallDirs)

set(_dist ${PROJECT_SOURCE_DIR}/dist)
install(TARGETS stbmate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/app/stbmate.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/stbmate)
install(FILES ${_dist}/stbmate.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_dist}/stbmate.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${_dist}/stbmate.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME org.stbmate.stbmate.metainfo.xml)

# Debian wants the changelog of a native package (no Debian revision) as changelog.gz,
# compressed without a timestamp so the package is reproducible.
set(_changelog ${CMAKE_BINARY_DIR}/changelog.gz)
execute_process(COMMAND gzip -9n -c ${_dist}/changelog OUTPUT_FILE ${_changelog}
                COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_dist}/changelog)
install(FILES ${_dist}/copyright ${_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The manual page, compressed the same way.
set(_manpage ${CMAKE_BINARY_DIR}/stbmate.1.gz)
execute_process(COMMAND gzip -9n -c ${_dist}/stbmate.1 OUTPUT_FILE ${_manpage}
                COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_dist}/stbmate.1)
install(FILES ${_manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stbmate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "stbmate developers <stbmate@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up and rescue a satellite receiver")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "stbmate talks to a satellite receiver over its serial console and the\n"
       "home network. It shows the console live in a VT100 terminal, checks both\n"
       "links, keeps a dated session log and sets the receiver's fixed IP address.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the binary really links (dpkg-shlibdeps), never a hand list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# German standard dialogs and the console font are loaded at run time, not linked; setcap
# gives the port helper its capability at install, the system's ping sends the echo where
# ICMP sockets are closed to the user.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-translations-l10n, fonts-dejavu-core, libcap2-bin, iputils-ping")
# postinst grants cap_net_bind_service to the port helper only (dpkg keeps no capabilities).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_dist}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
