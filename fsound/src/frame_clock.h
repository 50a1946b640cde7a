// The device's clock as seen from the audio callback: a delay-locked loop
// (as in JACK) filters the moments of the callbacks against the frames they
// deliver, so that any moment on the monotonic clock maps to an output frame
// without the jitter of the individual callbacks.
#pragma once

#include <cstdint>

namespace fsound {

// The loop locks with a wide bandwidth after a (re)start, then narrows
// geometrically to the steady one over kNarrowingSeconds, so that it follows
// its own correction (a sudden switch leaves a slow transient of about half
// a millisecond) and then filters the callbacks' jitter.
constexpr double kLockingBandwidthHz = 4.0;
constexpr double kSteadyBandwidthHz = 0.5;
constexpr double kNarrowingSeconds = 1.0;

struct FrameClock {
    double bandwidthHz = 0;       // loop bandwidth now
    double narrowing = 1;         // bandwidth factor per block while narrowing
    int narrowingBlocks = 0;      // blocks left until the steady bandwidth
    double nominalPeriodNs = 0;   // blockFrames / output rate, ns
    int blockFrames = 0;          // frames per callback
    bool running = false;         // false until the first update
    std::int64_t blockFrame = 0;  // first frame of the current block
    double blockTimeNs = 0;       // filtered moment of blockFrame
    double nextBlockTimeNs = 0;   // predicted moment of blockFrame + blockFrames
    double periodNs = 0;          // filtered length of one block, ns
    double coefficientB = 0;      // loop filter gains (from the bandwidth)
    double coefficientC = 0;
    int resets = 0;               // how often the loop lost lock and restarted
};

// Prepares `clock` for callbacks of `blockFrames` frames at `outputRate` Hz.
void InitFrameClock(FrameClock& clock, int outputRate, int blockFrames);

// Feeds the moment `nowNs` at which the callback for the block starting at
// `blockFrame` began; blocks are expected blockFrames apart. A callback more
// than max(4 blocks, 20 ms) off the prediction (a stall, an underrun), a
// block out of sequence, or a period estimate off by more than a factor of
// two restarts the loop there.
void UpdateFrameClock(FrameClock& clock, std::int64_t nowNs, std::int64_t blockFrame);

// The output frame (fractional) that the moment `timeNs` corresponds to on
// the filtered clock; valid after the first update.
double FrameAtTime(const FrameClock& clock, std::int64_t timeNs);

}  // namespace fsound
