# What both MinGW-w64 toolchain files share; each sets mingw_target first.
find_program(CMAKE_CXX_COMPILER
  NAMES ${mingw_target}-g++-win32 ${mingw_target}-g++-posix ${mingw_target}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
