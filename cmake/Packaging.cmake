# Where `cmake --install` puts the program, and the packages CPack builds from that:
#   Linux:   bin/qelnor-setup and bin/qelnor-cli, a desktop entry, the icon, AppStream metadata, the manual page,
#            the copyright file and the changelog; `cpack -G DEB` makes a .deb.
#   Windows: bin/qelnor-setup.exe with the Qt runtime that windeployqt copies beside it;
#            `cpack -G ZIP` makes a zip to unpack and run.
include(GNUInstallDirs)

install(TARGETS qelnor-setup qelnor-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The licence goes with every install. In the Windows zip it lies beside the program, where a
# user who unpacks it looks (.txt so that a double click opens it); on Linux the copyright file
# in the doc folder carries it in the form Debian wants.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME LICENSE.txt)
endif()

set(CPACK_PACKAGE_NAME qelnor-setup)
set(CPACK_PACKAGE_VENDOR QELNOR)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Sets the address, user code and passwords of QELNOR colour screens over RS-232")
# Line breaks are kept: Debian shows the description as written and wants lines of at most
# 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "One window opens a serial port (COM1 to COM15, 1200 to 9600 baud, no, odd
or even parity) and sends the device its communication address, the user
code, the power-on password switch or the password reset; each reply of the
device is shown in a message box. The command-line program qelnor-cli sends
the same commands from scripts and prints the replies.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY qelnor-setup)
set(CPACK_STRIP_FILES ON)

if(WIN32 AND NOT CMAKE_CROSSCOMPILING)
  # windeployqt comes with Qt. It copies the Qt DLLs the program needs, the platform plugin and
  # the compiler's runtime next to the installed program, choosing debug or release DLLs by
  # looking at the program.
  find_program(QELNOR_WINDEPLOYQT windeployqt HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}"
               REQUIRED)
  install(CODE "
    execute_process(
      COMMAND \"${QELNOR_WINDEPLOYQT}\" --no-translations --no-system-d3d-compiler
              --no-opengl-sw --compiler-runtime
              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/qelnor-setup.exe\"
      COMMAND_ERROR_IS_FATAL ANY)
  ")
  set(CPACK_GENERATOR ZIP)
elseif(WIN32)
  # A cross build from Linux has no windeployqt: windows.sh deploys and packs the program.
else()
  # Qt comes from the system's packages. The $ORIGIN search path that qt_standard_project_setup()
  # gives installed programs, for Qt libraries shipped beside them, would only let stray
  # libraries in /usr/lib shadow the system's.
  set_target_properties(qelnor-setup qelnor-cli PROPERTIES INSTALL_RPATH "")
  set(qelnor_packaging ${PROJECT_SOURCE_DIR}/packaging)
  install(FILES ${qelnor_packaging}/qelnor-setup.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${qelnor_packaging}/qelnor-setup.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Drawn from the SVG for desktops that want a bitmap at the size every theme has:
  #   rsvg-convert -w 48 -h 48 packaging/qelnor-setup.svg -o packaging/qelnor-setup-48.png
  install(FILES ${qelnor_packaging}/qelnor-setup-48.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
          RENAME qelnor-setup.png)
  install(FILES ${qelnor_packaging}/io.github.qelnor.setup.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # Debian wants manual pages and the changelog compressed with gzip -9n; -n leaves the name
  # and time out of the header, so that a rebuild gives the same bytes.
  find_program(QELNOR_GZIP gzip REQUIRED)
  function(qelnor_install_gzipped source destination)
    get_filename_component(name ${source} NAME)
    set(gzipped ${PROJECT_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(
      OUTPUT ${gzipped}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PROJECT_BINARY_DIR}/packaging/${name}
      COMMAND ${QELNOR_GZIP} -9nf ${PROJECT_BINARY_DIR}/packaging/${name}
      DEPENDS ${source}
      VERBATIM)
    add_custom_target(gzip-${name} ALL DEPENDS ${gzipped})
    install(FILES ${gzipped} DESTINATION ${destination})
  endfunction()
  # Every program in bin/ has its page, packaging/<program>.1.
  function(qelnor_install_man_page program)
    qelnor_install_gzipped(${qelnor_packaging}/${program}.1 ${CMAKE_INSTALL_MANDIR}/man1)
  endfunction()
  qelnor_install_man_page(qelnor-setup)
  # The command-line program's page is made from its --help by help2man (src/cli), when help2man
  # is there.
  get_property(qelnor_cli_page GLOBAL PROPERTY QELNOR_CLI_MAN_PAGE)
  if(qelnor_cli_page)
    qelnor_install_gzipped(${qelnor_cli_page} ${CMAKE_INSTALL_MANDIR}/man1)
    add_dependencies(gzip-qelnor-cli.1 qelnor-cli-man-page)
  endif()
  # A native package's changelog: its top entry names the package's version.
  qelnor_install_gzipped(${qelnor_packaging}/changelog ${CMAKE_INSTALL_DOCDIR})

  # The copyright file in Debian's machine-readable format. Holder and licence text come from
  # LICENSE, so that the two cannot drift apart.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE qelnor_license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" qelnor_holder "${qelnor_license}")
  set(QELNOR_COPYRIGHT "${CMAKE_MATCH_1}")
  string(FIND "${qelnor_license}" "Permission is hereby granted" qelnor_start)
  if(NOT QELNOR_COPYRIGHT OR qelnor_start EQUAL -1)
    message(FATAL_ERROR "LICENSE has no 'Copyright (c)' line or no MIT permission text")
  endif()
  string(SUBSTRING "${qelnor_license}" ${qelnor_start} -1 qelnor_license)
  string(STRIP "${qelnor_license}" qelnor_license)
  # Continuation lines start with a space; an empty line is written as " .".
  string(REPLACE "\n\n" "\n.\n" qelnor_license "${qelnor_license}")
  string(REPLACE "\n" "\n " QELNOR_LICENSE_TEXT " ${qelnor_license}")
  configure_file(${qelnor_packaging}/copyright.in ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(QELNOR_PACKAGE_MAINTAINER "QELNOR <support@qelnor.invalid>"
      CACHE STRING "Maintainer field of the Debian package")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QELNOR_PACKAGE_MAINTAINER}")
  # The libraries the program links are found by dpkg-shlibdeps (in dpkg-dev, which
  # build-essential brings), with the versions the build needs. Without it the Debian 12
  # names are written out. The fonts are loaded by name at run time, so no tool sees them:
  # the captions' Song face and the fixed-pitch face of the user code.
  set(qelnor_font_packages "fonts-arphic-uming, fonts-dejavu-core")
  find_program(QELNOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(QELNOR_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${qelnor_font_packages}")
  else()
    set(qelnor_qt "(>= ${Qt6_VERSION_MAJOR}.${Qt6_VERSION_MINOR})")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6core6 ${qelnor_qt}, libqt6gui6 ${qelnor_qt}, libqt6widgets6 ${qelnor_qt}, \
libqt6serialport6 ${qelnor_qt}, ${qelnor_font_packages}")
  endif()
endif()

include(CPack)
