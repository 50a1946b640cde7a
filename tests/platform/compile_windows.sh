#!/bin/sh
# Compiles the Windows files of the platform layer, and the sound library's
# Windows file opener, with the mingw-w64 cross compiler.
# Usage: compile_windows.sh OUTPUT_DIR PLATFORM_DIR FSOUND_INCLUDE_DIR FSOUND_SOURCE_DIR
# Exits 77 (skipped) when the cross compiler is not installed.
set -eu
output=$1 platform=$2 fsound_include=$3 fsound_source=$4
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
# The file opener is linked into a program of its own as well, so that a
# Windows or C runtime call it names but the system does not have shows.
echo "$compiler regular_file_windows.cpp"
"$compiler" -std=c++17 -Wall -Wextra -Werror -I"$fsound_source" \
  -c "$fsound_source/regular_file_windows.cpp" -o "$output/regular_file_windows.obj"
cat > "$output/open_file.cpp" <<'PROGRAM'
#include <cstdio>
#include "regular_file.h"
int main(int argc, char** argv) {
    const fsound::OpenedFile file = fsound::OpenRegularFile(argc > 1 ? argv[1] : "", 1 << 20);
    std::printf("%d\n", static_cast<int>(file.failure));
    fsound::CloseFile(file.descriptor);
    return 0;
}
PROGRAM
"$compiler" -std=c++17 -Wall -Wextra -Werror -I"$fsound_source" \
  "$output/open_file.cpp" "$output/regular_file_windows.obj" -o "$output/open_file.exe"
