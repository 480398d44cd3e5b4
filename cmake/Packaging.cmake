# Installation layout and the Debian package.
#
#   cmake --install BUILD [--prefix /usr/local]
#   cd BUILD && cpack -G DEB      ->  morvantile_<version>_<arch>.deb
#
# The desktop program's files (menu entry, icons, autostart entry, its man
# page) are installed only when the desktop program is built.
include(GNUInstallDirs)

set(MORVANTILE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS morvantile-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(morvantile_man_pages morvantile-cli.1)

if(TARGET morvantile)
  install(TARGETS morvantile RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${MORVANTILE_PACKAGING_DIR}/morvantile.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(DIRECTORY ${MORVANTILE_PACKAGING_DIR}/icons/hicolor
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
  # Not in the system's autostart folder, so that starting at login stays
  # the user's choice: the man page tells how to copy it to
  # ~/.config/autostart.
  install(FILES ${MORVANTILE_PACKAGING_DIR}/morvantile-autostart.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/morvantile/autostart
          RENAME morvantile.desktop)
  list(APPEND morvantile_man_pages morvantile.1)
endif()

# Man pages go in compressed, as Debian wants them; -n keeps the name and
# time stamp out of the file, so the package builds the same every time.
find_program(MORVANTILE_GZIP gzip)
set(morvantile_man_files)
foreach(page IN LISTS morvantile_man_pages)
  set(source ${MORVANTILE_PACKAGING_DIR}/man/${page})
  if(MORVANTILE_GZIP)
    set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PROJECT_BINARY_DIR}/man/${page}
      COMMAND ${MORVANTILE_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/man/${page}
      DEPENDS ${source}
      COMMENT "Compressing man page ${page}"
      VERBATIM)
    list(APPEND morvantile_man_files ${compressed})
  else()
    list(APPEND morvantile_man_files ${source})
  endif()
endforeach()
add_custom_target(morvantile-man ALL DEPENDS ${morvantile_man_files})
install(FILES ${morvantile_man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Checks of the packaging files and of an installation into a scratch
# folder; they run after the build, like the other tests.
if(MORVANTILE_BUILD_TESTS)
  if(TARGET morvantile)
    set(morvantile_package_kind desktop)
  else()
    set(morvantile_package_kind cli)
  endif()
  add_test(NAME packaging
           COMMAND sh ${MORVANTILE_PACKAGING_DIR}/check-packaging.sh
                   ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${PROJECT_VERSION}
                   $<TARGET_FILE:morvantile-cli> ${morvantile_package_kind} ${CMAKE_COMMAND})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvantile)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Morvantile developers")
set(CPACK_PACKAGE_CONTACT "Morvantile developers <morvantile@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "encrypts clipboard text and files with a password")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps (from dpkg-dev) works out the libraries' packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET morvantile)
  # Plugins, which dpkg-shlibdeps cannot see: the tray icons and the logo
  # are SVG, and Qt reaches the X11 display through its xcb platform plugin.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-qpa-plugins")
  set(CPACK_PACKAGE_DESCRIPTION
      "Morvantile sits in the system tray of an X11 desktop. Write a message in
any program and press a hotkey: Morvantile selects and copies that window's
text with synthetic keystrokes, encrypts it with a password and pastes the
ciphertext back. Another hotkey decrypts it into the window, a viewer or an
editor. The ciphertext is base64 text that survives mail and chat.

It also encrypts files, can keep a master password in memory and keeps a
list of named passwords, each entry encrypted. Nine block ciphers, six key
hashes and five chaining modes are offered. The package includes
morvantile-cli, which makes and reads the same blocks and files from the
command line.")
else()
  set(CPACK_PACKAGE_DESCRIPTION
      "morvantile-cli encrypts and decrypts Morvantile's ciphertext blocks and
files from the command line, for pipes, scripts and mail filters. Nine block
ciphers, six key hashes and five chaining modes are offered.")
endif()
include(CPack)
