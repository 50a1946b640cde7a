#!/usr/bin/env bash
# fenk beside a tracker player: the same four-voice tune (256 rows of 50 ms,
# a looped 32-frame square, two voices a side) as a Fenk song and as a
# four-channel ProTracker module, played by fenk (through fsound's own
# PulseAudio output, and through SDL's driver with FENK_AUDIO=sdl),
# fenk-live and openmpt123 (Debian's libopenmpt player, 8-tap interpolation
# at 48000 Hz) into the PulseAudio server of PULSE_SERVER, and rendered by fenk-render and
# openmpt123 to 16-bit WAV at 32000 Hz (409.6 s of song; the tune's own
# render, less its share at that speed, is the start-up cost). Interleaved,
# RUNS rounds (default 2); prints a table of CPU share (user + system over
# wall time, whole process), render speed and peak memory (maximum RSS),
# and one of the share of each thread of fenk and fenk-live while playing.
#
# Usage: PULSE_SERVER=unix:/path/native scripts/measure/compare.sh BUILD_DIR
#   BUILD_DIR holds bin/fenk, bin/fenk-live, bin/fenk-make, bin/fenk-render
#   and bin/square.wav, built beforehand. A private server: source
#   scripts/lib/pulse.sh; start_private_pulse /tmp/fenk-pulse; then
#   PULSE_SERVER=$FENK_TEST_PULSE_SERVER.
# A measurement, not a test: it prints figures and fails only when a
# program does.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
runs=${RUNS:-2}
[ -n "${PULSE_SERVER:-}" ] || { echo "PULSE_SERVER must name a PulseAudio server" >&2; exit 1; }
# shellcheck source=../lib/dependencies.sh
source "$root/scripts/lib/dependencies.sh"
ensure_packages openmpt123 time python3
for program in fenk fenk-live fenk-make fenk-render; do
  [ -x "$build/bin/$program" ] || { echo "$build/bin/$program is missing: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The tune, written both ways: tune.txt and tune.mod (12.8 s), long.txt and
# long.mod (the tune 32 times, 409.6 s: a module's order list holds 128).
python3 "$root/scripts/measure/tune.py" "$work"
for name in tune long; do
  "$build/bin/fenk-make" "$work/$name.txt" "$work/$name.8xp" >/dev/null
done

# measure LABEL COMMAND...: appends "LABEL wall user sys maxrss_kib" to
# $work/figures (GNU time's getrusage of the whole process).
measure() {
  local label=$1; shift
  /usr/bin/time -o "$work/time.txt" -f '%e %U %S %M' "$@" </dev/null >"$work/out.txt" 2>&1 || {
    local status=$?
    # fenk-live is stopped by SIGINT on purpose (status 130 as time reports it).
    if [ "$label" != fenk-live ]; then
      echo "$label failed (status $status):" >&2; cat "$work/out.txt" >&2; return 1
    fi
  }
  echo "$label $(tail -n 1 "$work/time.txt")" >>"$work/figures"
}

# threads LABEL COMMAND...: starts the player, and from 1 s to 12 s into the
# tune appends "LABEL-THREAD share" to $work/threads for each of its threads
# (on-CPU time from /proc's schedstat over those 11 s, % of a core): the
# main thread's 5 ms ticks apart from the audio thread's wakes and mixing.
threads() {
  local label=$1; shift
  "$@" </dev/null >/dev/null 2>&1 &
  local pid=$! task after
  sleep 1
  declare -A start
  for task in "/proc/$pid/task"/*; do start[$task]=$(cut -d' ' -f1 "$task/schedstat"); done
  sleep 11
  for task in "${!start[@]}"; do
    after=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || continue
    echo "$label-$(cat "$task/comm") $(awk -v a="${start[$task]}" -v b="$after" 'BEGIN { printf "%.3f", (b - a) / 11e9 * 100 }')"
  done >>"$work/threads"
  kill -INT "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

: >"$work/figures"
: >"$work/threads"
export SDL_AUDIODRIVER=pulseaudio
for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  measure fenk "$build/bin/fenk" "$work/tune.8xp"
  measure openmpt123 openmpt123 --batch --quiet --driver pulseaudio "$work/tune.mod"
  measure fenk-sdl env FENK_AUDIO=sdl "$build/bin/fenk" "$work/tune.8xp"
  # fenk-live stays at the end: stopped 1 s after the song's 12.8 s.
  measure fenk-live timeout -s INT 14 "$build/bin/fenk-live" "$work/tune.8xp"
  threads fenk "$build/bin/fenk" "$work/tune.8xp"
  threads fenk-live "$build/bin/fenk-live" "$work/tune.8xp"
  for name in long tune; do
    measure "fenk-render-$name" "$build/bin/fenk-render" "$work/$name.8xp" "$work/$name.wav" --rate 32000
    measure "openmpt123-render-$name" openmpt123 --render --force --quiet --samplerate 32000 --no-float \
      --output-type wav "$work/$name.mod"
  done
done

# Per program: CPU share while playing and render speed (409.6 s of song
# over the wall time), the range over the rounds; the start-up cost (the
# tune's render less 12.8 s at the long render's best speed); peak memory,
# the largest.
awk '
  { key = $1; wall[key] = wall[key] " " $2
    cpu = 100 * ($3 + $4) / $2
    if (!(key in lowc) || cpu < lowc[key]) lowc[key] = cpu
    if (cpu > highc[key]) highc[key] = cpu
    if (!(key in fast) || $2 < fast[key]) fast[key] = $2
    if (!(key in slow) || $2 > slow[key]) slow[key] = $2
    if ($5 > rss[key]) rss[key] = $5 }
  END {
    f = "fenk-render-long"; o = "openmpt123-render-long"
    printf "| | fenk | openmpt123 | ratio |\n|---|---|---|---|\n"
    printf "| CPU while playing, whole process | %.2f-%.2f %% | %.2f-%.2f %% | %.2f |\n", \
      lowc["fenk"], highc["fenk"], lowc["openmpt123"], highc["openmpt123"], \
      (lowc["fenk"] + highc["fenk"]) / (lowc["openmpt123"] + highc["openmpt123"])
    printf "| fenk through SDL (FENK_AUDIO=sdl) | %.2f-%.2f %% | | %.2f |\n", \
      lowc["fenk-sdl"], highc["fenk-sdl"], \
      (lowc["fenk-sdl"] + highc["fenk-sdl"]) / (lowc["openmpt123"] + highc["openmpt123"])
    printf "| fenk-live playing (and 1 s at the end) | %.2f-%.2f %% | | %.2f |\n", \
      lowc["fenk-live"], highc["fenk-live"], \
      (lowc["fenk-live"] + highc["fenk-live"]) / (lowc["openmpt123"] + highc["openmpt123"])
    printf "| render to 16-bit WAV at 32000 Hz, 409.6 s of song | %.0f-%.0fx real time | %.0f-%.0fx | %.2f |\n", \
      409.6 / slow[f], 409.6 / fast[f], 409.6 / slow[o], 409.6 / fast[o], fast[o] / fast[f]
    printf "| render start-up (the 12.8 s tune, less its share) | %.0f ms | %.0f ms | |\n", \
      1000 * (fast["fenk-render-tune"] - 12.8 * fast[f] / 409.6), \
      1000 * (fast["openmpt123-render-tune"] - 12.8 * fast[o] / 409.6)
    printf "| peak memory | %.1f MiB (through SDL %.1f, fenk-render %.1f, fenk-live %.1f) | %.1f MiB (render %.1f) | %.2f |\n", \
      rss["fenk"] / 1024, rss["fenk-sdl"] / 1024, rss[f] / 1024, rss["fenk-live"] / 1024, \
      rss["openmpt123"] / 1024, rss[o] / 1024, rss["fenk"] / rss["openmpt123"]
  }' "$work/figures"

# Each thread's share while playing, the range over the rounds (threads
# that used less than 0.01 % of a core left out).
echo
echo "| thread while playing (1 s to 12 s) | share of a core |"
echo "|---|---|"
awk '{ if (!($1 in low) || $2 < low[$1]) low[$1] = $2; if ($2 > high[$1]) high[$1] = $2 }
  END { for (t in low) if (high[t] >= 0.01) printf "| %s | %.2f-%.2f %% |\n", t, low[t], high[t] }' \
  "$work/threads" | sort
