# Tests of both builds run as real Windows programs under wine64: its prefix is a
# WoW64 one, so the i686 build runs in it too. The wrapper
# script owns the build's wine prefix (created once, under a lock), its persistent
# wineserver and an Xvfb display; CMake hands it every test command.

if(NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux" OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|x86)$")
  return()
endif()

set(ZORVIK_WINE_RUN "${CMAKE_BINARY_DIR}/wine-run")
configure_file("${PROJECT_SOURCE_DIR}/cmake/wine-run.in" "${ZORVIK_WINE_RUN}" @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ZORVIK_WINE_RUN}")
