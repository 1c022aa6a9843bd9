# Renders a manual page with groff, warnings on, and fails on any warning or
# a missing section.
#   cmake -DGROFF=<groff> -DPAGE=<page.1> -P man_page_test.cmake
execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${PAGE}
  RESULT_VARIABLE status ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff -man -Tutf8 -ww -z ${PAGE} (exit status ${status}):\n${warnings}")
endif()

file(READ ${PAGE} page)
foreach(section NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" DIAGNOSTICS EXAMPLES "SEE ALSO")
  string(FIND "${page}" "\n.SH ${section}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PAGE} has no ${section} section")
  endif()
endforeach()
