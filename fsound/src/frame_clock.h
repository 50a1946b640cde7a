// The device's clock as seen from the audio callback: a delay-locked loop
// (as in JACK) filters the moments of the callbacks against the frames they
// deliver, so that any moment on the monotonic clock maps to an output frame
// without the jitter of the individual callbacks.
#pragma once

#include <cstdint>

namespace fsound {

// After a (re)start the clock first anchors, before the loop runs. A device
// that has just started fills its buffer in a burst of callbacks, which then
// settle into the device's own rhythm (often bursts of a few blocks), so no
// single callback tells where the steady line lies: callbacks in the first
// kAnchorSkipSeconds only move the clock to themselves, and the mean line
// of those up to kAnchoringSeconds becomes the anchor. Starting the loop
// from the first callback instead would move the clock by the length of the
// device's buffer over the first few hundred milliseconds.
constexpr double kAnchorSkipSeconds = 0.02;
constexpr double kAnchoringSeconds = 0.12;
// The loop's bandwidth. Each callback moves the clock by a share of its
// error that grows with bandwidth and block length: with 16 ms blocks whose
// callbacks come in steps of several milliseconds, 0.5 Hz moves a row's
// start by half a millisecond now and then, 0.1 Hz by a tenth. Starting
// from the anchored line, the loop needs no wider band to lock; it follows
// a card 0.1 % off its rate to within half a millisecond in a few seconds,
// and such a slow drift changes no row's length by more than 0.2 ms.
constexpr double kBandwidthHz = 0.1;

struct FrameClock {
    bool anchoring = false;       // true from a (re)start until the anchor is set
    double restartNs = 0;         // moment of the callback that (re)started the clock
    double anchorOffsetSumNs = 0; // sum over the anchoring callbacks of (moment - frame x frame period)
    int anchorCallbacks = 0;      // how many callbacks that sum holds
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
// two restarts the loop there (while anchoring only a late callback counts:
// early ones are what a start looks like).
void UpdateFrameClock(FrameClock& clock, std::int64_t nowNs, std::int64_t blockFrame);

// Makes the next UpdateFrameClock start the clock again (and anchor), as
// after a stall: for a device whose frames no longer follow the line.
void RestartFrameClock(FrameClock& clock);

// True once the clock has anchored after its last (re)start: from then on
// the clock moves only as the device drifts and jitters.
bool FrameClockAnchored(const FrameClock& clock);

// The output frame (fractional) that the moment `timeNs` corresponds to on
// the filtered clock; valid after the first update.
double FrameAtTime(const FrameClock& clock, std::int64_t timeNs);

}  // namespace fsound
