# The Debian package tarvex-flasher: tarvex-flash and pagersim, their manual
# pages (gzipped, as Debian wants them), the sample firmware that the manual
# pages' "try an update without a pager" uses, the copyright file, the
# changelog, the lintian override, and the script that makes the folder of
# the jobs' counts. `cmake --install` puts the same files
# under its prefix, but for the lintian override: that speaks to lintian
# about the package alone.
set(debian_dir ${TARVEX_PACKAGING_DIR}/debian)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvex-flasher)

# The changelog's newest entry must be this version, or the package would
# tell another story than --version does.
file(STRINGS ${debian_dir}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^tarvex-flasher \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()

# gzip -n: no name and no time stamp inside, so the same sources give the
# same package.
set(gzipped)
foreach(source cli/tarvex-flash.1 tools/pagersim/pagersim.1 packaging/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/gzipped
    COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND gzipped ${output})
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${gzipped})

# Before anything is installed: the folders this install will make, so that
# the uninstall target removes them too, and no folder that was there
# before. Only a user's own install is recorded, not the package's staging.
set(install_dirs ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1
                 ${CMAKE_INSTALL_DATAROOTDIR}/tarvex-flasher ${doc_dir})
set(record_folders [[
  if("$ENV{DESTDIR}" STREQUAL "" AND NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    set(made)
    foreach(dir @install_dirs@)
      set(path "${CMAKE_INSTALL_PREFIX}/${dir}")
      while(NOT EXISTS "${path}")
        list(APPEND made "${path}")
        get_filename_component(path "${path}" DIRECTORY)
      endwhile()
    endforeach()
    list(REMOVE_DUPLICATES made)
    list(JOIN made "\n" made)
    file(WRITE "@CMAKE_BINARY_DIR@/install_folders.txt" "${made}")
  endif()
]])
string(CONFIGURE "${record_folders}" record_folders @ONLY)
install(CODE "${record_folders}")

# Removes what install_manifest.txt lists, then the folders the install made
# once they are empty.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -P ${TARVEX_PACKAGING_DIR}/Uninstall.cmake
  VERBATIM)

install(TARGETS tarvex-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET pagersim)
  install(TARGETS pagersim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# A stripped install also drops the sections that carry only the compiler's
# name and notes, as Debian's own packages do.
set(strip_notes [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program tarvex-flash pagersim)
      set(path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/${program}")
      if(EXISTS "${path}")
        execute_process(COMMAND "@CMAKE_OBJCOPY@" --remove-section=.comment --remove-section=.note
                                "${path}" COMMAND_ERROR_IS_FATAL ANY)
      endif()
    endforeach()
  endif()
]])
string(CONFIGURE "${strip_notes}" strip_notes @ONLY)
install(CODE "${strip_notes}")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gzipped/tarvex-flash.1.gz
              ${CMAKE_CURRENT_BINARY_DIR}/gzipped/pagersim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES samples/pager-demo.hex DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/tarvex-flasher)
install(FILES ${debian_dir}/copyright ${CMAKE_CURRENT_BINARY_DIR}/gzipped/changelog.gz
        DESTINATION ${doc_dir})
install(FILES ${debian_dir}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME tarvex-flasher
        COMPONENT debian-only EXCLUDE_FROM_ALL)
# The package takes everything `cmake --install` does, and the override.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/"
                                 "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian-only;/")

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies come from the libraries the programs link: libc,
# libstdc++ and libssl3, whose libcrypto computes the file's SHA-256.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst makes the folder of the jobs' counts, group dialout.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${debian_dir}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION
    "tarvex-flash updates the firmware of Tarvex pagers over serial lines, as the
Tarvex Flasher window does on Windows: it takes the pager's loader into flash
mode, switches to the chosen rate, erases the flash, sends and programs an
Intel HEX file record by record, and leaves flash mode. A rejected record is
sent again and a rejected program command restarts the transfer.

It updates one pager or several at once, each on its own serial port, checks
the file whole before any port is opened, and ends with an exit code per way
an update can fail. It can also print JSON events, append a traceability log
with the file's SHA-256, check a file without a pager and list the serial
ports present with their adapters' serial numbers.

pagersim, the pager emulator, plays the pager's side on a pseudo-terminal, so
that an update can be tried without a pager; a sample firmware file is in
/usr/share/tarvex-flasher.")
