# Installation and the Debian package (bash scripts/package.sh):
#   /usr/bin/talvo, /usr/bin/talvo-gui, /usr/libexec/talvo/talvo-cli (the Qt
#   command program that /usr/bin/talvo runs), a desktop entry, the window icon at the
#   hicolor sizes (drawn by talvo-gui --export-icon at build time), man pages,
#   the local HTML help when the talvo_help target exists, copyright and
#   changelog.  Dependencies come from dpkg-shlibdeps.
include(GNUInstallDirs)
# Installing (and so cpack) takes the tree as built and builds nothing:
# scripts/package.sh builds first, and the package test must not compile
# while other tests run.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_out ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS talvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The launcher looks for it in ../libexec/talvo/ beside its own folder.
install(TARGETS talvo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/talvo)
install(TARGETS talvo-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages and the changelog carry the version; both are installed gzipped
# without a time stamp (-n), so the package is the same from build to build.
set(_gz_files "")
foreach(_doc talvo.1 talvo-gui.1 changelog)
  configure_file(${_pkg}/${_doc} ${_out}/${_doc} @ONLY)
  add_custom_command(OUTPUT ${_out}/${_doc}.gz
    COMMAND gzip -9 -n -f -k ${_out}/${_doc}
    DEPENDS ${_pkg}/${_doc}
    COMMENT "Compressing ${_doc}")
  list(APPEND _gz_files ${_out}/${_doc}.gz)
endforeach()

add_custom_command(OUTPUT ${_out}/icons/stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_out}/icons
  COMMAND $<TARGET_FILE:talvo-gui> --export-icon ${_out}/icons
  COMMAND ${CMAKE_COMMAND} -E touch ${_out}/icons/stamp
  DEPENDS talvo-gui
  COMMENT "Drawing the window icon")
add_custom_target(talvo_package_files ALL DEPENDS ${_gz_files} ${_out}/icons/stamp)
if(TARGET talvo_help)
  add_dependencies(talvo_package_files talvo_help)
endif()

install(FILES ${_out}/talvo.1.gz ${_out}/talvo-gui.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_pkg}/talvo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${_out}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor
        FILES_MATCHING PATTERN "*.png")
install(FILES ${_pkg}/copyright ${_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/talvo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "TALVO developers <talvo@talvo.invalid>")
set(CPACK_PACKAGE_VENDOR "TALVO developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ISP programmer for STC 8051 and STM32 boards over a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "TALVO programs microcontroller development boards through a USB-to-serial
converter and the bootloader built into the chip: the STC 8051-family
bootloader (STC89, STC90, STC11, STC12) and the STM32 system bootloader.
It offers a window (talvo-gui) and a command line (talvo) that list the USB
serial ports, convert Intel HEX files, download firmware and test ports,
and it carries simulated chips to try all of it without a board.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://talvo.invalid/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
