# Cross-compiling for 64-bit Windows with Debian's mingw-w64.
#
# The posix thread model compilers: GCC 12's default (win32) model has no
# std::thread or std::mutex, which the sound library uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# FENK_WINDOWS_PREFIX: where the Windows builds of SDL2 and libsndfile are
# installed (scripts/windows sets it). Libraries, headers and pkg-config
# files are taken from there and from mingw-w64's own root only, never from
# the build machine; programs (pkg-config, wine) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${FENK_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(FENK_WINDOWS_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${FENK_WINDOWS_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()

# Programs that the build itself runs (the square.wav generator, fenk-make
# for the demo songs) run under Wine.
find_program(FENK_WINE NAMES wine wine64)
if(FENK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FENK_WINE})
endif()
# try_compile projects read this file again: hand them the prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FENK_WINDOWS_PREFIX)
