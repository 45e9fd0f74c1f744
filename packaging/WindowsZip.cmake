# The ZIP a Windows technician downloads: both exes, a README written for
# Windows users, the licence, the notices of the libraries built in, and the
# sample firmware. Text files get Windows line ends, so Notepad shows them as
# lines.
set(zip_text_dir ${CMAKE_CURRENT_BINARY_DIR}/zip-text)

function(tarvex_windows_text source name)
  file(READ ${source} text)
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

install(TARGETS TarvexUpd tarvex-flash RUNTIME DESTINATION .)
install(FILES ${zip_text_dir}/README.txt ${zip_text_dir}/LICENSE.txt
              ${zip_text_dir}/THIRD-PARTY.txt
        DESTINATION .)
install(FILES samples/pager-demo.hex DESTINATION samples)

set(CPACK_GENERATOR ZIP)
# tarvex-flasher-1.0.0-win64.zip, unpacked into a folder of the same name.
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME tarvex-flasher-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
