# Installing and packing. Linux: kelvo in bin/, its manual page, the sample
# companion files in <sysconfdir>/xdg/kelvo, and a .deb (cpack). Windows: kelvo.exe
# with the sample companion files beside it, where it reads them, and a
# README, in a zip (cpack).
set(KELVO_VERSION 1.6.2)
set(KELVO_EXAMPLES ${PROJECT_SOURCE_DIR}/examples/KELVO.TAB ${PROJECT_SOURCE_DIR}/examples/KELVO.EXT)

if(WIN32)
  install(TARGETS kelvo RUNTIME DESTINATION .)
  install(FILES ${KELVO_EXAMPLES} DESTINATION .)
  configure_file(${PROJECT_SOURCE_DIR}/doc/README.txt.in ${PROJECT_BINARY_DIR}/README.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kelvo-${KELVO_VERSION}-win32)
else()
  include(GNUInstallDirs)
  install(TARGETS kelvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Debian wants the manual page and the changelog compressed, with no time
  # stamp inside that would make two builds differ.
  foreach(doc kelvo.1 changelog)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${doc}.gz
                       COMMAND sh -c "gzip -9 -n -c \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/doc/${doc}
                               ${PROJECT_BINARY_DIR}/${doc}.gz
                       DEPENDS ${PROJECT_SOURCE_DIR}/doc/${doc} VERBATIM)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/kelvo.1.gz
                                                ${PROJECT_BINARY_DIR}/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/kelvo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The sample companion files go where kelvo reads configuration:
  # <sysconfdir>/xdg/kelvo, which for the prefix /usr is /etc/xdg/kelvo (as
  # GNUInstallDirs has it). Reckoned when installing, since the prefix is
  # known only then; the .deb installs with the prefix /usr.
  install(CODE "set(kelvo_examples \"${KELVO_EXAMPLES}\")
                set(kelvo_sysconfdir \"${CMAKE_INSTALL_SYSCONFDIR}\")")
  install(CODE [[
    if(IS_ABSOLUTE "${kelvo_sysconfdir}")
      set(kelvo_xdg "${kelvo_sysconfdir}/xdg/kelvo")
    elseif(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND kelvo_sysconfdir STREQUAL "etc")
      set(kelvo_xdg /etc/xdg/kelvo)
    else()
      set(kelvo_xdg "${CMAKE_INSTALL_PREFIX}/${kelvo_sysconfdir}/xdg/kelvo")
    endif()
    file(INSTALL ${kelvo_examples} DESTINATION "${kelvo_xdg}"
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  ]])
  set(CPACK_GENERATOR DEB)
  # Installed for packing as into the root (DESTDIR), so that the prefix
  # is /usr when the configuration directory is reckoned.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kelvo authors <kelvo@example.org>")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[Started in a directory (with /S, a whole tree), kelvo deletes, for every
source file of a listed extension, the files of the same base name made
from it (main.o and main.d beside main.c ...), and every file matching a
mask such as *~. It asks before it starts and before each file.

The rules and masks in /etc/xdg/kelvo cover C, C++, Fortran, Free Pascal,
Java and editor backups; a copy in ~/.config/kelvo overrides them.
Messages are Russian. Exit status: 0 when the run did all it announced,
2 when a file stayed or a directory could not be entered, 1 for a wrong
argument.]])
  # dpkg keeps a user's edits of the sample files and --purge removes them.
  file(WRITE ${PROJECT_BINARY_DIR}/conffiles "/etc/xdg/kelvo/KELVO.TAB\n/etc/xdg/kelvo/KELVO.EXT\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/conffiles)
  # Depends: from the libraries the binary links to.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_NAME kelvo)
set(CPACK_PACKAGE_VERSION ${KELVO_VERSION})
set(CPACK_PACKAGE_VENDOR "kelvo authors")
set(CPACK_PACKAGE_CONTACT "kelvo authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "removes the files a compiler leaves behind")
set(CPACK_STRIP_FILES ON)
include(CPack)
