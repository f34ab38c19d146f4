# CMake toolchain file for vexa: cmake -DCMAKE_TOOLCHAIN_FILE=<this file> -S <source> -B <build>
#
# vexa is named by VEXA; by default the one of the installation this file belongs to, else the
# first on PATH. Its tools are looked for in the current folder, on PATH and then beside vexa. C and assembler sources are compiled with
# `vexa -MD -MT <object> -MF <object>.d -o <object> -c <source>`, so objects (".o") and
# dependency files lie in the build folder and the source tree may be read-only; programs
# are linked with `vexa <objects> -o <program>.srf <libraries>`. Works with the Ninja and
# Makefile generators, and with CMAKE_C_COMPILER_LAUNCHER=ccache (see README).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR s1c33)

find_program(VEXA NAMES vexa HINTS ${CMAKE_CURRENT_LIST_DIR}/../../../bin
             ${CMAKE_CURRENT_LIST_DIR}/../bin DOC "The vexa driver")
set(CMAKE_C_COMPILER ${VEXA})
set(CMAKE_ASM_COMPILER ${VEXA})

# CMake cannot identify vexa from its output, and without a name it refuses an assembler.
set(CMAKE_C_COMPILER_ID vexa)
set(CMAKE_C_COMPILER_ID_RUN TRUE)
set(CMAKE_ASM_COMPILER_ID vexa)

# The include directory vexa takes from its configuration, named here too so that the
# compile commands CMake exports (CMAKE_EXPORT_COMPILE_COMMANDS) show an editor where the
# tool chain's headers are. Empty: VEXA_INC of the environment, if any.
set(VEXA_INCLUDE_DIR "$ENV{VEXA_INC}" CACHE PATH "The tool chain's include directory")
if(VEXA_INCLUDE_DIR)
  set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${VEXA_INCLUDE_DIR})
endif()

# Compiler/vexa-C.cmake and Compiler/vexa-ASM.cmake beside this file: read after CMake's
# own defaults for a compiler it does not know, which would otherwise be put over them.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CMAKE_EXECUTABLE_SUFFIX .srf)
