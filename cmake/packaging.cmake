# The man page and the Debian package (cpack -G DEB, see tools/package.sh).
# Included at the end of the top-level CMakeLists.txt, after every install rule.
include_guard(GLOBAL)
include(GNUInstallDirs)

# Configures docs/vantor-comm.1.in with the project's version and installs it
# gzipped, as Debian keeps its man pages (CPack does not compress them).
function(vantor_install_man_page)
  find_program(VANTOR_GZIP gzip REQUIRED)
  set(page ${PROJECT_BINARY_DIR}/vantor-comm.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/vantor-comm.1.in ${page} @ONLY)
  # -n: no name or time stamp inside, so the same page gives the same bytes.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${VANTOR_GZIP} -9nkf ${page}
    DEPENDS ${page}
    COMMENT "Compressing the man page vantor-comm.1"
    VERBATIM)
  add_custom_target(vantor_man_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

if(NOT TARGET vantor_man_page)
  vantor_install_man_page()
  # The station as a systemd service, installed but not enabled.
  configure_file(${PROJECT_SOURCE_DIR}/docs/vantor-comm-station.service.in
                 ${PROJECT_BINARY_DIR}/vantor-comm-station.service @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/vantor-comm-station.service
          DESTINATION lib/systemd/system)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor-comm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantor Comm developers")
set(CPACK_PACKAGE_CONTACT "Vantor Comm developers <vantor-comm@localhost>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
"Vantor Comm downloads the readings that a hand-held measuring meter has
logged over an RS-232 line (9600 baud, 8N1). It cuts the meter's stream into
frames, decodes each into a time stamp or a reading (value, unit, channel)
and writes one line per frame to a text data file, while a status panel
shows the progress.

This package holds the command-line program vantor-comm (with its man page),
the desktop program vantor-comm-gui, the Qt Designer plugin of the control's
widget, and the libraries, headers, CMake package files and pkg-config file
for building a host program that embeds the control.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Building against the installed library needs Qt's development files.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-base-dev, qt6-serialport-dev")
# Depends: worked out from the binaries by dpkg-shlibdeps (dpkg-dev), and
# Qt SQL's drivers, plugins that shlibdeps cannot see: the station's index
# needs SQLite's; a site's PostgreSQL database needs the other. The Python
# package vantor_comm runs on the system's python3.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debian ships binaries without debug info; the build tree keeps it.
set(CPACK_STRIP_FILES ON)

# The package installs where the build was configured to: the pkg-config and
# CMake package files name that prefix, and GNUInstallDirs picks the multiarch
# libdir only for /usr. DESTDIR keeps absolute install destinations (such as
# Qt's plugin folder) inside the package instead of on this machine.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_SET_DESTDIR ON)

include(CPack)
