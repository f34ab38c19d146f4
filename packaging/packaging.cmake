# The installation layout (ROOT/bin/vexa[.exe], the tool chain's include and lib beside bin)
# and the release packages made from it: a ZIP for Windows, a tar.gz for other hosts.
install(TARGETS vexa RUNTIME DESTINATION bin)

# The CMake toolchain file and the files it reads (README: "Using vexa from CMake, Ninja, make
# and ccache"): ROOT/cmake on Windows, ROOT/share/vexa/cmake elsewhere.
if(WIN32)
  set(vexa_cmake_destination cmake)
else()
  set(vexa_cmake_destination share/vexa/cmake)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/cmake/ DESTINATION ${vexa_cmake_destination}
  FILES_MATCHING PATTERN "vexa-*.cmake")

if(WIN32)
  # A sample that changes nothing until a line is uncommented; CR LF for Windows editors.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/vexa.cfg ${CMAKE_BINARY_DIR}/packaging/vexa.cfg
    @ONLY NEWLINE_STYLE WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/vexa.cfg DESTINATION bin)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  if(EXISTS ${PROJECT_SOURCE_DIR}/doc/vexa.1)
    install(FILES ${PROJECT_SOURCE_DIR}/doc/vexa.1 DESTINATION share/man/man1)
  endif()
  set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_PACKAGE_NAME vexa)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compiler driver for the S1C33 tool chain")
set(CPACK_STRIP_FILES ON)
include(CPack)
