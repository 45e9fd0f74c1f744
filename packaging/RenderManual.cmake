# Renders a manual page as plain text for Windows users: laid out as man
# shows it on an 80-column terminal, without hyphenation or highlighting, with
# CR LF line ends for Notepad.
#
#   cmake -DGROFF=groff -DCOL=col -DSOURCE=page.1 -DOUTPUT=page.txt -P RenderManual.cmake
execute_process(
  COMMAND ${GROFF} -man -Tutf8 -P-c -rHY=0 ${SOURCE}
  COMMAND ${COL} -bx
  OUTPUT_VARIABLE text
  ERROR_VARIABLE errors
  RESULTS_VARIABLE results)
foreach(result IN LISTS results)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "rendering ${SOURCE} failed (${results}): ${errors}")
  endif()
endforeach()
if(NOT errors STREQUAL "")
  # groff's warnings name a fault of the page worth fixing, though the text
  # it rendered is still shipped.
  message(WARNING "rendering ${SOURCE}: ${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
