#!/usr/bin/env bash
# clang-tidy (the checks of .clang-tidy) and cppcheck over the player, the
# sound library, the authoring library and the tools (src/, fsound/,
# compose/, tools/), from the compile commands of a plain build configured
# for the purpose. Exits non-zero on any
# finding. Installs nothing: needs cmake, clang-tidy, cppcheck and the build
# dependencies of the project.
#
#   scripts/ci/lint.sh            # build folder: build/lint
#   BUILD_DIR=/tmp/lint scripts/ci/lint.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${BUILD_DIR:-$root/build/lint}
jobs=${JOBS:-2}

for tool in cmake clang-tidy cppcheck; do
  command -v "$tool" >/dev/null 2>&1 || { echo "lint: $tool is not installed" >&2; exit 2; }
done

echo "== lint: configure $build"
cmake -S "$root" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DBUILD_TESTING=OFF -DFENK_BUILD_BENCHMARKS=OFF >/dev/null

# The translation units of our own code, one path a line, as CMake wrote
# them into the compile commands.
mapfile -t units < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
  grep -E "^$root/(src|fsound|compose|link|tools)/" | sort -u)
if [ ${#units[@]} -eq 0 ]; then
  echo "lint: no sources found in $build/compile_commands.json" >&2
  exit 2
fi

status=0
echo "== clang-tidy: ${#units[@]} files"
# clang-tidy counts the warnings of system headers that it then hides on
# standard error; drop those counts, keep everything else.
tidy_log="$build/clang-tidy.log"
if ! printf '%s\0' "${units[@]}" |
    xargs -0 -n 4 -P "$jobs" clang-tidy --quiet -p "$build" >"$tidy_log" 2>&1; then
  status=1
fi
grep -v -E '^[0-9]+ (warning|error)s? (and [0-9]+ (warning|error)s? )?generated\.$' \
  "$tidy_log" || true

echo "== cppcheck"
filters=()
for unit in "${units[@]}"; do filters+=("--file-filter=$unit"); done
if ! cppcheck --quiet --project="$build/compile_commands.json" "${filters[@]}" \
    --enable=warning,performance,portability --std=c++17 --inline-suppr \
    --suppress=missingIncludeSystem --error-exitcode=1 -j "$jobs" \
    --cppcheck-build-dir="$(mkdir -p "$build/cppcheck" && echo "$build/cppcheck")"; then
  status=1
fi

if [ $status -eq 0 ]; then
  echo "== lint: clean"
else
  echo "== lint: findings above" >&2
fi
exit $status
