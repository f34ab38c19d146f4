# Cross-builds a 64-bit Windows console program with Debian's x86_64 MinGW-w64 compiler
# (package g++-mingw-w64-x86-64-win32 or -posix). The release is the 32-bit build; this one
# exists so the Windows suite can run under 64-bit Wine on machines that cannot execute
# 32-bit code:
#   cmake -S . -B build-win64 -G Ninja --toolchain cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(mingw_target x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
