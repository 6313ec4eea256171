# One document of the installed set, made at build time:
#   cmake -DMODE=gzip|crlf|html -DIN=file -DOUT=file [-DRENDERER=program] -P make_document.cmake
# gzip: compressed without name or time (gzip -n), so that two builds agree;
# crlf: line ends as CR LF, for Windows editors; html: a manual page rendered as
# HTML by mandoc or groff.
if(MODE STREQUAL "gzip")
  execute_process(COMMAND gzip -9 -n -c ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
elseif(MODE STREQUAL "crlf")
  file(READ ${IN} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUT} "${text}")
  set(status 0)
elseif(MODE STREQUAL "html")
  get_filename_component(renderer_name ${RENDERER} NAME)
  if(renderer_name STREQUAL "mandoc")
    execute_process(COMMAND ${RENDERER} -Thtml -Werror ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
  else()
    execute_process(COMMAND ${RENDERER} -man -Thtml -P-l ${IN} OUTPUT_FILE ${OUT}
                    RESULT_VARIABLE status)
  endif()
else()
  message(FATAL_ERROR "make_document: unknown MODE '${MODE}'")
endif()
if(NOT status EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "make_document: ${MODE} of ${IN} failed (${status})")
endif()
