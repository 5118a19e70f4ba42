# Installing and packing. Linux: kelvo in bin/, its manual page, the sample
# companion files as documentation, and a .deb (cpack). Windows: kelvo.exe
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
  install(FILES ${PROJECT_SOURCE_DIR}/doc/kelvo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${KELVO_EXAMPLES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
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
