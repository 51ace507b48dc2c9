# Tests of the x86_64 build run as real Windows programs under wine64. The wrapper
# script owns the build's wine prefix (created once, under a lock), its persistent
# wineserver and an Xvfb display; CMake hands it every test command.

if(NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux" OR NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  return()
endif()

set(ZORVIK_WINE_RUN "${CMAKE_BINARY_DIR}/wine-run")
configure_file("${PROJECT_SOURCE_DIR}/cmake/wine-run.in" "${ZORVIK_WINE_RUN}" @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZORVIK_WINE_RUN}")
