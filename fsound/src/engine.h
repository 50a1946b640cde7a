// The audio side of the library: the mixer, the queue of commands from the
// main thread, the device clock, and the render loop that applies each
// command at its frame. Both output paths render through RenderBlock.
#pragma once

#include <atomic>
#include <cstdint>

#include "command_queue.h"
#include "frame_clock.h"
#include "mixer.h"

namespace fsound {

// Commands the queue holds: far more than the calls of a few blocks.
constexpr std::size_t kCommandQueueCapacity = 4096;

// Half blocks between a call and its effect: 2.5 blocks (80 ms with SDL's
// 32 ms blocks at 32000 Hz, 320 ms with PulseAudio's 128 ms ones). One
// block is needed because a call made just after a callback is seen only by
// the next one; the rest absorbs the callbacks' jitter and bursts (a device
// that asks for two blocks at once renders the second a block ahead of its
// filtered clock). The device's own buffer comes on top (about one block
// with SDL, two with PulseAudio): a call is heard about 112 ms (SDL) or
// 0.6 s (PulseAudio) after it is made, every call by the same.
constexpr int kLatencyHalfBlocks = 5;

enum class Timing {
    DeviceClock,  // a command applies at FrameAtTime(its time) + latency
    Immediate,    // a command applies at the start of the next render (offline)
};

// Where calls given the moment they were meant for land: each one's frame
// follows the previous one's by exactly the time between them at the
// device's rate, and is drawn toward the device clock's own frame for that
// moment by at most kScheduleSlewFrames, so that the clock's jitter and
// slow corrections are spread over many calls. The rate is the clock's
// frames over the series' time once it has run kScheduleRateWindowNs (the
// loop's own period estimate wanders by a few hundred ppm over seconds),
// the nominal rate before. A gap of more than kScheduleGapNs between two
// such calls, or a clock more than a block away, starts the series again
// from the clock.
constexpr double kScheduleSlewFrames = 0.1;
constexpr std::int64_t kScheduleGapNs = 1000000000;
constexpr std::int64_t kScheduleRateWindowNs = 2000000000;
struct Schedule {
    bool running = false;
    std::int64_t timeNs = 0;       // the latest scheduled call's moment
    double frame = 0;              // and its output frame (fractional)
    std::int64_t startTimeNs = 0;  // the series' first moment
    double startClockFrame = 0;    // and the clock's frame for it
};

struct Engine {
    Mixer mixer;
    CommandQueue queue;
    FrameClock clock;
    Timing timing = Timing::Immediate;
    int outputRate = 0;             // Hz
    int blockFrames = 0;            // frames per device callback (offline: per kOfflineBlockMilliseconds)
    int latencyFrames = 0;          // kLatencyHalfBlocks * blockFrames / 2
    std::int64_t renderedFrames = 0;  // frames produced so far
    std::atomic<float> cpuPercent{0.0f};  // smoothed mixing load, written by RenderBlock
    // Commands applied more than 1 ms after their frame because it had
    // already been rendered (the latency fell short for the device); a
    // diagnostic.
    std::atomic<int> lateCommands{0};
    // Set by RenderBlock once the device clock has anchored after the
    // device started (FrameClockAnchored); stays set over later restarts.
    std::atomic<bool> clockAnchored{false};
    // Set by the device as it drops what it holds and has not played
    // (FlushOutputDevice): the next RenderBlock applies every queued
    // command at its first frame and starts the clock again there, since
    // that block plays next.
    std::atomic<bool> outputDropped{false};
    Schedule schedule;  // the audio thread's own
};

// The block the clock assumes offline, where it is not used: SDL's.
constexpr int kOfflineBlockMilliseconds = 32;

// A device block for `outputRate`: the largest power of two frames not over
// `longestMilliseconds`, at least 16.
int BlockFramesForRate(int outputRate, int longestMilliseconds);

// Prepares `engine` (allocating everything the render needs) for a device
// that asks for `blockFrames` frames at a time; 0: the offline block.
void InitEngine(Engine& engine, int outputRate, int channelCount, Timing timing, int blockFrames = 0);

// Produces the next `frames` frames into `stereo` (overwritten, interleaved
// left/right, clipped to -1..1): applies every queued command whose frame
// falls in the block at that frame, in queue order (a command whose frame has
// passed applies at once), and mixes between them. After outputDropped,
// every queued command applies at the block's first frame. `nowNs` is the moment the
// block was asked for (used with Timing::DeviceClock). Also measures the
// share of time the rendering takes.
void RenderBlock(Engine& engine, float* stereo, int frames, std::int64_t nowNs);

// The output frame (fractional) of a call meant for `timeNs`: the next of
// the schedule's series (see Schedule). Audio thread; DeviceClock timing.
double ScheduledFrame(Engine& engine, std::int64_t timeNs);

// Applies every queued command at the current position without rendering.
// Only for the Immediate timing, where that is what the next render would do.
void ApplyQueuedCommands(Engine& engine);

// The monotonic clock, ns (steady_clock; on Linux a vDSO read, no system call).
std::int64_t MonotonicNowNs();

}  // namespace fsound
