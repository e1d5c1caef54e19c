# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads), tests run through Wine.
# The third-party libraries come from the prefix that scripts/build-windows-deps fills:
# $TESSRA_MINGW_PREFIX, else the "current" build in ${XDG_CACHE_HOME:-$HOME/.cache}/tessra-mingw.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_TRIPLET}-windres)

if(DEFINED ENV{TESSRA_MINGW_PREFIX} AND NOT "$ENV{TESSRA_MINGW_PREFIX}" STREQUAL "")
  set(ORVANE_MINGW_PREFIX "$ENV{TESSRA_MINGW_PREFIX}")
elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(ORVANE_MINGW_PREFIX "$ENV{XDG_CACHE_HOME}/tessra-mingw/current")
else()
  set(ORVANE_MINGW_PREFIX "$ENV{HOME}/.cache/tessra-mingw/current")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_TRIPLET} "${ORVANE_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables (and gtest's test discovery) run through Wine.
find_program(ORVANE_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${ORVANE_WINE}")
