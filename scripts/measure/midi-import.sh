#!/usr/bin/env bash
# How much of the tune fenk-make's MIDI import keeps, on real arrangements
# no one here wrote: the ABC tunes among the examples of Debian's abcmidi
# and abcm2ps packages, made into MIDI files by abc2midi (which adds chords
# and a bass from the chord symbols, and drums where a tune asks). For
# each file: the melody and the bass kept (tune_kept: the share of 10 ms
# moments at which the highest and the lowest non-percussion note sound in
# the song) and the .8xp's size, with the fenk-make of BUILD_DIR and, when
# given, beside it the fenk-make of OLD_BUILD_DIR; then the mean and the
# worst of each column. GRID (such as 1/16) is passed as --grid to the new
# one when given.
#
# Usage: scripts/measure/midi-import.sh BUILD_DIR [OLD_BUILD_DIR] [GRID]
#   BUILD_DIR holds bin/fenk-make and bin/tune_kept (bench/), built
#   beforehand; OLD_BUILD_DIR bin/fenk-make.
# A measurement, not a test: it prints figures.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=../lib/dependencies.sh
source "$root/scripts/lib/dependencies.sh"
ensure_packages abcmidi abcm2ps

new=${1:?usage: scripts/measure/midi-import.sh BUILD_DIR [OLD_BUILD_DIR] [GRID]}
old=${2:-}
grid=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# abc2midi writes one file a tune, named after the source and the tune's
# number, into the current folder.
mkdir -p "$work/mid"
for abc in /usr/share/doc/abcmidi/examples/*.abc /usr/share/doc/abcm2ps/examples/*.abc; do
  (cd "$work/mid" && cp "$abc" . && abc2midi "$(basename "$abc")" >/dev/null 2>&1 || true; rm -f "$(basename "$abc")")
done

# melody, bass and bytes of one import, or "- - -" when it fails.
measure() {
  local make=$1 midi=$2 out=$3
  shift 3
  if "$make" "$midi" "$out" "$@" >/dev/null 2>&1; then
    read -r _ melody _ bass _ < <("$new/bin/tune_kept" "$midi" "$out")
    echo "$melody $bass $(stat -c %s "$out")"
  else
    echo "- - -"
  fi
}

printf '%-22s %8s %8s %8s' file melody bass bytes
[ -n "$old" ] && printf ' | %8s %8s %8s' 'before' 'bass' 'bytes'
printf '\n'
rows=()
for midi in "$work"/mid/*.mid; do
  name=$(basename "$midi" .mid)
  after=$(measure "$new/bin/fenk-make" "$midi" "$work/new.8xp" ${grid:+--grid "$grid"})
  line="$name $after"
  printf '%-22s %8s %8s %8s' "$name" $after
  if [ -n "$old" ]; then
    before=$(measure "$old/bin/fenk-make" "$midi" "$work/old.8xp")
    printf ' | %8s %8s %8s' $before
    line="$line $before"
  fi
  printf '\n'
  rows+=("$line")
done
printf '%s\n' "${rows[@]}" | awk -v old="$old" '
  function take(column, value) { if (value == "-") return; sum[column] += value; count[column]++;
                                 if (!(column in worst) || value < worst[column]) worst[column] = value }
  { for (k = 2; k <= NF; ++k) take(k, $k) }
  END {
    printf "%-22s %8.1f %8.1f %8.0f", "mean", sum[2] / count[2], sum[3] / count[3], sum[4] / count[4]
    if (old != "") printf " | %8.1f %8.1f %8.0f", sum[5] / count[5], sum[6] / count[6], sum[7] / count[7]
    printf "\n%-22s %8.1f %8.1f %8s", "worst", worst[2], worst[3], ""
    if (old != "") printf " | %8.1f %8.1f %8s", worst[5], worst[6], ""
    printf "\n%d files\n", NR
  }'
