# Windows x64 edition: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(KELMOTRA_MINGW_TRIPLE x86_64-w64-mingw32)
set(KELMOTRA_MINGW_PROCESSOR x86_64)
# The 64-bit loader directly: /usr/bin/wine prefers the 32-bit one when it is
# installed, which costs a re-exec (or fails where 32-bit code cannot run).
set(KELMOTRA_MINGW_WINE_DEFAULT /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
