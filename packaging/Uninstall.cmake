# Undoes a `cmake --install` of the build in BUILD_DIR: removes every file
# install_manifest.txt lists, then each folder install_folders.txt says the
# install made, deepest first, once nothing else is left in it.
#
#   cmake -DBUILD_DIR=build/linux -P packaging/Uninstall.cmake
set(manifest "${BUILD_DIR}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "${manifest} is missing: nothing was installed from this build")
endif()
file(STRINGS "${manifest}" files)
foreach(file IN LISTS files)
  if(EXISTS "${file}" OR IS_SYMLINK "${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "${file}")
  endif()
endforeach()

set(folders_file "${BUILD_DIR}/install_folders.txt")
if(EXISTS "${folders_file}")
  file(STRINGS "${folders_file}" folders)
  # A folder is listed before its parents: each is empty by the time it is
  # reached, unless something else was put in it.
  list(SORT folders COMPARE NATURAL ORDER DESCENDING)
  foreach(folder IN LISTS folders)
    file(GLOB left "${folder}/*" "${folder}/.*")
    if(IS_DIRECTORY "${folder}" AND NOT left)
      message(STATUS "Removing ${folder}/")
      file(REMOVE_RECURSE "${folder}")
    endif()
  endforeach()
  file(REMOVE "${folders_file}")
endif()
file(REMOVE "${manifest}")
