# Sourced by scripts/web: builds libsndfile (no external codec libraries)
# for wasm32-wasi as a static library from the source archive in DEPS, into
# a prefix that is kept and reused until the archive, this file or the
# toolchain file changes. nlohmann-json's headers are copied beside it.
#
# build_web_deps ROOT DEPS OUTPUT_DIR prints the prefix on its last line.

build_web_deps() {
  local root=$1 deps=$2 output=$3
  local archive="$deps/libsndfile-1.2.2.tar.gz"
  [ -f "$archive" ] || { echo "web: $archive is missing" >&2; return 1; }
  (cd "$deps" && grep ' libsndfile-1.2.2.tar.gz$' SHA256SUMS | sha256sum --quiet --strict -c -) || {
    echo "web: $archive does not match its SHA256SUMS" >&2
    return 1
  }
  local key
  key=$(cat "$archive" "${BASH_SOURCE[0]}" "$root/cmake/wasm32-wasi.cmake" | sha256sum | cut -c1-16)
  local prefix="$output/deps-$key"
  if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    return 0
  fi
  rm -rf "$output"/deps-* "$output/deps-work"
  local work="$output/deps-work"
  mkdir -p "$work"
  tar xzf "$archive" -C "$work"
  echo "web: building libsndfile for wasm32-wasi (no external codecs)" >&2
  cmake -S "$work/libsndfile-1.2.2" -B "$work/sndfile-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/wasm32-wasi.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF \
    -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    -DBUILD_REGTEST=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF \
    -DINSTALL_PKGCONFIG_MODULE=ON >&2
  cmake --build "$work/sndfile-build" --target install >&2
  mkdir -p "$prefix/include" "$prefix/licences"
  cp -r /usr/include/nlohmann "$prefix/include/"
  cp "$work/libsndfile-1.2.2/COPYING" "$prefix/licences/libsndfile.txt"
  rm -rf "$work"
  touch "$prefix/.complete"
  echo "$prefix"
}
