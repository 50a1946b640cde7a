#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in a build of their own and runs each one for
# SECONDS seconds (default 60) over its committed corpus in fuzz/corpus/.
# The corpus is only read: what a run finds new goes to a scratch folder in
# the build. Exits non-zero when a target crashes, leaks, times out or fails
# one of its own checks; the input that did it is left in the build folder
# and named in the output. Installs nothing: needs cmake, clang,
# libclang-rt-14-dev and the build dependencies of the project.
#
#   scripts/ci/fuzz.sh [SECONDS]
#   BUILD_DIR=/tmp/fuzz scripts/ci/fuzz.sh 600
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
seconds=${1:-60}
build=${BUILD_DIR:-$root/build/fuzz}
jobs=${JOBS:-2}
targets=(song sample midi link)
# Per target: the longest input tried, in bytes (a song block holds at most
# 64 KiB; a sample file of 64 KiB already decodes to long samples; a MIDI
# file of 8 KiB holds a few thousand notes; 4 KiB of a calculator's answers
# cover a whole send).
declare -A max_len=([song]=8192 [sample]=65536 [midi]=8192 [link]=4096)

for tool in cmake clang clang++; do
  command -v "$tool" >/dev/null 2>&1 || { echo "fuzz: $tool is not installed" >&2; exit 2; }
done

echo "== fuzz: build $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DFENK_FUZZ=ON -DFENK_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DFENK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

status=0
for target in "${targets[@]}"; do
  scratch="$build/fuzz-runs/$target"
  rm -rf "$scratch" && mkdir -p "$scratch/new"
  echo "== fuzz: $target for ${seconds}s over fuzz/corpus/$target"
  if "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
      -timeout=60 -rss_limit_mb=3072 -print_final_stats=1 \
      -artifact_prefix="$scratch/" "$scratch/new" "$root/fuzz/corpus/$target" \
      >"$scratch/log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$scratch/log" || true
  else
    status=1
    tail -n 60 "$scratch/log"
    echo "== fuzz: $target FAILED; input kept in $scratch/ (crash-*, timeout-*, leak-*, oom-*)" >&2
  fi
done
[ $status -eq 0 ] && echo "== fuzz: no findings"
exit $status
