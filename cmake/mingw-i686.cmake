# Cross-builds the 32-bit Windows console program with Debian's i686 MinGW-w64 compiler
# (package g++-mingw-w64-i686-win32 or -posix):
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-i686.cmake -DVEXA_BUILD_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(mingw_target i686-w64-mingw32)
find_program(CMAKE_CXX_COMPILER
  NAMES ${mingw_target}-g++-win32 ${mingw_target}-g++-posix ${mingw_target}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${mingw_target}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
