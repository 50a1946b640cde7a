#!/usr/bin/env bash
# Runs the whole ctest suite of a plain build (no sanitizers) under
# valgrind's memcheck: every test program through CMake's test launcher
# (CMAKE_CROSSCOMPILING_EMULATOR, which also covers the test discovery), and
# every program that a test starts (fenk, the tools) by --trace-children.
# Each process logs to a file of its own; --error-exitcode makes an invalid
# read or write, a jump on uninitialised memory or a definite leak fail the
# test, and the logs with errors are named at the end. Driver noise of SDL
# and PulseAudio would go in scripts/ci/valgrind.supp.
# Installs nothing: needs cmake, valgrind and the project's build and test
# dependencies. Run it beside a private PulseAudio (scripts/lib/pulse.sh) as
# scripts/test does, or the sound-server tests skip.
#
#   scripts/ci/valgrind.sh            # build folder: build/valgrind
#   BUILD_DIR=/tmp/vg JOBS=2 scripts/ci/valgrind.sh
#   EXCLUDE='regex' scripts/ci/valgrind.sh   # tests to leave out (ctest -E)
#
# Left out by default, since they need real-time progress that a program
# slowed twenty- to fifty-fold cannot give (they measure audio that a device
# pulls at its own pace, or wait on a stopped child with a deadline):
#   Device.*, DiskDriverTest.* (SDL's disk driver read at a paced rate),
#   TerminalTest.RestoredWhileStoppedAndSetAgainOnContinue (SIGTSTP/SIGCONT
#   round trip with a 10 s deadline), LiveTerminalTest.ASeekIsHeardAtOnce (a
#   key pressed a set time into a disk-driver run), and packaging.* (it
#   installs the packages it builds with dpkg).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${BUILD_DIR:-$root/build/valgrind}
jobs=${JOBS:-2}
exclude=${EXCLUDE:-'^Device\.|^DiskDriverTest\.|^TerminalTest\.RestoredWhileStoppedAndSetAgainOnContinue$|^LiveTerminalTest\.ASeekIsHeardAtOnce$|^packaging\.'}
logs="$build/valgrind-logs"

for tool in cmake ctest valgrind; do
  command -v "$tool" >/dev/null 2>&1 || { echo "valgrind.sh: $tool is not installed" >&2; exit 2; }
done

# Test programs that drop to an unprivileged user keep valgrind on: the
# folder of the logs must let any user write its own.
rm -rf "$logs" && mkdir -p "$logs" && chmod 1777 "$logs"
launcher="$(command -v valgrind);--tool=memcheck;--error-exitcode=99;--leak-check=full"
launcher+=";--errors-for-leak-kinds=definite;--show-leak-kinds=definite;--track-origins=yes"
launcher+=";--num-callers=30;--trace-children=yes"
# Programs the tests start that are not ours. umockdev-run's fake devices
# live in its preloaded library, which memcheck's own would displace: the
# fenk-send it runs is left to the sanitizer build.
launcher+=";--trace-children-skip=*/sh,*/bash,*/dash,*pulseaudio*,*pactl*,*parec*,*sox*,*mingw*,*gcc*,*g++*,*umockdev*"
launcher+=";--suppressions=$root/scripts/ci/valgrind.supp;--gen-suppressions=all"
# A test that forks, drops to another user and execs a program runs two
# valgrinds in one process id: the forked one (still root) and the one of
# the new program (no longer allowed to write root's files). %n, counted on
# per valgrind and stepped at the fork, gives them different logs; vgdb's
# FIFOs, named by the process id alone in /tmp, would clash the same way.
launcher+=";--log-file=$logs/%p-%n.log;--vgdb=no"

echo "== valgrind: build $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENK_WERROR=ON \
  -DFENK_BUILD_BENCHMARKS=OFF "-DCMAKE_CROSSCOMPILING_EMULATOR=$launcher" >/dev/null
cmake --build "$build" -j "$jobs"

echo "== valgrind: ctest (excluded: $exclude)"
status=0
# Timeouts stretched: everything runs many times slower under memcheck.
ctest --test-dir "$build" -E "$exclude" -j "$jobs" --timeout 1800 --output-on-failure ||
  status=1
bad=$(grep -l -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]' "$logs"/*.log 2>/dev/null || true)
if [ -n "$bad" ]; then
  echo "== valgrind: errors in these logs:" >&2
  for log in $bad; do
    echo "-- $log: $(sed -n 's/^==[0-9]*== Command: //p' "$log" | head -1)" >&2
  done
  status=1
fi
echo "== valgrind: $(ls "$logs" | wc -l) processes checked"
[ $status -eq 0 ] && echo "== valgrind: no errors"
exit $status
