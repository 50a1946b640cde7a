# Building for the browser: WebAssembly (wasm32-wasi) with Debian's clang 14,
# lld and its wasm32 packages of wasi-libc, libc++ and libc++abi.
#
# The module is a WASI "reactor": no main, its exported calls are made by
# the page's JavaScript, which also answers the few WASI imports it has.
# Exceptions are off: the code built for it returns its failures as values.
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_VERSION 1)
set(CMAKE_SYSTEM_PROCESSOR wasm32)

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)

set(CMAKE_C_FLAGS_INIT "-fno-exceptions")
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")

# FENK_WEB_PREFIX: where the wasm build of libsndfile is installed
# (scripts/web sets it); libraries and headers come from there and from the
# wasm32 sysroot only.
set(CMAKE_FIND_ROOT_PATH /usr/lib/wasm32-wasi ${FENK_WEB_PREFIX})
# CMake knows no WASI platform, hence no prefixes to search: the roots'
# own include/ and lib/.
set(CMAKE_SYSTEM_PREFIX_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(FENK_WEB_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${FENK_WEB_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()
# Programs the build runs (the square.wav generator) have no host here.
set(CMAKE_CROSSCOMPILING_EMULATOR "")
