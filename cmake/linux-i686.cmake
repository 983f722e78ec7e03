# i686 Linux build of the program and its test suite:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake -DCMAKE_BUILD_TYPE=Release
#
# It computes with the same 32-bit SSE2 arithmetic as the Windows x86 edition
# and stands in for it where 32-bit code cannot run natively (a kernel that
# runs 64-bit user programs only): the programs run under qemu-user, which
# CMake uses as the emulator (ctest, gtest discovery, and the processes the
# tests start). Needs Debian's g++-multilib and qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Double arithmetic in SSE2 registers, never the x87 unit with its extended
# precision, as in the Windows x86 edition.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
# Static programs: nothing for the emulator to load at each start.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")

if(NOT DEFINED KELMOTRA_QEMU)
  set(KELMOTRA_QEMU /usr/bin/qemu-i386)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${KELMOTRA_QEMU})
