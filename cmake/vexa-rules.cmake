# What CMake needs to know of vexa for one language beyond its defaults for a compiler it
# does not know; Compiler/vexa-C.cmake and Compiler/vexa-ASM.cmake call it.
macro(vexa_language_rules language)
  set(CMAKE_${language}_OUTPUT_EXTENSION .o)
  set(CMAKE_EXECUTABLE_SUFFIX_${language} .srf)
  # Dependency files as GCC writes them, read by Ninja and by the Makefiles alike.
  set(CMAKE_DEPFILE_FLAGS_${language} "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
  set(CMAKE_${language}_DEPFILE_FORMAT gcc)
  set(CMAKE_${language}_DEPENDS_USE_COMPILER TRUE)
endmacro()

# CMake starts a compiler launcher (ccache) for C sources only; assembler sources get the
# same one here, CMAKE_ASM_COMPILER_LAUNCHER if given, else CMAKE_C_COMPILER_LAUNCHER.
macro(vexa_assembler_launcher)
  set(_vexa_launcher ${CMAKE_ASM_COMPILER_LAUNCHER})
  if(NOT _vexa_launcher)
    set(_vexa_launcher ${CMAKE_C_COMPILER_LAUNCHER})
  endif()
  if(_vexa_launcher)
    list(JOIN _vexa_launcher " " _vexa_launcher)
    set(CMAKE_ASM_COMPILE_OBJECT
        "${_vexa_launcher} <CMAKE_ASM_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -o <OBJECT> -c <SOURCE>")
  endif()
endmacro()
