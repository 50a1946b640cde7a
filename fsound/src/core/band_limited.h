// The mixer's signal core: samples band-limited once at load, and a voice
// renderer whose cost per output frame does not depend on the rate.
//
// Internal to fsound; the API layer (channels, timing, devices) calls only
// what is declared here.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace fsound {

// How a sample repeats.
struct SampleLoop {
    bool looped = false;     // false: the sample plays once and ends
    std::size_t start = 0;   // first looped frame
    std::size_t end = 0;     // one past the last looped frame (start < end <= frames)
};

// A sample prepared for playback at any rate: the decoded mono frames and
// pre-filtered copies an octave apart. Immutable once built, so channels on
// the audio thread can share it without locks.
struct BandLimitedSample;

// Builds the band-limited copies of `mono` (frames in -1..1). A looped sample
// is filtered circularly over its loop, a one-shot with zero padding.
// Returns null when `mono` is empty or the loop is invalid.
std::shared_ptr<const BandLimitedSample> PrepareSample(std::vector<float> mono,
                                                       const SampleLoop& loop);

// Frames of the original sample (before any band limiting).
std::size_t FrameCount(const BandLimitedSample& sample);
bool IsLooped(const BandLimitedSample& sample);

// Where one voice is in its sample.
struct VoiceCursor {
    double position = 0.0;  // in original sample frames
    bool finished = false;  // a one-shot that has played out
};

// Adds `frames` output frames of `sample` into `stereo` (interleaved L/R),
// advancing `step` original frames per output frame (rate / output rate,
// > 0). The gains ramp linearly from the start pair to the end pair over the
// block (equal pairs: constant gain). Harmonics that would land at or above
// the output's Nyquist frequency are not rendered. Sets cursor.finished when
// a one-shot sample has played out.
void MixVoice(const BandLimitedSample& sample, VoiceCursor& cursor, double step,
              float leftGainStart, float rightGainStart, float leftGainEnd,
              float rightGainEnd, float* stereo, int frames);

}  // namespace fsound
