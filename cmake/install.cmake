# What `make install` / `cmake --install` put where, and the packages `make package`
# builds from it with CPack: a Debian package of the Linux build, a zip of the
# Windows build.
include(GNUInstallDirs)
# The install and package steps take the program as built: the Makefile builds
# only that target first, so CPack need not build the test suite as well.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(MAILSIFT_MAINTAINER "MAILSIFT developers <maintainers@mailsift.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

include(${PROJECT_SOURCE_DIR}/cmake/documents.cmake)

if(WIN32)
  # A zip is unpacked into one folder: the program, its manual as HTML, the README
  # with line ends Windows editors show, and the licence; libpff's DLL and licence.
  install(TARGETS mailsift RUNTIME DESTINATION .)
  install(FILES ${MAILSIFT_DOC_DIR}/README.md ${MAILSIFT_DOC_DIR}/mailsift.html
                ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  # libpff's DLL beside the program, where Windows looks first, with its licence
  # (LGPL-3.0-or-later: the DLL may be replaced by another build of it).
  install(FILES ${MAILSIFT_LIBPFF_DLL} DESTINATION .)
  install(FILES ${MAILSIFT_LIBPFF_PREFIX}/share/doc/libpff/COPYING DESTINATION .
          RENAME libpff-COPYING.txt)
  install(FILES ${MAILSIFT_LIBPFF_PREFIX}/share/doc/libpff/GPL-3 DESTINATION .
          RENAME libpff-GPL-3.txt)
else()
  install(TARGETS mailsift RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A package's binary carries no compiler notes: strip them with the symbols.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/mailsift\")
  endif()")
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/mailsift-parallel
          DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${MAILSIFT_DOC_DIR}/mailsift.1.gz ${MAILSIFT_DOC_DIR}/mailsift-parallel.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian looks for the licence terms of a package in its copyright file and for
  # its history, a native package's, in changelog.gz.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/doc/copyright ${MAILSIFT_DOC_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Spellings lintian takes for typos that are real names, each said why there.
  install(FILES ${PROJECT_SOURCE_DIR}/doc/lintian-overrides RENAME mailsift
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
endif()

set(CPACK_PACKAGE_NAME mailsift)
set(CPACK_PACKAGE_VENDOR "MAILSIFT developers")
set(CPACK_PACKAGE_CONTACT "${MAILSIFT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lists the header facts of stored e-mail message files")
# The extended description's lines stay under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "MAILSIFT walks directory trees of stored messages, selects files by name\n\
pattern, age, date and size, and writes one delimited record of 14 header\n\
facts per file, for legal review, incident response and audits.\n\
mailsift-parallel splits a list of files over several machines with GNU\n\
parallel.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-${CMAKE_SYSTEM_PROCESSOR})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps names the libraries the program was linked against; libcrypto,
  # loaded only when a hash option asks for it, is named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3 (>= 3.0.0)")
  # The split run drives GNU parallel; the program itself does not need it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS parallel)
endif()

include(CPack)
