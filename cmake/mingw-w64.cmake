# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain:
#   cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Builds the toolkit-free core, kestrane-cli.exe and the tests that run on Windows.
# The programs are linked statically (no DLLs of the toolchain to ship beside them),
# and ctest runs them under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kestrane_mingw x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex need it with this toolchain.
set(CMAKE_C_COMPILER ${_kestrane_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kestrane_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_kestrane_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kestrane_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(KESTRANE_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTRANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRANE_WINE})
endif()
