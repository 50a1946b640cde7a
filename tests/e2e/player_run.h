// Runs of the real fenk program with its sound captured: through SDL's disk
// driver into a FIFO that the test reads at a steady pace, or through a
// PulseAudio server whose null sink is recorded with parec. With the
// environment variable FENK_E2E_KEEP_SOUND naming a folder, every capture is
// also kept there as <song>-<rate>hz.raw (interleaved float stereo).
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/audio_analysis.h"
#include "tests/platform/child_process.h"
#include "tests/support/test_support.h"

namespace player_run {


// `text` with every CPU figure of a status line ("CPU:<digits>.<2 digits>%"
// before its "\r") written "CPU:#", since the load differs from run to run.
std::string WithoutCpuFigures(const std::string& text);
// The CPU figures of the status lines in `text`, in order.
std::vector<double> CpuFigures(const std::string& text);

// What a run left behind: its output, exit status and sound.
struct Run {
    child_process::ProgramResult program;
    audio_analysis::Stereo sound;
    std::string failure;  // why the capture went wrong; empty when it did not
    // When each status line's "\r" reached the test, in seconds from the
    // start (disk driver runs, whose output goes to a terminal).
    std::vector<double> statusLineSeconds;
};

// How the disk driver's frames are taken from it.
enum class Pacing {
    // The test plays the sound card: the driver writes into a FIFO (with
    // SDL_DISKAUDIODELAY=0 it waits on it as a driver waits on a card), and
    // the test reads it at exactly `rate` frames per second of the
    // monotonic clock, from the first frame written, so each frame captured
    // stands for 1 / rate s of the player's time. The driver writes 4096
    // bytes at a time (its stdio buffer): 16 ms at 32000 Hz, 64 ms at 8000.
    ReadAtRate,
    // The driver writes a plain file at its own pace, a sleep of a whole
    // number of milliseconds per block: steady blocks, but several percent
    // slower than the clock, so frames do not measure time.
    DriversOwn,
};

// Runs fenk with `arguments` (after the program's name), standard input
// from /dev/null, standard output on a terminal (so that each status line
// comes out when it is made, and its moment is noted), the current
// directory set to `folder`, and SDL's disk driver at `rate` Hz (the rate
// the player is expected to mix at).
Run PlayOnDiskDriver(const std::vector<std::string>& arguments, int rate, const std::string& folder,
                     Pacing pacing = Pacing::ReadAtRate);

// Where a private PulseAudio server can be reached: the variables that
// scripts/test exports. Empty server when they are not set.
struct PulseServer {
    std::string server;  // FENK_TEST_PULSE_SERVER, e.g. "unix:/path/native"
    std::string sink;    // FENK_TEST_PULSE_SINK; its monitor is recorded
};
PulseServer PulseServerFromEnvironment();

// Runs `command` (its program's full path first) in `folder` with
// `environment` added to the test's and PULSE_SERVER set to `pulse`'s
// server, while parec records the sink's monitor (s16le, 32000 Hz, stereo)
// from before the program starts until after it ends; the sound is kept
// as `soundName` (see FENK_E2E_KEEP_SOUND). The program is killed after
// `timeoutMs` ms.
Run RecordOnPulseAudio(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                       const PulseServer& pulse, const std::string& folder, const std::string& soundName,
                       int timeoutMs = 30000);

// Runs fenk with `arguments` in `folder` on `pulse` with `environment`
// added (FENK_AUDIO=sdl: through SDL's pulseaudio driver; nothing: fsound's
// own PulseAudio output), while parec records the sink's monitor (s16le,
// 32000 Hz, stereo) from before the player starts until after it ends.
Run PlayOnPulseAudio(const std::vector<std::string>& arguments, const PulseServer& pulse,
                     const std::string& folder, const std::vector<std::string>& environment = {});

}  // namespace player_run
