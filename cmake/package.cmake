# The release archive (cmake --build --preset windows-x86 --target package):
# Corvane-<version>-win32.zip in the build folder, holding both programs, the
# read-me for users and SHA256SUMS of the three. Test programs and doubles have
# no install rules and so never reach it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(corvane_platform win32)
else()
  set(corvane_platform win64)
endif()
# The keyboard as Device Manager shows it among its Hardware Ids: VID_1209&PID_0001.
set(corvane_hardware_ids "")
foreach(id VID PID)
  string(SUBSTRING "${CORVANE_KEYBOARD_${id}}" 2 -1 digits)
  string(TOUPPER "${digits}" digits)
  string(LENGTH "${digits}" length)
  while(length LESS 4)
    string(PREPEND digits 0)
    math(EXPR length "${length} + 1")
  endwhile()
  list(APPEND corvane_hardware_ids "${id}_${digits}")
endforeach()
list(JOIN corvane_hardware_ids "&" CORVANE_KEYBOARD_HARDWARE_ID)
# CRLF: the read-me is for Windows users.
configure_file(${PROJECT_SOURCE_DIR}/release/ReadMe.txt.in ${CMAKE_BINARY_DIR}/release/ReadMe.txt
  @ONLY NEWLINE_STYLE CRLF)

install(TARGETS Corvane Install_Corvane RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/release/ReadMe.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Corvane-${PROJECT_VERSION}-${corvane_platform})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# The checksums are taken of the staged files, exactly as they go into the archive.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/write_checksums.cmake)
include(CPack)
