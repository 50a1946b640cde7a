#!/bin/sh
# Compiles the Windows files of the platform layer with the mingw-w64 cross
# compiler. Usage: compile_windows.sh OUTPUT_DIR PLATFORM_DIR FSOUND_INCLUDE_DIR
# Exits 77 (skipped) when the cross compiler is not installed.
set -eu
output=$1 platform=$2 fsound_include=$3
compiler=x86_64-w64-mingw32-g++
if ! command -v "$compiler" >/dev/null 2>&1; then
  echo "SKIPPED: $compiler not found; install the Debian package g++-mingw-w64-x86-64"
  exit 77
fi
mkdir -p "$output"
for source in platform_windows.cpp platform.cpp sound_library.cpp; do
  echo "$compiler -c $source"
  "$compiler" -std=c++17 -Wall -Wextra -Werror -DFENK_DATA_DIR='"C:/fenk/data"' \
    -I"$platform" -I"$fsound_include" \
    -c "$platform/$source" -o "$output/${source%.cpp}.obj"
done
