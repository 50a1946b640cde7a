#include "engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace fsound {
namespace {

// Time constant of the load figure, in seconds of audio.
constexpr double kCpuSmoothingSeconds = 0.5;

}  // namespace

std::int64_t MonotonicNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int BlockFramesForRate(int outputRate, int longestMilliseconds) {
    int frames = 16;
    while (frames * 2 * 1000 <= outputRate * longestMilliseconds) frames *= 2;
    return frames;
}

void InitEngine(Engine& engine, int outputRate, int channelCount, Timing timing, int blockFrames) {
    InitMixer(engine.mixer, outputRate, channelCount);
    InitCommandQueue(engine.queue, kCommandQueueCapacity);
    engine.timing = timing;
    engine.outputRate = outputRate;
    engine.blockFrames =
        blockFrames > 0 ? blockFrames : BlockFramesForRate(outputRate, kOfflineBlockMilliseconds);
    engine.latencyFrames = kLatencyHalfBlocks * engine.blockFrames / 2;
    InitFrameClock(engine.clock, outputRate, engine.blockFrames);
    engine.renderedFrames = 0;
    engine.cpuPercent.store(0.0f, std::memory_order_relaxed);
    engine.lateCommands.store(0, std::memory_order_relaxed);
    engine.clockAnchored.store(false, std::memory_order_relaxed);
    engine.outputDropped.store(false, std::memory_order_relaxed);
    engine.schedule = Schedule{};
}

double ScheduledFrame(Engine& engine, std::int64_t timeNs) {
    Schedule& schedule = engine.schedule;
    // One row's calls share one moment, and a call waiting for a later block
    // is looked at again each block: the frame is worked out once.
    if (schedule.running && timeNs == schedule.timeNs) return schedule.frame;
    const double clockFrame = FrameAtTime(engine.clock, timeNs) + engine.latencyFrames;
    // Anything the clock moves by more than this is no jitter: a restarted
    // clock, a program stopped and continued.
    const double largestError = engine.blockFrames;
    if (schedule.running && timeNs > schedule.timeNs && timeNs - schedule.timeNs <= kScheduleGapNs) {
        const double span = static_cast<double>(timeNs - schedule.startTimeNs);
        const double framesPerNs = span >= kScheduleRateWindowNs
                                       ? (clockFrame - schedule.startClockFrame) / span
                                       : engine.outputRate * 1e-9;
        const double planned = schedule.frame + static_cast<double>(timeNs - schedule.timeNs) * framesPerNs;
        const double error = clockFrame - planned;
        if (std::fabs(error) <= largestError) {
            schedule.timeNs = timeNs;
            schedule.frame = planned + std::clamp(error, -kScheduleSlewFrames, kScheduleSlewFrames);
            return schedule.frame;
        }
    }
    schedule.running = true;
    schedule.timeNs = schedule.startTimeNs = timeNs;
    schedule.frame = schedule.startClockFrame = clockFrame;
    return clockFrame;
}

void ApplyQueuedCommands(Engine& engine) {
    while (const Command* command = PeekCommand(engine.queue)) {
        ApplyCommand(engine.mixer, *command);
        PopCommand(engine.queue);
    }
}

void RenderBlock(Engine& engine, float* stereo, int frames, std::int64_t nowNs) {
    if (frames <= 0) return;
    std::fill(stereo, stereo + 2 * static_cast<std::size_t>(frames), 0.0f);
    const std::int64_t blockStart = engine.renderedFrames;
    const bool deviceClock = engine.timing == Timing::DeviceClock;
    if (deviceClock && engine.outputDropped.exchange(false, std::memory_order_acq_rel)) {
        // The device dropped the blocks it held: this one plays next, so
        // what was queued for them applies now, and the clock, whose line
        // put those blocks before this one, starts again.
        ApplyQueuedCommands(engine);
        RestartFrameClock(engine.clock);
        engine.schedule.running = false;
    }
    if (deviceClock) {
        UpdateFrameClock(engine.clock, nowNs, blockStart);
        if (FrameClockAnchored(engine.clock)) engine.clockAnchored.store(true, std::memory_order_release);
    }

    int mixed = 0;  // frames of this block mixed so far
    while (const Command* command = PeekCommand(engine.queue)) {
        int offset = mixed;
        if (deviceClock) {
            const double frame = command->scheduled
                                     ? ScheduledFrame(engine, command->timeNs)
                                     : FrameAtTime(engine.clock, command->timeNs) + engine.latencyFrames;
            const double relative = std::floor(frame + 0.5) - static_cast<double>(blockStart);
            if (relative >= frames) break;  // later blocks; so is everything behind it
            // Never before the mixed part: a late command applies at once,
            // and the queue order is kept.
            offset = std::max(mixed, static_cast<int>(std::max(relative, 0.0)));
            // A frame or so behind is the clock's estimate moving between two
            // callbacks; more than a millisecond means the latency fell short.
            if (relative < mixed - engine.outputRate / 1000) {
                engine.lateCommands.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (offset > mixed) {
            MixFrames(engine.mixer, stereo + 2 * mixed, offset - mixed);
            mixed = offset;
        }
        ApplyCommand(engine.mixer, *command);
        PopCommand(engine.queue);
    }
    if (mixed < frames) MixFrames(engine.mixer, stereo + 2 * mixed, frames - mixed);

    // Every sample limited to -1..1 (a NaN passes, as through std::clamp).
    // In vectors of four: std::clamp's comparisons become compares and
    // blends, at -O2 one sample at a time, and that was a sixth of offline
    // rendering's time. maxps and minps give the second operand where one
    // is a NaN, so with the sample second they give what std::clamp gives
    // for every value, signed zeros included.
    const std::size_t samples = 2 * static_cast<std::size_t>(frames);
    std::size_t index = 0;
#if defined(__SSE__)
    const __m128 lowest = _mm_set1_ps(-1.0f), highest = _mm_set1_ps(1.0f);
    for (; index + 4 <= samples; index += 4) {
        const __m128 value = _mm_loadu_ps(stereo + index);
        _mm_storeu_ps(stereo + index, _mm_min_ps(highest, _mm_max_ps(lowest, value)));
    }
#endif
    for (; index < samples; ++index) stereo[index] = std::clamp(stereo[index], -1.0f, 1.0f);
    engine.renderedFrames += frames;

    const double audioSeconds = static_cast<double>(frames) / engine.outputRate;
    const double busySeconds = static_cast<double>(MonotonicNowNs() - nowNs) * 1e-9;
    const double percent = std::clamp(100.0 * busySeconds / audioSeconds, 0.0, 100.0);
    const double weight = std::min(1.0, audioSeconds / kCpuSmoothingSeconds);
    const float previous = engine.cpuPercent.load(std::memory_order_relaxed);
    engine.cpuPercent.store(static_cast<float>(previous + weight * (percent - previous)),
                            std::memory_order_relaxed);
}

}  // namespace fsound
