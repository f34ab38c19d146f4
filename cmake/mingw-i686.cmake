# Cross-builds the 32-bit Windows console program, the release, with Debian's i686 MinGW-w64
# compiler (package g++-mingw-w64-i686-win32 or -posix):
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(mingw_target i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
