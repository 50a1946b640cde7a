#!/usr/bin/env bash
# fenk-render beside openmpt123 rendering the same tune (scripts/measure/
# tune.py: 409.6 s of a four-voice square) to 16-bit WAV at 32000 Hz, no
# sound server needed. Interleaved, RUNS rounds (default 3), each program
# once a round; with OLD_BUILD_DIR its fenk-render as well, in the same
# rounds. Prints for each the best and worst wall time and CPU time (user +
# system, every thread), its speed (song seconds a wall second) and its
# speed over openmpt123's, best against best, by wall time and by CPU time.
# On a loaded machine the CPU time is the fairer figure: a program waits
# for a core in its wall time, and one of two threads (fenk-render writes
# on one of its own) gets more of the machine than one of one.
#
# Usage: scripts/measure/render.sh BUILD_DIR [OLD_BUILD_DIR]
#   BUILD_DIR holds bin/fenk-make, bin/fenk-render and bin/square.wav.
# A measurement, not a test: it prints figures and fails only when a
# program does.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR [OLD_BUILD_DIR]}" && pwd)
old=${2:+$(cd "$2" && pwd)}
runs=${RUNS:-3}
# shellcheck source=../lib/dependencies.sh
source "$root/scripts/lib/dependencies.sh"
# shellcheck source=timing.sh
source "$root/scripts/measure/timing.sh"
ensure_packages openmpt123 time python3
for program in fenk-make fenk-render; do
  [ -x "$build/bin/$program" ] || { echo "$build/bin/$program is missing: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$root/scripts/measure/tune.py" "$work"
"$build/bin/fenk-make" "$work/long.txt" "$work/long.8xp" >/dev/null


: >"$work/figures"
for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  measure fenk-render 0 "$build/bin/fenk-render" "$work/long.8xp" "$work/fenk.wav" --rate 32000
  measure openmpt123 0 openmpt123 --render --force --quiet --samplerate 32000 --no-float \
    --output-type wav "$work/long.mod"
  if [ -n "$old" ]; then
    measure fenk-render-before 0 "$old/bin/fenk-render" "$work/long.8xp" "$work/old.wav" --rate 32000
  fi
done

awk "$timing_ranges"'
  END {
    printf "| 409.6 s of song, 16-bit WAV at 32000 Hz | wall time | real time | CPU time | over openmpt123 by wall | by CPU |\n"
    printf "|---|---|---|---|---|---|\n"
    n = split("openmpt123 fenk-render-before fenk-render", order, " ")
    for (k = 1; k <= n; ++k) {
      p = order[k]
      if (!(p in fast)) continue
      printf "| %s | %.2f-%.2f s | %.0f-%.0fx | %.2f-%.2f s | %.2f | %.2f |\n", p, fast[p], slow[p], \
        409.6 / slow[p], 409.6 / fast[p], low[p], high[p], fast["openmpt123"] / fast[p], low["openmpt123"] / low[p]
    }
  }' "$work/figures"
