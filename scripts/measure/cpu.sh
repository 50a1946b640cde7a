#!/usr/bin/env bash
# The player's own CPU time while it plays: a 10 s four-voice song through
# SDL's disk driver (into a file) and its dummy driver, with the user and
# system CPU seconds of the whole process (every thread, from the shell's
# getrusage of the child) over the wall seconds, as a percent of one core.
# A run of a song of one silent 5 ms row (start-up, sample load, the 2.5 s
# pause at the end) gives the fixed part, so the cost of playing itself is shown apart.
#
# Usage: scripts/measure/cpu.sh BUILD_DIR [DRIVER...]
#   BUILD_DIR holds bin/fenk, bin/fenk-make and bin/square.wav (built
#   beforehand, e.g. cmake --build BUILD_DIR --target fenk fenk-make
#   square-wav); nothing is built here.
#   DRIVER: SDL audio drivers to measure (default: disk dummy); pulseaudio
#   plays to the server named by PULSE_SERVER through fsound's own
#   PulseAudio output (FENK_AUDIO=sdl set beforehand: through SDL's driver).
# This is a measurement, not a test: it prints figures and fails only when
# the player does.
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [DRIVER...]}
shift
drivers=("$@")
[ ${#drivers[@]} -gt 0 ] || drivers=(disk dummy)
fenk=$build/bin/fenk
make=$build/bin/fenk-make
for program in "$fenk" "$make"; do
  [ -x "$program" ] || { echo "$program is missing: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 20 rows of 100 ticks (0.5 s each), four voices changing every row.
{
  echo 'title "CPU"'
  echo 'name CPU'
  echo 'section chords'
  for row in $(seq 0 19); do
    echo "  $((60 + row)) $((120 + 2 * row)) $((80 + row)) $((160 + 3 * row)) 100t"
  done
  echo 'end'
  echo 'order chords'
} >"$work/song.txt"
# The fixed part: one silent row of one tick.
printf 'title "Empty"\nname EMPTY\nsection rest\n  0 0 0 0 1t\nend\norder rest\n' >"$work/empty.txt"
"$make" "$work/song.txt" "$work/song.8xp" >/dev/null
"$make" "$work/empty.txt" "$work/empty.8xp" >/dev/null

# run DRIVER SONG SAMPLE_AT: prints "wall user sys" in seconds. When
# SAMPLE_AT is not 0, the CPU time of each of the player's threads so far is
# noted in $work/threads.txt that many seconds after the start (read with
# shell builtins only, so the measuring adds next to nothing to the times).
run() {
  local driver=$1 song=$2 sampleAt=$3 status=0
  local TIMEFORMAT='%3R %3U %3S'
  : >"$work/threads.txt"
  { time (
      SDL_AUDIODRIVER=$driver SDL_DISKAUDIOFILE="$work/disk.raw" \
        "$fenk" "$song" </dev/null >"$work/out.txt" 2>"$work/err.txt" &
      pid=$!
      if [ "$sampleAt" != 0 ]; then
        sleep "$sampleAt"
        for task in "/proc/$pid"/task/*; do
          read -r name <"$task/comm" || continue
          read -r onCpu _ <"$task/schedstat" || continue
          echo "$name $onCpu" >>"$work/threads.txt"
        done
      fi
      wait "$pid"
    ) || status=$?; } 2>"$work/time.txt"
  rm -f "$work/disk.raw"
  if [ "$status" -ne 0 ] || ! grep -q 'Shutting down FMOD...Done.' "$work/out.txt"; then
    echo "fenk failed with the $driver driver (status $status):" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    return 1
  fi
  cat "$work/time.txt"
}

echo "fenk's CPU time, user + system over wall time, in percent of one core"
for driver in "${drivers[@]}"; do
  # Sampled in the pause after the last row, 11 s in.
  read -r wall user sys < <(run "$driver" "$work/song.8xp" 11)
  # The library's own figure on the last status line.
  library=$(tr '\r' '\n' <"$work/out.txt" | sed -n 's/.*CPU:\([0-9.]*\)%.*/\1/p' | tail -n 1)
  threads=$(awk '{ printf "%s%s %.3f s", sep, $1, $2 / 1e9; sep = ", " }' "$work/threads.txt")
  read -r emptyWall emptyUser emptySys < <(run "$driver" "$work/empty.8xp" 0)
  awk -v d="$driver" -v w="$wall" -v u="$user" -v s="$sys" \
      -v ew="$emptyWall" -v eu="$emptyUser" -v es="$emptySys" -v lib="$library" 'BEGIN {
    cpu = u + s; fixed = eu + es; play = w - ew
    printf "%-10s whole run: %.3f s CPU (user %.3f, sys %.3f) in %.3f s = %.3f %%\n", d, cpu, u, s, w, 100 * cpu / w
    printf "%-10s no rows:   %.3f s CPU in %.3f s = %.3f %%\n", d, fixed, ew, 100 * fixed / ew
    if (play > 0) printf "%-10s playing:   %.3f s CPU more over %.3f s more = %.3f %%\n", d, cpu - fixed, play, 100 * (cpu - fixed) / play
    printf "%-10s the library'\''s own figure on the last status line: %s %%\n", d, lib
  }'
  echo "$(printf '%-10s' "$driver") CPU by thread 11 s in: $threads"
done
