# Sourced by scripts/windows: cross-builds SDL2 (its audio only),
# libsndfile (no external codec libraries) and libusb (for fenk-send) for
# 64-bit Windows from the source archives in $FENK_WINDOWS_DEPS, into a
# prefix that is kept and reused until an archive, this file or the
# toolchain file changes.
#
# build_windows_deps ROOT DEPS OUTPUT_DIR prints the prefix on its last line.

build_windows_deps() {
  local root=$1 deps=$2 output=$3
  (cd "$deps" && sha256sum --quiet --strict -c SHA256SUMS) || {
    echo "windows: the archives in $deps do not match their SHA256SUMS" >&2
    return 1
  }
  local key
  key=$(cat "$deps/SHA256SUMS" "${BASH_SOURCE[0]}" "$root/cmake/mingw-w64.cmake" |
        sha256sum | cut -c1-16)
  local prefix="$output/deps-$key"
  if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    return 0
  fi
  rm -rf "$output"/deps-* "$output/deps-work"
  local work="$output/deps-work"
  mkdir -p "$work"
  tar xzf "$deps/SDL2-2.30.9.tar.gz" -C "$work"
  tar xzf "$deps/libsndfile-1.2.2.tar.gz" -C "$work"
  tar xzf "$deps/libusb-1.0.29.tar.gz" -C "$work"

  local common=(-G Ninja -DCMAKE_BUILD_TYPE=Release
                -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake"
                -DCMAKE_INSTALL_PREFIX="$prefix")
  echo "windows: building SDL2 (audio only)" >&2
  cmake -S "$work/SDL2-2.30.9" -B "$work/sdl2-build" "${common[@]}" \
    -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=ON \
    -DSDL_VIDEO=OFF -DSDL_RENDER=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF \
    -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF -DSDL_POWER=OFF -DSDL_LOCALE=OFF \
    -DSDL_MISC=OFF >&2
  cmake --build "$work/sdl2-build" --target install >&2

  echo "windows: building libsndfile (no external codecs)" >&2
  cmake -S "$work/libsndfile-1.2.2" -B "$work/sndfile-build" "${common[@]}" \
    -DBUILD_SHARED_LIBS=ON -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF \
    -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF \
    -DBUILD_REGTEST=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF \
    -DINSTALL_PKGCONFIG_MODULE=ON >&2
  cmake --build "$work/sndfile-build" --target install >&2

  # libusb's archive is its git tree: autogen.sh makes and runs configure
  # (autoconf, automake, libtool). A DLL, as its LGPL wants it.
  echo "windows: building libusb" >&2
  (cd "$work/libusb-1.0.29" &&
    ./autogen.sh --host=x86_64-w64-mingw32 --prefix="$prefix" --enable-shared --disable-static \
      CC=x86_64-w64-mingw32-gcc-posix >&2 &&
    make -j"$(nproc)" install >&2)

  # The licences go into the zip beside the DLLs.
  mkdir -p "$prefix/licences"
  cp "$work/SDL2-2.30.9/LICENSE.txt" "$prefix/licences/SDL2.txt"
  cp "$work/libsndfile-1.2.2/COPYING" "$prefix/licences/libsndfile.txt"
  cp "$work/libusb-1.0.29/COPYING" "$prefix/licences/libusb.txt"
  rm -rf "$work"
  touch "$prefix/.complete"
  echo "$prefix"
}
