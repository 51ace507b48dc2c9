# Settings every Windows target of ours shares: wide-character Win32 headers and,
# with mingw, a fully static image so the programs run without any runtime DLL.

add_library(zorvik_platform INTERFACE)
target_compile_definitions(zorvik_platform INTERFACE
  WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

option(ZORVIK_WARNINGS_AS_ERRORS "Fail the build on any compiler warning in our code" OFF)

if(MINGW)
  target_compile_options(zorvik_platform INTERFACE -Wall -Wextra $<$<BOOL:${ZORVIK_WARNINGS_AS_ERRORS}>:-Werror>)
  target_link_options(zorvik_platform INTERFACE -static -static-libgcc -static-libstdc++)
elseif(MSVC)
  target_compile_options(zorvik_platform INTERFACE /W4 /utf-8 $<$<BOOL:${ZORVIK_WARNINGS_AS_ERRORS}>:/WX>)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# zorvik_windows_entry(<target> GUI|CONSOLE): the programs use wWinMain / wmain.
function(zorvik_windows_entry target kind)
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
    if(kind STREQUAL "GUI")
      target_link_options(${target} PRIVATE -mwindows)
    endif()
  elseif(MSVC AND kind STREQUAL "GUI")
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
endfunction()
