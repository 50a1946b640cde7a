#include "frame_clock.h"

#include <algorithm>
#include <cmath>

namespace fsound {
namespace {

constexpr double kTwoPi = 6.28318530717958647692;

// Second-order loop, critically damped (Adriaensen, "Using a DLL to filter
// time"): omega = 2 pi B T, b = sqrt(2) omega, c = omega^2.
void SetBandwidth(FrameClock& clock, double bandwidthHz) {
    const double omega = kTwoPi * bandwidthHz * clock.nominalPeriodNs * 1e-9;
    clock.coefficientB = std::sqrt(2.0) * omega;
    clock.coefficientC = omega * omega;
}

void Restart(FrameClock& clock, std::int64_t nowNs, std::int64_t blockFrame) {
    clock.running = true;
    clock.anchoring = true;
    clock.restartNs = static_cast<double>(nowNs);
    clock.anchorOffsetSumNs = 0;
    clock.anchorCallbacks = 0;
    clock.blockFrame = blockFrame;
    clock.periodNs = clock.nominalPeriodNs;
    clock.blockTimeNs = static_cast<double>(nowNs);
    clock.nextBlockTimeNs = clock.blockTimeNs + clock.periodNs;
}

// One callback of the anchoring: the clock follows the callbacks until the
// skip is over, then the mean line of those after it; at the end of
// anchoring the loop starts from that line.
void Anchor(FrameClock& clock, std::int64_t nowNs, std::int64_t blockFrame) {
    const double now = static_cast<double>(nowNs);
    const double framePeriodNs = clock.nominalPeriodNs / clock.blockFrames;
    clock.blockFrame = blockFrame;
    if (now - clock.restartNs < kAnchorSkipSeconds * 1e9) {
        clock.blockTimeNs = now;
    } else {
        // Offsets from the first block keep the sum's terms small.
        clock.anchorOffsetSumNs += now - clock.restartNs - static_cast<double>(blockFrame) * framePeriodNs;
        ++clock.anchorCallbacks;
        clock.blockTimeNs = clock.restartNs + clock.anchorOffsetSumNs / clock.anchorCallbacks +
                            static_cast<double>(blockFrame) * framePeriodNs;
        if (now - clock.restartNs >= kAnchoringSeconds * 1e9) clock.anchoring = false;
    }
    clock.nextBlockTimeNs = clock.blockTimeNs + clock.periodNs;
}

}  // namespace

void RestartFrameClock(FrameClock& clock) {
    if (clock.running) ++clock.resets;
    clock.running = false;
}

bool FrameClockAnchored(const FrameClock& clock) { return clock.running && !clock.anchoring; }

void InitFrameClock(FrameClock& clock, int outputRate, int blockFrames) {
    clock = FrameClock{};
    clock.blockFrames = blockFrames;
    clock.nominalPeriodNs = 1e9 * blockFrames / outputRate;
    SetBandwidth(clock, kBandwidthHz);
}

void UpdateFrameClock(FrameClock& clock, std::int64_t nowNs, std::int64_t blockFrame) {
    if (!clock.running || blockFrame != clock.blockFrame + clock.blockFrames) {
        if (clock.running) ++clock.resets;
        Restart(clock, nowNs, blockFrame);
        return;
    }
    const double error = static_cast<double>(nowNs) - clock.nextBlockTimeNs;
    // Lock is lost when a callback comes more than four blocks (and 20 ms)
    // off the prediction; following it slowly would misplace every command
    // for seconds, so start again from this callback.
    const double limit = std::fmax(4.0 * clock.nominalPeriodNs, 20e6);
    if (clock.anchoring ? error > limit : std::fabs(error) > limit) {
        ++clock.resets;
        Restart(clock, nowNs, blockFrame);
        return;
    }
    if (clock.anchoring) {
        Anchor(clock, nowNs, blockFrame);
        return;
    }
    clock.blockFrame = blockFrame;
    clock.blockTimeNs = clock.nextBlockTimeNs;
    clock.nextBlockTimeNs += clock.coefficientB * error + clock.periodNs;
    clock.periodNs += clock.coefficientC * error;
    // A device off its nominal rate by more than a factor of two is not one the loop
    // can describe; keep the estimate sane.
    if (clock.periodNs < 0.5 * clock.nominalPeriodNs || clock.periodNs > 2.0 * clock.nominalPeriodNs ||
        !(clock.nextBlockTimeNs > clock.blockTimeNs)) {
        ++clock.resets;
        Restart(clock, nowNs, blockFrame);
    }
}

double FrameAtTime(const FrameClock& clock, std::int64_t timeNs) {
    // The slope is the filtered period, not nextBlockTimeNs - blockTimeNs:
    // that span carries this block's phase correction, and commands are
    // placed a latency away from the block, where a correction of a tenth
    // of a period in the slope would move them by a millisecond.
    return static_cast<double>(clock.blockFrame) +
           (static_cast<double>(timeNs) - clock.blockTimeNs) * clock.blockFrames / clock.periodNs;
}

}  // namespace fsound
