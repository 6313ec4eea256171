# What `make install` / `cmake --install` put where, and the packages `make package`
# builds from it with CPack: a Debian package of the Linux build, a zip of the
# Windows build.
include(GNUInstallDirs)
# The install and package steps take the program as built: the Makefile builds
# only that target first, so CPack need not build the test suite as well.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(MAILSIFT_MAINTAINER "MAILSIFT developers <maintainers@mailsift.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

if(WIN32)
  # A zip is unpacked into one folder: the program with its README and licence.
  install(TARGETS mailsift RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(TARGETS mailsift RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/doc/mailsift.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian looks for the licence terms of a package in its copyright file.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                ${PROJECT_SOURCE_DIR}/doc/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME mailsift)
set(CPACK_PACKAGE_VENDOR "MAILSIFT developers")
set(CPACK_PACKAGE_CONTACT "${MAILSIFT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lists the header facts of stored e-mail message files")
set(CPACK_PACKAGE_DESCRIPTION
    "MAILSIFT walks directory trees of stored messages, selects files by name pattern,\n\
age, date and size, and writes one delimited record of 14 header facts per file,\n\
for legal review, incident response and audits. License: Apache-2.0.")
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
  # dpkg-shlibdeps names the libraries the program was linked against.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
