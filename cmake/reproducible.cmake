# The same sources give the same program bytes, whatever the folders of the
# checkout and the build and whenever the build runs: no link time stamp in the
# PE header (it would also change the checksum), no absolute paths from __FILE__
# or debug information, archives without member times or owners.
list(APPEND CORVANE_PROGRAM_COMPILE_OPTIONS
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
  -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
list(APPEND CORVANE_PROGRAM_LINK_OPTIONS -Wl,--no-insert-timestamp)
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()
