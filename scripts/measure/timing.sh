# Sourced by the measuring scripts: times whole commands into a figures
# file, one line a run, and reads the figures back.
#
# measure LABEL STATUS COMMAND...: runs COMMAND with no standard input,
# keeping its output in $work/LABEL.out; it must end with STATUS. Appends
# "LABEL WALL CPU" (seconds; CPU is user + system) to $work/figures.
measure() {
  local label=$1 expected=$2 status=0; shift 2
  /usr/bin/time -o "$work/time.txt" -f '%e %U %S' "$@" </dev/null >"$work/$label.out" 2>&1 || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "$label ended with status $status:" >&2; cat "$work/$label.out" >&2; return 1
  fi
  read -r wall user system < <(tail -n 1 "$work/time.txt")
  echo "$label $wall $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')" >>"$work/figures"
}

# The awk program's first rule for the figures file: per label, the least
# and most wall time (fast, slow) and CPU time (low, high) over the runs.
# An END rule of the caller's prints them.
timing_ranges='
  { if (!($1 in fast) || $2 < fast[$1]) fast[$1] = $2
    if ($2 > slow[$1]) slow[$1] = $2
    if (!($1 in low) || $3 < low[$1]) low[$1] = $3
    if ($3 > high[$1]) high[$1] = $3 }'
