# Packages, made with CPack from the build folder's install rules:
#   Linux:   two Debian packages (cpack -G DEB), into /usr, one for each
#            install component:
#              tarnwick-cli_<version>_<arch>.deb  (component cli): tarnwick-cli,
#                tarnwick-device and tarnwick-pack, with their manual pages and
#                the README; nothing of Qt, for stations without a display;
#              tarnwick_<version>_<arch>.deb      (component desktop): the
#                dialog tarnwick and tarnwick-demo, their manual pages, the
#                desktop entry, the icons and the AppStream metadata; it
#                depends on tarnwick-cli of the same version;
#   Windows: tarnwick-<version>-win32.zip or -win64.zip (cpack -G ZIP), every
#            component in one archive: the programs, the README and a note on
#            COM ports in one folder.
# scripts/package.sh builds them into build/packages/. The version is the
# project's, as for --version and the Windows version resource.
set(TARNWICK_PACKAGE_MAINTAINER "The Tarnwick developers <developers@tarnwick.org>"
    CACHE STRING "Maintainer named in the Debian packages and their changelogs")

set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "The Tarnwick developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-win32)
  endif()
  # The archive's own texts, for Windows users, with Windows line ends for the
  # plainest of editors.
  set(windows_docs ${PROJECT_BINARY_DIR}/packaging)
  foreach(pair packaging/windows/README.txt:README.txt packaging/windows/COM-PORTS.txt:COM-PORTS.txt)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 source)
    list(GET pair 1 name)
    file(READ ${PROJECT_SOURCE_DIR}/${source} text)
    file(CONFIGURE OUTPUT ${windows_docs}/${name} CONTENT "${text}" @ONLY NEWLINE_STYLE CRLF)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
  endforeach()
  install(FILES ${windows_docs}/README.txt ${windows_docs}/COM-PORTS.txt DESTINATION . COMPONENT cli)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # A package for each component; the archives above stay whole.
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARNWICK_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SOURCE tarnwick)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies from the programs' shared libraries (dpkg-shlibdeps), for
  # each package from its own programs: Qt only where the dialog is.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

  set(CPACK_DEBIAN_CLI_PACKAGE_NAME tarnwick-cli)
  set(CPACK_DEBIAN_CLI_DESCRIPTION
      "program a target device over a serial line, from the command line
Tarnwick programs a target device over an RS-232 serial line with a scrambled
firmware image (.UPL, up to 65,536 bytes): it finds the device on COM1 to
COM4, or on the port it is given, sends the image block by block as the device
asks for it, and reports the result.

This package holds the programs that need no display: tarnwick-cli, for
scripts and production stations; tarnwick-device, a simulated target device
on a pseudo-terminal it creates or on a serial port, for use without the
hardware; and tarnwick-pack, which scrambles a binary into an image. The
desktop program is in the package tarnwick.")

  set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME tarnwick)
  # Depends: tarnwick-cli (= <version>), from the component's dependency.
  set(CPACK_COMPONENT_DESKTOP_DEPENDS cli)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
      "program a target device over a serial line, from a desktop dialog
Tarnwick programs a target device over an RS-232 serial line. The operator
loads a scrambled firmware image (.UPL, up to 65,536 bytes) and presses
Program; Tarnwick finds the device on COM1 to COM4, sends the image block by
block as the device asks for it, and shows the bytes sent, a progress bar and
a status line until the device reports the result.

This package holds the desktop program (tarnwick), with its menu entry and
icons, and tarnwick-demo (the dialog without a display). The programs for
the command line are in the package tarnwick-cli.")

  set(package_files ${PROJECT_BINARY_DIR}/packaging)
  # The changelog dates the release in the form Debian wants (RFC 5322).
  execute_process(COMMAND date -u -R -d "${TARNWICK_RELEASE_DATE} 12:00 UTC"
                  OUTPUT_VARIABLE TARNWICK_RELEASE_TIME OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${package_files}/changelog @ONLY)
  add_custom_command(
    OUTPUT ${package_files}/changelog.gz
    COMMAND gzip -9nkf ${package_files}/changelog
    DEPENDS ${package_files}/changelog
    VERBATIM)
  add_custom_target(tarnwick_package_files ALL DEPENDS ${package_files}/changelog.gz)
  # Every package carries the copyright and the changelog in its own
  # share/doc folder; the README goes with the command-line programs, which
  # the desktop package pulls in.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_SOURCE_DIR}/README.md
                ${package_files}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick-cli
          COMPONENT cli)
  if(TARGET tarnwick)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${package_files}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick
            COMPONENT desktop)
    configure_file(${PROJECT_SOURCE_DIR}/resources/org.tarnwick.Tarnwick.metainfo.xml
                   ${package_files}/org.tarnwick.Tarnwick.metainfo.xml @ONLY)
    install(FILES ${package_files}/org.tarnwick.Tarnwick.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
            COMPONENT desktop)
  endif()
endif()

# Everything the packages take, built without the tests.
add_custom_target(tarnwick_package_contents)
foreach(target tarnwick tarnwick-demo tarnwick-cli tarnwick-device tarnwick-pack
               tarnwick_icons tarnwick_man_pages tarnwick_package_files)
  if(TARGET ${target})
    add_dependencies(tarnwick_package_contents ${target})
  endif()
endforeach()

include(CPack)
