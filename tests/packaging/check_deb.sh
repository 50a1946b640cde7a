#!/bin/sh
# Builds the Debian packages from a configured, built tree and checks them:
# the player's package holds the programs, libfsound.so, square.wav, the
# demo songs and the man pages but no headers, which are in fenk-dev; both
# name a real maintainer. Then the player's package is unpacked under a
# prefix of its own, far from the one the tree was configured for, and its
# fenk-render renders a demo song from another folder: the default sample
# must be found inside the unpacked tree.
# Usage: check_deb.sh BUILD_DIR WORK_DIR
# Exits 77 (skipped) when cpack or dpkg-deb is not installed.
set -eu
build=$1 work=$2
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

player=$(ls "$work"/packages/fenk_*.deb 2>/dev/null | head -n 1)
development=$(ls "$work"/packages/fenk-dev_*.deb 2>/dev/null | head -n 1)
[ -n "$player" ] || { echo "FAIL: no fenk_*.deb made"; ls "$work/packages"; exit 1; }
[ -n "$development" ] || fail "no fenk-dev_*.deb made"

dpkg-deb -c "$player" | awk '{print $6}' | sed 's|^\./||' >"$work/player.txt"
echo "fenk package:"; sed 's/^/  /' "$work/player.txt"
for wanted in bin/fenk bin/fenk-make bin/fenk-info bin/fenk-render bin/fenk-live lib/libfsound.so \
              share/fenk/square.wav share/fenk/songs/demo.8xp share/man/man1/fenk.1 \
              share/man/man1/fenk-live.1; do
  grep -q "/$wanted\$" "$work/player.txt" || fail "fenk package lacks $wanted"
done
if grep -q '\.h$' "$work/player.txt"; then fail "fenk package holds headers"; fi
if [ -n "$development" ]; then
  dpkg-deb -c "$development" | awk '{print $6}' | sed 's|^\./||' >"$work/development.txt"
  for wanted in include/fsound.h include/fsound_offline.h include/fsound_errors.h include/fsound_timing.h; do
    grep -q "/$wanted\$" "$work/development.txt" || fail "fenk-dev package lacks $wanted"
  done
fi
for package in "$player" $development; do
  maintainer=$(dpkg-deb -f "$package" Maintainer)
  case $maintainer in
    *invalid* | "") fail "$(basename "$package"): placeholder maintainer '$maintainer'" ;;
  esac
done

# The unpacked tree: <somewhere>/<prefix>/bin, .../lib, .../share/fenk.
dpkg-deb -x "$player" "$work/unpacked"
render=$(find "$work/unpacked" -path '*/bin/fenk-render' | head -n 1)
song=$(find "$work/unpacked" -path '*/share/fenk/songs/demo.8xp' | head -n 1)
if [ -z "$render" ] || [ -z "$song" ]; then
  fail "fenk-render or the demo song missing from the unpacked package"
elif ! (cd "$work/elsewhere" && "$render" "$song" out.wav) >"$work/render.log" 2>&1; then
  cat "$work/render.log"
  fail "the unpacked fenk-render did not render with its own square.wav"
elif [ ! -s "$work/elsewhere/out.wav" ]; then
  fail "the unpacked fenk-render wrote no sound"
fi

[ "$failures" -eq 0 ] || exit 1
echo "packages and the unpacked player are as they should be"
