# The ZIP a Windows technician downloads: the four exes, a README written for
# Windows users, the manual pages as plain text, the licence, the notices of
# the libraries built in, and the sample firmware. Text files get Windows
# line ends, so Notepad shows them as lines.
set(zip_text_dir ${CMAKE_CURRENT_BINARY_DIR}/zip-text)

# @TITLE_RULE@ becomes a rule of "=" as long as the first line once it is
# filled in, whatever the version's length.
function(tarvex_windows_text source name)
  file(READ ${source} text)
  string(REGEX MATCH "^[^\n]*" title "${text}")
  string(CONFIGURE "${title}" title @ONLY)
  string(LENGTH "${title}" title_length)
  string(REPEAT "=" ${title_length} TITLE_RULE)
  string(CONFIGURE "${text}" text @ONLY)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${zip_text_dir}/${name} "${text}")
endfunction()
tarvex_windows_text(${TARVEX_PACKAGING_DIR}/windows/README.txt README.txt)
tarvex_windows_text(${TARVEX_PACKAGING_DIR}/windows/THIRD-PARTY.txt THIRD-PARTY.txt)
tarvex_windows_text(${CMAKE_CURRENT_SOURCE_DIR}/LICENSE LICENSE.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${TARVEX_PACKAGING_DIR}/windows/README.txt
             ${TARVEX_PACKAGING_DIR}/windows/THIRD-PARTY.txt ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)

# The manual pages, rendered at build time by groff as man would show them.
find_program(TARVEX_GROFF groff)
find_program(TARVEX_COL col)
set(zip_manuals)
if(TARVEX_GROFF AND TARVEX_COL)
  foreach(source cli/tarvex-flash.1 tools/pagersim/pagersim.1)
    get_filename_component(page ${source} NAME_WE)
    set(output ${zip_text_dir}/manual/${page}.txt)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${TARVEX_GROFF} -DCOL=${TARVEX_COL}
              -DSOURCE=${CMAKE_CURRENT_SOURCE_DIR}/${source} -DOUTPUT=${output}
              -P ${TARVEX_PACKAGING_DIR}/RenderManual.cmake
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${TARVEX_PACKAGING_DIR}/RenderManual.cmake
      VERBATIM)
    list(APPEND zip_manuals ${output})
  endforeach()
  add_custom_target(zip_manuals ALL DEPENDS ${zip_manuals})
else()
  # The exes build without them; the ZIP cannot be made (cpack says which
  # file is missing).
  message(WARNING "groff or col not found: the ZIP's manual pages cannot be rendered")
  set(zip_manuals ${zip_text_dir}/manual/tarvex-flash.txt ${zip_text_dir}/manual/pagersim.txt)
endif()

install(TARGETS TarvexUpd tarvex-flash RUNTIME DESTINATION .)
# The production bench in a window.
install(TARGETS TarvexBench RUNTIME DESTINATION .)
# The pager emulator on a COM port: a bench tried without pagers.
install(TARGETS pagersim RUNTIME DESTINATION .)
install(FILES ${zip_manuals} DESTINATION manual)
install(FILES ${zip_text_dir}/README.txt ${zip_text_dir}/LICENSE.txt
              ${zip_text_dir}/THIRD-PARTY.txt
        DESTINATION .)
install(FILES samples/pager-demo.hex DESTINATION samples)

set(CPACK_GENERATOR ZIP)
# tarvex-flasher-1.0.0-win64.zip, unpacked into a folder of the same name.
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME tarvex-flasher-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
