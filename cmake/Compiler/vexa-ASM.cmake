# Read by CMake for assembler sources built by vexa (CMAKE_ASM_COMPILER_ID vexa).
include(${CMAKE_CURRENT_LIST_DIR}/../vexa-rules.cmake)
vexa_language_rules(ASM)
vexa_assembler_launcher()
