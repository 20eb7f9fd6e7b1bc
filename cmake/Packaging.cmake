# Where `cmake --install` puts the program, and the packages CPack builds from that:
#   Linux:   bin/qelnor-setup, a desktop entry and the icon; `cpack -G DEB` makes a .deb.
#   Windows: bin/qelnor-setup.exe with the Qt runtime that windeployqt copies beside it;
#            `cpack -G ZIP` makes a zip to unpack and run.
include(GNUInstallDirs)

install(TARGETS qelnor-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_PACKAGE_NAME qelnor-setup)
set(CPACK_PACKAGE_VENDOR QELNOR)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Sets the address, user code and passwords of QELNOR colour screens over RS-232")
set(CPACK_PACKAGE_DESCRIPTION
    "One window opens a serial port (COM1 to COM15, 1200 to 9600 baud, no, odd or even parity) \
and sends the device its communication address, the user code, the start-up password switch \
or the password reset; each reply of the device is shown in a message box.")
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
  set_target_properties(qelnor-setup PROPERTIES INSTALL_RPATH "")
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
