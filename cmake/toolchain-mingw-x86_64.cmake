# Cross build for x86_64 Windows with MinGW-w64. The -posix compilers are needed:
# GoogleTest does not build with the -win32 threading model (no std::mutex).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)

find_program(CORVANE_MINGW_CXX ${TOOLCHAIN_PREFIX}-g++-posix)
find_program(CORVANE_MINGW_CC ${TOOLCHAIN_PREFIX}-gcc-posix)
find_program(CORVANE_MINGW_RC ${TOOLCHAIN_PREFIX}-windres)
if(NOT CORVANE_MINGW_CXX OR NOT CORVANE_MINGW_CC OR NOT CORVANE_MINGW_RC)
  message(FATAL_ERROR "${TOOLCHAIN_PREFIX} cross compiler not found: run scripts/setup (package g++-mingw-w64-x86-64)")
endif()
set(CMAKE_C_COMPILER ${CORVANE_MINGW_CC})
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_CXX})
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
