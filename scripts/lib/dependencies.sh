# Sourced by scripts/test and scripts/play: makes sure the Debian packages
# that the build and the tests need are installed.
#
# ensure_packages PACKAGE... installs what is missing with apt-get when run
# as root; otherwise it names the packages to install and fails.

ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# What building the player and its tools needs (libusb for fenk-send).
BUILD_PACKAGES=(build-essential cmake pkg-config libsdl2-dev libpulse-dev libsndfile1-dev
                nlohmann-json3-dev libcli11-dev libusb-1.0-0-dev)
# What the test suite needs on top: the tests themselves (libtifiles and
# libticalcs, the TI link software's libraries, are the peers of the song
# file and link tests, linked into those tests only; umockdev and libpcap
# fake fenk-send's calculators), then the lint
# (clang-tidy, cppcheck) and fuzz (clang with its libFuzzer and sanitizer
# runtimes) steps of scripts/test, valgrind for scripts/ci/valgrind.sh, and
# the package checks (lintian, man's warnings, file for CPack).
TEST_PACKAGES=(googletest libgtest-dev libgmock-dev libbenchmark-dev
               libtifiles-dev libticalcs-dev libsmf-dev umockdev libpcap-dev
               pulseaudio pulseaudio-utils sox
               clang libclang-rt-14-dev clang-tidy cppcheck valgrind
               lintian man-db file)
# What scripts/windows needs on top of the build: the mingw-w64 compilers
# of the posix thread model, Ninja, autoconf, automake and libtool (libusb
# is built from its git tree), and Wine to run the Windows programs.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
                  binutils-mingw-w64-x86-64 ninja-build autoconf automake libtool
                  wine wine64 unzip)
# What scripts/web needs on top: clang 14 for wasm32-wasi with lld and the
# wasm32 builds of wasi-libc, libc++ and libc++abi; Ninja; Node and npm for
# the tests and the server; Debian's Chromium, which the browser tests drive.
WEB_PACKAGES=(clang-14 lld-14 llvm-14 libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 wasi-libc
              libclang-rt-14-dev-wasm32 ninja-build chromium)
