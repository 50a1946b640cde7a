# Sourced by scripts/test: a private PulseAudio daemon with a null sink, in
# a runtime folder of its own, for the tests that record what the player
# sends to a real sound server.
#
# start_private_pulse DIR exports FENK_TEST_PULSE_SERVER (the server
# address) and FENK_TEST_PULSE_SINK (the null sink; record its ".monitor"
# source) and returns 0, or returns 1 when no daemon could be started.
# stop_private_pulse stops it by its PID.

FENK_PULSE_PID=

start_private_pulse() {
  local dir=$1
  command -v pulseaudio >/dev/null 2>&1 || return 1
  rm -rf "$dir" && mkdir -p "$dir/home" "$dir/runtime"
  chmod 700 "$dir/runtime"
  local socket="$dir/native"
  HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime/pulse" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
      --use-pid-file=no --log-target=file:"$dir/daemon.log" \
      -L "module-null-sink sink_name=fenk_test_sink" \
      -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
      </dev/null >/dev/null 2>&1 &
  FENK_PULSE_PID=$!
  local tries
  for tries in $(seq 50); do
    if PULSE_SERVER="unix:$socket" pactl info >/dev/null 2>&1; then
      export FENK_TEST_PULSE_SERVER="unix:$socket"
      export FENK_TEST_PULSE_SINK=fenk_test_sink
      return 0
    fi
    kill -0 "$FENK_PULSE_PID" 2>/dev/null || break
    sleep 0.1
  done
  stop_private_pulse
  return 1
}

stop_private_pulse() {
  if [ -n "$FENK_PULSE_PID" ]; then
    kill "$FENK_PULSE_PID" 2>/dev/null || true
    wait "$FENK_PULSE_PID" 2>/dev/null || true
    FENK_PULSE_PID=
  fi
  unset FENK_TEST_PULSE_SERVER FENK_TEST_PULSE_SINK
}
