# zlib, minizip, JsonCpp and GoogleTest as the targets zorvik::zlib, zorvik::minizip,
# zorvik::jsoncpp and zorvik::gtest_main.
#
# With mingw (our Linux build) zlib comes from Debian's mingw package and the rest is
# compiled from Debian's source packages, which scripts/bootstrap unpacks into
# third_party/src. With MSVC everything comes from vcpkg (vcpkg.json).

if(MINGW)
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  add_library(zorvik::zlib ALIAS ZLIB::ZLIB)

  set(ZORVIK_THIRD_PARTY "${PROJECT_SOURCE_DIR}/third_party/src" CACHE PATH
      "Where scripts/bootstrap unpacked the dependency sources")
  file(GLOB _zlib_src LIST_DIRECTORIES true "${ZORVIK_THIRD_PARTY}/zlib-*")
  file(GLOB _jsoncpp_src LIST_DIRECTORIES true "${ZORVIK_THIRD_PARTY}/libjsoncpp-*")
  list(FILTER _zlib_src EXCLUDE REGEX "\\.(tar|dsc|orig|debian)")
  list(FILTER _jsoncpp_src EXCLUDE REGEX "\\.(tar|dsc|orig|debian)")
  if(NOT _zlib_src OR NOT _jsoncpp_src)
    message(FATAL_ERROR "Dependency sources missing in ${ZORVIK_THIRD_PARTY}: run scripts/bootstrap")
  endif()
  list(GET _zlib_src 0 _zlib_src)
  list(GET _jsoncpp_src 0 _jsoncpp_src)

  set(_mz "${_zlib_src}/contrib/minizip")
  # iowin32 gives the reader Win32 file access, including UTF-16 paths.
  add_library(zorvik_minizip STATIC "${_mz}/unzip.c" "${_mz}/ioapi.c" "${_mz}/iowin32.c")
  target_include_directories(zorvik_minizip SYSTEM PUBLIC "${_mz}")
  target_compile_definitions(zorvik_minizip PUBLIC NOCRYPT NOUNCRYPT)
  target_compile_options(zorvik_minizip PRIVATE -w)
  target_link_libraries(zorvik_minizip PUBLIC ZLIB::ZLIB)
  add_library(zorvik::minizip ALIAS zorvik_minizip)

  set(_js "${_jsoncpp_src}/src/lib_json")
  add_library(zorvik_jsoncpp STATIC
    "${_js}/json_reader.cpp" "${_js}/json_value.cpp" "${_js}/json_writer.cpp")
  target_include_directories(zorvik_jsoncpp SYSTEM PUBLIC "${_jsoncpp_src}/include")
  target_include_directories(zorvik_jsoncpp PRIVATE "${_js}")
  target_compile_options(zorvik_jsoncpp PRIVATE -w)
  add_library(zorvik::jsoncpp ALIAS zorvik_jsoncpp)

  if(ZORVIK_BUILD_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    add_library(zorvik::gtest_main ALIAS gmock_main)
  endif()
else()
  find_package(ZLIB REQUIRED)
  add_library(zorvik::zlib ALIAS ZLIB::ZLIB)
  find_package(unofficial-minizip CONFIG REQUIRED)
  add_library(zorvik::minizip ALIAS unofficial::minizip::minizip)
  find_package(jsoncpp CONFIG REQUIRED)
  add_library(zorvik::jsoncpp ALIAS JsonCpp::JsonCpp)
  if(ZORVIK_BUILD_TESTS)
    find_package(GTest CONFIG REQUIRED)
    add_library(zorvik::gtest_main ALIAS GTest::gmock_main)
  endif()
endif()
