// The mixer's signal core: samples band-limited once at load, and a voice
// renderer whose cost per output frame does not depend on the rate.
//
// Internal to fsound; the API layer (channels, timing, devices) calls only
// what is declared here.
//
// How it works: PrepareSample filters the sample into copies half an octave
// apart in bandwidth, each holding only what fits below the output's Nyquist
// frequency for one range of steps (step = rate / output rate, in original
// frames per output frame), stored at a spacing of 2^k original frames (half
// a frame for the lowest two). MixVoice picks the copy for the step and reads
// it with a 16-tap windowed-sinc interpolator. Everything that could fold
// back into the audible band stays below -100 dB.
//
// Costs (one 2.25 GHz core of the build machine; bench/fsound_core_bench):
// - MixVoice: about 2 ns per output frame and voice with AVX (chosen at run
//   time; AVX-512 where the processor has it), about 3 ns without, the same
//   at every step (16 multiply-adds per frame, and the same samples every
//   way): 4 voices at 32000 Hz take about 0.025 % of a core, 32 voices
//   about 0.2 %.
// - PrepareSample: a loop from frame 0 of up to 1024 frames is built from
//   its harmonics (the 32-frame square: 0.1 ms, no transform). Anything else
//   is filtered in blocks, O(n log n) in the frames, and also pays for the
//   filters' padding however short: 44100 frames 55-75 ms, 441000 frames
//   about 0.25 s, 4,000,000 frames about 0.9 s. Memory kept: 32 bytes per
//   original frame plus about 40 KB; temporary memory while filtering: up to
//   about 55 MB (blocks of 2^19 frames).
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

// Longest sample PrepareSample takes, in frames.
constexpr std::size_t kMaxPreparedFrames = std::size_t{1} << 24;

// Steps above this many original frames per output frame are rendered from
// the copy made for this step (those harmonics of a looped sample that lie
// above the output's Nyquist frequency at such a step may then fold back).
constexpr double kMaxBandLimitedStep = 4096.0;

// Steps above this are treated as this step.
constexpr double kMaxStep = 1048576.0;

// A sample prepared for playback at any rate: its band-limited copies (the
// original frames are not kept). Immutable once built, so channels on the
// audio thread can share it without locks.
struct BandLimitedSample;

// Builds the band-limited copies of `mono` (frames in -1..1). A one-shot is
// filtered as if silence surrounded it. A looped sample plays its frames
// before loop.start once (the intro) and then repeats loop.start..loop.end
// for ever (frames after loop.end are never heard); the loop is filtered as
// that periodic continuation. A loop starting at frame 0 is treated as having
// repeated for ever, so it sounds in its steady state from the first frame.
// Returns null when `mono` is empty, longer than kMaxPreparedFrames or holds
// a value that is not finite, or when the loop is invalid (looped with
// start >= end or end > frames). Takes time and memory as documented above;
// never call it on the audio thread.
std::shared_ptr<const BandLimitedSample> PrepareSample(const std::vector<float>& mono,
                                                       const SampleLoop& loop);

// Frames of the original sample (before any band limiting).
std::size_t FrameCount(const BandLimitedSample& sample);
bool IsLooped(const BandLimitedSample& sample);

// Bytes of memory that the prepared sample holds.
std::size_t StorageBytes(const BandLimitedSample& sample);

// Where one voice is in its sample.
struct VoiceCursor {
    // In original sample frames, >= 0; a new voice starts at 0. For a looped
    // sample, MixVoice moves it back by whole loop lengths once it is past the
    // intro, keeping it below a bound of its own (no drift: the position is
    // exact to 2^-32 frames and the step is rounded once per block).
    double position = 0.0;
    // A one-shot that has played out: set once the interpolator has passed
    // the last frame and the filter's ringing after it. MixVoice then adds
    // nothing.
    bool finished = false;
};

// Adds `frames` output frames of `sample` into `stereo` (interleaved L/R),
// advancing `step` original frames per output frame (rate / output rate,
// > 0; values up to kMaxStep; a step that is not a positive number renders
// nothing). The gains ramp linearly from the start pair to the end pair over
// the block: frame i of the block gets start + (end - start) * i / frames
// (equal pairs: constant gain). Harmonics that would land at or above the
// output's Nyquist frequency are not rendered. Sets cursor.finished when a
// one-shot sample has played out. Real-time safe: no allocation, no locks.
void MixVoice(const BandLimitedSample& sample, VoiceCursor& cursor, double step,
              float leftGainStart, float rightGainStart, float leftGainEnd,
              float rightGainEnd, float* stereo, int frames);

// The ways MixVoice can compute: the portable one, and the vector ones an
// x86-64 processor may have. Every one gives the same samples, bit for bit
// (the same operations in the same order).
enum class MixPath {
    Best,      // the widest this processor has (what MixVoice uses unless told)
    Portable,  // plain C++, four frames at a time
    Avx,       // eight-wide vectors
    Avx512,    // sixteen-wide vectors (not in Windows builds)
};

// Makes MixVoice use `path` from now on, for every voice; false (and no
// change) when this processor or build lacks it. For tests and benchmarks
// that compare the paths: not to be called while another thread mixes.
bool UseMixPath(MixPath path);

}  // namespace fsound
