// Fuzz target: bytes as a sample file. They go through the sound library's
// decoder (libsndfile reading them through its virtual I/O), then, when they
// decode, through the band-limit preparation and a few blocks of the voice
// renderer at low, unit and high steps.
//
// Preparing a sample costs a few hundred milliseconds under the sanitizers
// whatever its length (the filters' padding), against well under a
// millisecond for decoding. So every input is decoded, but a decoded sample
// is prepared and rendered only when its shape has not been prepared before
// in this process. The shape is the length's power of two, whether it
// loops, whether the loop starts at 0 or runs to the end, and the loop
// length's power of two: what the preparation does depends on those, and
// the values are always finite and in -1..1 (the decoder is checked for
// that on every input). FUZZ_SAMPLE_PREPARE_ALL=1 in
// the environment prepares every decoded input. Besides the sanitizers, what the
// decoder hands back is checked against the promises of its header, and the
// rendered output must stay finite and bounded.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "band_limited.h"
#include "fuzz/fuzz_support.h"
#include "sample_decode.h"

namespace {

constexpr int kBlockFrames = 256;
// Steps (original frames per output frame) the player meets: a period-255
// voice at 32 kHz from a 32-frame loop is about 0.12, period 1 at 8 kHz
// is 125; 1/7 and 3000 lie beyond those.
constexpr double kSteps[] = {1.0 / 7.0, 1.0, 31.25, 125.0, 3000.0};
// A windowed-sinc interpolator over values in -1..1 overshoots a little at
// edges; anything near this bound would be a broken filter.
constexpr float kMaxOutput = 4.0f;

void CheckDecoded(const fsound::DecodedSample& sample) {
    FUZZ_CHECK(!sample.mono.empty());
    FUZZ_CHECK(static_cast<std::int64_t>(sample.mono.size()) <= fsound::kMaxSampleFrames);
    FUZZ_CHECK(sample.sampleRate > 0);
    for (float value : sample.mono) FUZZ_CHECK(std::isfinite(value) && std::fabs(value) <= 1.0f);
    if (sample.loop.looped) {
        FUZZ_CHECK(sample.loop.start < sample.loop.end);
        FUZZ_CHECK(sample.loop.end <= sample.mono.size());
    }
}

int PowerOfTwo(std::size_t value) {
    int bits = 0;
    while (value != 0) {
        value >>= 1;
        ++bits;
    }
    return bits;
}

bool IsNewShape(const fsound::DecodedSample& sample) {
    static std::set<std::tuple<int, bool, bool, bool, int>> seen;
    const fsound::SampleLoop& loop = sample.loop;
    const std::size_t frames = sample.mono.size();
    return seen
        .insert({PowerOfTwo(frames), loop.looped, loop.looped && loop.start == 0,
                 loop.looped && loop.end == frames,
                 loop.looped ? PowerOfTwo(loop.end - loop.start) : 0})
        .second;
}

void RenderSome(const fsound::BandLimitedSample& prepared) {
    std::vector<float> stereo(2 * kBlockFrames);
    for (double step : kSteps) {
        fsound::VoiceCursor cursor;
        for (int block = 0; block < 3 && !cursor.finished; ++block) {
            std::fill(stereo.begin(), stereo.end(), 0.0f);
            // Full gain on the left, a ramp on the right: both paths.
            fsound::MixVoice(prepared, cursor, step, 1.0f, 0.0f, 1.0f, 1.0f,
                             stereo.data(), kBlockFrames);
            for (float value : stereo) FUZZ_CHECK(std::isfinite(value) && std::fabs(value) <= kMaxOutput);
            FUZZ_CHECK(cursor.position >= 0.0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fsound::DecodeResult decoded = fsound::DecodeSampleBytes(data, size);
    if (decoded.failure != fsound::DecodeFailure::None) {
        FUZZ_CHECK(decoded.sample.mono.empty());
        return 0;
    }
    CheckDecoded(decoded.sample);
    static const bool prepareAll = std::getenv("FUZZ_SAMPLE_PREPARE_ALL") != nullptr;
    if (!IsNewShape(decoded.sample) && !prepareAll) return 0;
    const std::size_t frames = decoded.sample.mono.size();
    const bool looped = decoded.sample.loop.looped;
    // Whatever decodes is a sample the library can prepare: never empty,
    // finite, within the frame bound, with a loop inside its frames.
    std::shared_ptr<const fsound::BandLimitedSample> prepared =
        fsound::PrepareSample(decoded.sample.mono, decoded.sample.loop);
    FUZZ_CHECK(prepared != nullptr);
    FUZZ_CHECK(fsound::FrameCount(*prepared) == frames);
    FUZZ_CHECK(fsound::IsLooped(*prepared) == looped);
    RenderSome(*prepared);
    return 0;
}
