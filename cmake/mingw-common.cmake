# Shared part of the MinGW-w64 toolchain files; the including file sets
# KELMOTRA_MINGW_TRIPLE and KELMOTRA_MINGW_PROCESSOR first.
#
# The editions are linked statically (C++ runtime, winpthread included) so that
# each .exe runs with nothing beside it. Tests and tools run under Wine, which
# CMake uses as the emulator (ctest, gtest discovery).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KELMOTRA_MINGW_PROCESSOR})

# The -posix thread model compilers: std::thread and friends work with them.
set(CMAKE_C_COMPILER ${KELMOTRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELMOTRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELMOTRA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELMOTRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# M_PI and friends: glibc's g++ has them by default, MinGW's strict C++20 mode
# only on request.
add_compile_definitions(_USE_MATH_DEFINES)

# Wine as the emulator. WINEPREFIX comes from the environment when set (the CI
# script warms one up), else a prefix inside the build tree. LANG=C.UTF-8 lets
# non-ASCII arguments reach the program intact.
if(NOT DEFINED KELMOTRA_WINE)
  set(KELMOTRA_WINE ${KELMOTRA_MINGW_WINE_DEFAULT})
endif()
if(DEFINED ENV{WINEPREFIX} AND NOT "$ENV{WINEPREFIX}" STREQUAL "")
  set(KELMOTRA_WINEPREFIX "$ENV{WINEPREFIX}" CACHE PATH "Wine prefix for running the tests")
else()
  set(KELMOTRA_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix for running the tests")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${KELMOTRA_WINEPREFIX} WINEDEBUG=-all LANG=C.UTF-8 ${KELMOTRA_WINE})
