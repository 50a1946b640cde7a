#!/usr/bin/env bash
# How long fenk-make's MIDI import takes on a long arrangement, and with
# --fit (the longest start that fits a program): a 29-minute MIDI file
# written here (four lines: a tune, two inner voices, a bass; its tempo
# changing every beat, 3480 changes), with the fenk-make of BUILD_DIR
# and, when given, of OLD_BUILD_DIR beside it in the same rounds. RUNS
# rounds (default 3); prints each one's best and worst wall time and CPU
# time (user + system) for the whole import (which fenk-make refuses: too
# big for a program) and for --fit, and what --fit kept.
#
# Usage: scripts/measure/midi-fit.sh BUILD_DIR [OLD_BUILD_DIR]
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
ensure_packages time python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/long.mid" <<'PYTHON'
import math, struct, sys
ppq = 480
bars = 870          # 4/4 at about 30 bars a minute: 29 minutes
def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, 0x80 | (n & 0x7F))
        n >>= 7
    return bytes(out)
def track(events):
    # events: (tick, bytes), sorted by tick
    data, last = b'', 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        data += vlq(tick - last) + message
        last = tick
    data += vlq(0) + b'\xff\x2f\x00'
    return b'MTrk' + struct.pack('>I', len(data)) + data
conductor = [(0, b'\xff\x58\x04\x04\x02\x18\x08')]
for bar in range(bars):
    # 96..144 beats a minute, a new tempo every beat (as a tempo map played
    # in by hand has it): 3480 changes.
    for beat in range(4):
        bpm = 120 + 24 * math.sin((4 * bar + beat) / 13.0)
        conductor.append(((4 * bar + beat) * ppq, b'\xff\x51\x03' + struct.pack('>I', round(60e6 / bpm))[1:]))
seed = 12345
def rand(n):
    global seed
    seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
    return (seed >> 8) % n
lines = []
# channel, lowest key, span, note length in pulses
for channel, low, span, length in ((0, 72, 15, ppq // 4), (1, 64, 8, ppq), (2, 57, 8, ppq), (3, 40, 12, 2 * ppq)):
    events = []
    for at in range(0, bars * 4 * ppq, length):
        key = low + rand(span)
        events.append((at, bytes([0x90 | channel, key, 80])))
        events.append((at + length - ppq // 16, bytes([0x80 | channel, key, 0])))
    lines.append(events)
tracks = [track(conductor)] + [track(events) for events in lines]
header = b'MThd' + struct.pack('>IHHH', 6, 1, len(tracks), ppq)
open(sys.argv[1], 'wb').write(header + b''.join(tracks))
PYTHON


: >"$work/figures"
for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  for side in new old; do
    make="$build/bin/fenk-make"
    if [ "$side" = old ]; then
      [ -n "$old" ] || continue
      make="$old/bin/fenk-make"
    fi
    measure "$side-import" 1 "$make" "$work/long.mid" "$work/$side.8xp"
    measure "$side-fit" 0 "$make" --fit "$work/long.mid" "$work/$side.8xp"
  done
done

echo "29-minute MIDI file, 3480 tempo changes, four lines"
awk "$timing_ranges"'
  END {
    printf "| fenk-make | wall time | CPU time |\n|---|---|---|\n"
    n = split("old-import new-import old-fit new-fit", order, " ")
    for (k = 1; k <= n; ++k) {
      p = order[k]
      if (!(p in fast)) continue
      label = p; sub(/^old-/, "before: ", label); sub(/^new-/, "", label)
      sub(/import$/, "the whole file (too big)", label); sub(/fit$/, "--fit", label)
      printf "| %s | %.2f-%.2f s | %.2f-%.2f s |\n", label, fast[p], slow[p], low[p], high[p]
    }
  }' "$work/figures"
for side in old new; do
  [ -f "$work/$side-fit.out" ] || continue
  echo "$side --fit: $(grep -E 'cut at bar|length:' "$work/$side-fit.out" | tr -s ' ' | tr '\n' ' ')"
done
