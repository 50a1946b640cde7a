#!/bin/sh
# Builds the Debian packages from a configured, built tree and checks them:
# - what each holds: fenk the programs, the data and the man pages;
#   libfsound1 the versioned library; fenk-dev the headers, the libfsound.so
#   link, fsound.pc and the CMake package; all under /usr;
# - lintian: no error and no warning (those we keep are overridden in the
#   package, with the reason), and man's own warnings on every man page;
# - the fenk package unpacked under a prefix of its own renders a demo song
#   with its own square.wav;
# - with INSTALL=yes, as root: the packages installed with dpkg, fenk plays
#   the demo song from /usr through SDL's disk driver, and a C program is
#   built against the installed fenk-dev through pkg-config and through
#   CMake and run; then the packages are purged again.
# Usage: check_deb.sh BUILD_DIR WORK_DIR SOURCE_DIR INSTALL(yes|no)
# Exits 77 (skipped) when cpack or dpkg-deb is not installed.
set -eu
build=$1 work=$2 source=$3 install=$4
for tool in cpack dpkg-deb; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool not found (Debian packages cmake and dpkg)"
    exit 77
  fi
done
rm -rf "$work"
mkdir -p "$work/packages" "$work/unpacked" "$work/elsewhere"
(cd "$build" && cpack -G DEB -B "$work/packages" --config "$build/CPackConfig.cmake") \
  >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

package_file() { ls "$work"/packages/"$1"_*.deb 2>/dev/null | head -n 1; }
player=$(package_file fenk) library=$(package_file libfsound1) development=$(package_file fenk-dev)
[ -n "$player" ] && [ -n "$library" ] && [ -n "$development" ] ||
  { echo "FAIL: fenk, libfsound1 and fenk-dev are not all made"; ls "$work/packages"; exit 1; }

# contents PACKAGE NAME WANTED...: every WANTED path (below usr/) is in it.
contents() {
  package=$1 name=$2; shift 2
  dpkg-deb -c "$package" | awk '{print $6}' | sed 's|^\./||' >"$work/$name.txt"
  echo "$name:"; sed 's/^/  /' "$work/$name.txt"
  for wanted in "$@"; do
    grep -Eq "^usr/$wanted\$" "$work/$name.txt" || fail "$name lacks usr/$wanted"
  done
  if grep -v '^usr/' "$work/$name.txt" | grep -q .; then fail "$name installs outside /usr"; fi
}
contents "$player" fenk bin/fenk bin/fenk-make bin/fenk-info bin/fenk-render bin/fenk-live \
  bin/fenk-send share/fenk/square.wav share/fenk/songs/demo.8xp share/man/man1/fenk.1.gz \
  share/man/man1/fenk-live.1.gz share/man/man1/fenk-send.1.gz lib/udev/rules.d/70-fenk-calculators.rules \
  share/doc/fenk/copyright share/doc/fenk/changelog.gz
contents "$library" libfsound1 'lib/[^/]*/libfsound\.so\.1' 'lib/[^/]*/libfsound\.so\.1\.[0-9.]*' \
  share/doc/libfsound1/copyright
contents "$development" fenk-dev include/fsound.h include/fsound_offline.h \
  include/fsound_errors.h include/fsound_timing.h 'lib/[^/]*/libfsound\.so' \
  'lib/[^/]*/pkgconfig/fsound\.pc' 'lib/[^/]*/cmake/fsound/fsoundConfig\.cmake'
for package in "$player" "$library" "$development"; do
  dpkg-deb --fsys-tarfile "$package" | tar -xO --wildcards './usr/share/doc/*/copyright' |
    grep -q '^License: Expat$' || fail "$(basename "$package"): the copyright file names no Expat licence"
done
if grep -q '\.h$\|libfsound' "$work/fenk.txt"; then fail "fenk holds the library or headers"; fi
[ "$(dpkg-deb -f "$library" Section)" = libs ] || fail "libfsound1 is not in section libs"
dpkg-deb -f "$player" Depends | grep -q 'libfsound1 (= ' || fail "fenk does not depend on libfsound1"
dpkg-deb --ctrl-tarfile "$library" | tar -xO ./shlibs 2>/dev/null | grep -q '^libfsound 1 libfsound1' ||
  fail "libfsound1 has no shlibs entry"
dpkg-deb --ctrl-tarfile "$library" | tar -xO ./triggers 2>/dev/null | grep -qx 'activate-noawait ldconfig' ||
  fail "libfsound1 has no ldconfig trigger"

# Debian's checker, and man's.
if command -v lintian >/dev/null 2>&1; then
  echo "lintian:"
  lintian --tag-display-limit 0 --fail-on error,warning "$player" "$library" "$development" \
    >"$work/lintian.log" 2>&1 || fail "lintian found errors or warnings"
  grep -v 'running with root privileges' "$work/lintian.log" | sed 's/^/  /'
else
  echo "lintian not installed: its check is skipped"
fi
if command -v man >/dev/null 2>&1; then
  for page in "$source"/docs/man/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man warns about $(basename "$page"): $warnings"
  done
fi

# The unpacked tree: <somewhere>/usr/bin, .../lib, .../share/fenk.
for package in "$player" "$library"; do dpkg-deb -x "$package" "$work/unpacked"; done
render=$work/unpacked/usr/bin/fenk-render song=$work/unpacked/usr/share/fenk/songs/demo.8xp
if ! (cd "$work/elsewhere" && LD_LIBRARY_PATH="$(dirname "$(find "$work/unpacked" -name 'libfsound.so.1')")" \
      "$render" "$song" out.wav) >"$work/render.log" 2>&1; then
  cat "$work/render.log"
  fail "the unpacked fenk-render did not render with its own square.wav"
elif [ ! -s "$work/elsewhere/out.wav" ]; then
  fail "the unpacked fenk-render wrote no sound"
fi

if [ "$install" = yes ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "not root: the packages are not installed here"
  elif dpkg-query -W fenk libfsound1 fenk-dev >/dev/null 2>&1; then
    fail "a fenk package is installed already; the installed packages are not checked"
  else
    trap 'dpkg --purge fenk-dev fenk libfsound1 >/dev/null 2>&1 || true' EXIT
    if ! dpkg -i "$player" "$library" "$development" >"$work/dpkg.log" 2>&1; then
      cat "$work/dpkg.log"; fail "the packages do not install"
    else
      # The demo song from /usr for a second, then a key on standard input.
      (cd "$work/elsewhere" && (sleep 1; echo k) |
        SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/installed.raw" /usr/bin/fenk \
          /usr/share/fenk/songs/demo.8xp) >"$work/play.log" 2>&1 || fail "the installed fenk failed"
      grep -q "Loading sample 'square.wav'...Done." "$work/play.log" ||
        { cat "$work/play.log"; fail "the installed fenk did not find /usr/share/fenk/square.wav"; }
      [ -s "$work/installed.raw" ] || fail "the installed fenk sent no sound to the disk driver"
      # A C program against the installed fenk-dev: pkg-config, then CMake.
      cc -o "$work/client-pkgconfig" "$source/tests/packaging/client/client.c" \
        $(pkg-config --cflags --libs fsound) -lm >"$work/client.log" 2>&1 &&
        "$work/client-pkgconfig" >>"$work/client.log" 2>&1 ||
        { cat "$work/client.log"; fail "the client built through pkg-config did not play"; }
      cmake -S "$source/tests/packaging/client" -B "$work/client-cmake" >>"$work/client.log" 2>&1 &&
        cmake --build "$work/client-cmake" >>"$work/client.log" 2>&1 &&
        "$work/client-cmake/fsound_client" >>"$work/client.log" 2>&1 ||
        { cat "$work/client.log"; fail "the client built through CMake did not play"; }
      grep '^fsound' "$work/client.log" || true
      dpkg --purge fenk-dev fenk libfsound1 >"$work/purge.log" 2>&1 || fail "the packages do not purge"
      [ ! -e /usr/share/fenk ] || fail "purging left /usr/share/fenk behind"
    fi
  fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "packages, lintian, the unpacked player and the installed packages are as they should be"
