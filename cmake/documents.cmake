# The documents installed with the program, made at build time into doc/ of the
# build tree by make_document.cmake (the target mailsift_documents): on Linux the
# manual pages gzipped and the Debian changelog; for Windows the manual page as
# HTML and the README with CR LF line ends.
set(MAILSIFT_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
set(mailsift_documents)

# Adds OUT, made from IN by MODE (and, for HTML, RENDERER).
function(add_document mode in out)
  add_custom_command(OUTPUT ${MAILSIFT_DOC_DIR}/${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MAILSIFT_DOC_DIR}
    COMMAND ${CMAKE_COMMAND} -DMODE=${mode} -DIN=${in} -DOUT=${MAILSIFT_DOC_DIR}/${out}
            -DRENDERER=${ARGN} -P ${PROJECT_SOURCE_DIR}/cmake/make_document.cmake
    DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/make_document.cmake VERBATIM)
  set(mailsift_documents ${mailsift_documents} ${MAILSIFT_DOC_DIR}/${out} PARENT_SCOPE)
endfunction()

if(WIN32)
  find_program(MAILSIFT_MAN_RENDERER NAMES mandoc groff)
  if(NOT MAILSIFT_MAN_RENDERER)
    message(FATAL_ERROR "The Windows build renders the manual page as HTML with mandoc or"
                        " groff: install the Debian package mandoc")
  endif()
  add_document(html ${PROJECT_SOURCE_DIR}/doc/mailsift.1 mailsift.html ${MAILSIFT_MAN_RENDERER})
  add_document(crlf ${PROJECT_SOURCE_DIR}/README.md README.md)
else()
  # The changelog's one entry is the version of this tree, dated by
  # SOURCE_DATE_EPOCH where it is set (CMake's TIMESTAMP reads it).
  string(TIMESTAMP MAILSIFT_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/doc/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
  add_document(gzip ${CMAKE_BINARY_DIR}/changelog changelog.gz)
  add_document(gzip ${PROJECT_SOURCE_DIR}/doc/mailsift.1 mailsift.1.gz)
  add_document(gzip ${PROJECT_SOURCE_DIR}/doc/mailsift-parallel.1 mailsift-parallel.1.gz)
endif()

add_custom_target(mailsift_documents ALL DEPENDS ${mailsift_documents})
