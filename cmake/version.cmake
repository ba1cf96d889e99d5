# Build values printed by the log banner.
execute_process(COMMAND git rev-parse --short HEAD
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE KORVANE_GIT_HASH
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT KORVANE_GIT_HASH)
  set(KORVANE_GIT_HASH "unknown")
endif()
configure_file(${CMAKE_SOURCE_DIR}/engine/version.cpp.in ${CMAKE_BINARY_DIR}/generated/version.cpp @ONLY)
