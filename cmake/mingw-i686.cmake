# Windows x86 edition: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(KELMOTRA_MINGW_TRIPLE i686-w64-mingw32)
set(KELMOTRA_MINGW_PROCESSOR i686)
set(KELMOTRA_MINGW_WINE_DEFAULT /usr/lib/wine/wine)
# Double arithmetic in SSE2 registers, never the x87 unit with its extended
# precision: the x86 edition must compute the same bits as the x64 one.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
