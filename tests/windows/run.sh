#!/usr/bin/env bash
# Checks the Windows programs under Wine with the tests the Linux programs
# pass: the test programs of the Linux build run the .exe files instead
# (FENK_TEST_WINDOWS_BIN), and the Windows tools' files are compared with
# the Linux tools' own. Then the zip, unpacked into a folder whose name has
# spaces and letters outside the ANSI code page, plays such a song.
#
# Usage: run.sh LINUX_BUILD WINDOWS_BUILD ZIP
# WINEPREFIX and WINEDEBUG come from scripts/windows.
set -euo pipefail
linux=$(cd "$1" && pwd) windows=$(cd "$2" && pwd) zip=$(realpath "$3")
sources=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data/songs" && pwd)
export FENK_TEST_WINDOWS_BIN=$windows/bin
scratch=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT

# One server for every run: a server of its own ends a few seconds after
# its last program, and a program that meets it ending fails ("wine client
# error"). Its services are started first, as they would otherwise hold the
# first test's output pipes open.
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p
wineboot -i >/dev/null 2>&1 || true

failures=0
check() {  # check NAME COMMAND...: runs a check, counts its failure
  local name=$1; shift
  if "$@"; then echo "windows: $name: ok"; else echo "windows: $name: FAILED"; failures=$((failures + 1)); fi
}

# The front end, the terminal (a key, Ctrl+C) and the tools, as on Linux.
# Left out: FLAC and Ogg output (the Windows libsndfile is built without
# external codecs); the runs whose rows are located by timing (Wine cannot
# write into a FIFO, so its disk driver keeps its own pace).
check "fenk" "$linux/bin/fenk_program_tests"
check "fenk-make and fenk-info" "$linux/bin/tools_test"
check "fenk-render" "$linux/bin/render_test" --gtest_filter=-*WritesTheFormatTheExtensionNames:*OpusAtItsOwnRate
check "disk driver" "$linux/bin/e2e_disk_tests" \
  --gtest_filter=-*EveryRowLastsItsTicks*:*StereoRunShowsEveryRow*
if [ -n "${FENK_TEST_PULSE_SERVER:-}" ]; then
  check "Wine's sound output into PulseAudio" "$linux/bin/e2e_pulse_tests"
else
  echo "windows: no PulseAudio server: the sound-output run is skipped"
fi

# fenk-live.exe draws its screen and takes its keys from a file on standard
# input (its console keys are Windows' own; Wine draws its console through
# a terminal of its own).
live_screen() {
  local out
  printf 'q' >"$scratch/q"
  out=$(SDL_AUDIODRIVER=dummy wine "$windows/bin/fenk-live.exe" "$sources/demo.txt" <"$scratch/q" | tr -d '\r')
  grep -q "Entry    1/7  opening" <<<"$out" && grep -q "Title    Ode to Joy" <<<"$out" &&
    [[ "$out" == *$'\e[?25h\e[?1049l' ]]
}
check "fenk-live.exe: its screen, and q from standard input" live_screen

# fenk-send.exe starts libusb and looks for calculators: Wine has no USB
# devices, so it finds none.
send_list() {
  local out
  out=$(wine "$windows/bin/fenk-send.exe" --list </dev/null | tr -d '\r')
  [ "$out" = "No calculator or cable found." ] || { echo "fenk-send.exe --list printed: $out"; return 1; }
}
check "fenk-send.exe --list under Wine, which has no USB devices" send_list

# The same files from the Windows tools as from the Linux ones.
same_files() {
  local song out
  for song in "$linux"/bin/songs/*.8xp; do
    out=$scratch/$(basename "$song" .8xp)
    "$linux/bin/fenk-render" "$song" "$out-linux.wav" >/dev/null 2>&1
    wine "$windows/bin/fenk-render.exe" "$song" "$out-windows.wav" >/dev/null 2>&1
    cmp "$out-linux.wav" "$out-windows.wav" || return 1
    "$linux/bin/fenk-info" "$song" >"$out-linux.txt"
    wine "$windows/bin/fenk-info.exe" "$song" | tr -d '\r' >"$out-windows.txt"
    cmp "$out-linux.txt" "$out-windows.txt" || return 1
    "$linux/bin/fenk-info" --json "$song" >"$out-linux.json"
    wine "$windows/bin/fenk-info.exe" --json "$song" | tr -d '\r' >"$out-windows.json"
    cmp "$out-linux.json" "$out-windows.json" || return 1
  done
  local source
  for source in "$sources"/*.txt; do
    [ "$(basename "$source")" = CMakeLists.txt ] && continue
    out=$scratch/$(basename "$source" .txt)
    "$linux/bin/fenk-make" "$source" "$out-linux.8xp"
    wine "$windows/bin/fenk-make.exe" "$source" "$out-windows.8xp"
    cmp "$out-linux.8xp" "$out-windows.8xp" || return 1
  done
}
check "the tools' files equal the Linux tools' own" same_files

# The zip as a user unpacks it: a folder with spaces and non-ANSI letters,
# fenk.exe started from elsewhere, a song named outside the code page.
unpacked_zip() {
  local folder="$scratch/Dossier été ♪" songs="$scratch/Chansons ♪" out expected
  mkdir -p "$folder" "$songs"
  unzip -q "$zip" -d "$folder"
  local fenk
  fenk=$(ls "$folder"/fenk-*-win64/fenk.exe)
  cp "$linux/bin/songs/frere-jacques.8xp" "$songs/Frère Jacques ♪.8xp"
  # A byte waiting in standard input is a key: the song stops at its first
  # row. (A file: Wine cannot look into a Unix pipe, as PeekNamedPipe does
  # into a Windows one.)
  echo k >"$scratch/key"
  out=$(cd "$songs" && SDL_AUDIODRIVER=dummy wine "$fenk" "Frère Jacques ♪.8xp" -l <"$scratch/key" | sed 's/\r$//')
  expected=$(cd "$songs" && SDL_AUDIODRIVER=dummy "$linux/bin/fenk" "Frère Jacques ♪.8xp" -l <"$scratch/key")
  [ "$(sed 's/CPU:[0-9.]*%/CPU:#/g' <<<"$out")" = "$(sed 's/CPU:[0-9.]*%/CPU:#/g' <<<"$expected")" ] || {
    echo "fenk.exe from the zip printed:"; echo "$out" | head -20; return 1; }
  grep -q "Loading sample 'square.wav'...Done." <<<"$out" || return 1
  cmp "$sources/../../LICENSE" "$(dirname "$fenk")/LICENSE.txt" || { echo "the zip's LICENSE.txt is not LICENSE"; return 1; }
  out=$(cd "$songs" && wine "$fenk" "Été manquant ♪.8xp" </dev/null | sed 's/\r$//'; true)
  grep -qx "Error loading Été manquant ♪.8xp!" <<<"$out"
}
check "the zip in a folder named 'Dossier été ♪'" unpacked_zip

[ "$failures" -eq 0 ] || { echo "windows: $failures checks failed"; exit 1; }
echo "windows: all checks passed"
