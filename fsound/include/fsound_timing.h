/* fsound timing: calls placed at the moment they were meant for.
 *
 * Every call normally takes effect at the output frame of the moment it is
 * made, plus the library's constant latency. A program that knows when its
 * calls were meant to happen (a sequencer that sleeps to deadlines and may
 * wake late) gives that moment instead, and the calls land where they were
 * meant to, however late the program woke, as long as it is not later than
 * the latency (80 ms through SDL, 320 ms through PulseAudio, fsound.h).
 * Calls given moments are placed so that the distance
 * between two of them is exact in output frames at the device's measured
 * rate (within one frame), and the device clock's slow corrections are
 * spread over many of them, so that its jitter lengthens or shortens
 * nothing. In offline mode (fsound_offline.h) the moments are ignored.
 */
#ifndef FSOUND_TIMING_H
#define FSOUND_TIMING_H

#include "fsound.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The calls that follow take effect at the moment `time_ns`, in ns on the
 * system's monotonic clock (CLOCK_MONOTONIC on POSIX, QueryPerformanceCounter
 * on Windows), until another moment is set; 0 goes back to the moment each
 * call is made. A moment whose frame has been rendered already applies at
 * once. Returns non-zero on success; fails, changing nothing, before
 * FSOUND_Init and for a moment more than a second ahead of now. */
FSOUND_API signed char FSOUND_Timing_SetCallTime(long long time_ns);

#ifdef __cplusplus
}
#endif

#endif /* FSOUND_TIMING_H */
