# Writes BINARY_DIR/version.h for PROGRAM at VERSION (four numbers a.b.c.d) and
# adds it to the include path of TARGET's resource script.
function(corvane_version_header target program version)
  set(VERSION_PROGRAM ${program})
  set(VERSION_TEXT ${version})
  string(REPLACE "." "," VERSION_NUMBERS ${version})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${CMAKE_CURRENT_BINARY_DIR}/version/version.h @ONLY)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/version)
endfunction()
