# Read by CMake for C sources compiled by vexa (CMAKE_C_COMPILER_ID vexa).
include(${CMAKE_CURRENT_LIST_DIR}/../vexa-rules.cmake)
vexa_language_rules(C)
