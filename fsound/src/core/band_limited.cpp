// First version of the signal core: linear interpolation on the original
// frames. Correct in timing, looping and gains; not yet band-limited.
#include "band_limited.h"

#include <cmath>

namespace fsound {

struct BandLimitedSample {
    std::vector<float> frames;
    SampleLoop loop;
};

std::shared_ptr<const BandLimitedSample> PrepareSample(std::vector<float> mono,
                                                       const SampleLoop& loop) {
    if (mono.empty()) return nullptr;
    if (loop.looped && !(loop.start < loop.end && loop.end <= mono.size())) return nullptr;
    auto sample = std::make_shared<BandLimitedSample>();
    sample->frames = std::move(mono);
    sample->loop = loop;
    if (!loop.looped) sample->loop = SampleLoop{};
    return sample;
}

std::size_t FrameCount(const BandLimitedSample& sample) { return sample.frames.size(); }
bool IsLooped(const BandLimitedSample& sample) { return sample.loop.looped; }

void MixVoice(const BandLimitedSample& sample, VoiceCursor& cursor, double step,
              float leftGainStart, float rightGainStart, float leftGainEnd,
              float rightGainEnd, float* stereo, int frames) {
    if (cursor.finished || frames <= 0 || !(step > 0.0)) return;
    const std::vector<float>& data = sample.frames;
    const double count = static_cast<double>(data.size());
    const bool looped = sample.loop.looped;
    const double loopStart = static_cast<double>(sample.loop.start);
    const double loopEnd = static_cast<double>(sample.loop.end);
    const double loopLength = loopEnd - loopStart;
    const float leftDelta = (leftGainEnd - leftGainStart) / static_cast<float>(frames);
    const float rightDelta = (rightGainEnd - rightGainStart) / static_cast<float>(frames);
    double position = cursor.position;
    for (int i = 0; i < frames; ++i) {
        if (looped && position >= loopEnd) position = loopStart + std::fmod(position - loopStart, loopLength);
        if (!looped && position >= count) {
            cursor.finished = true;
            break;
        }
        const std::size_t index = static_cast<std::size_t>(position);
        const float fraction = static_cast<float>(position - static_cast<double>(index));
        std::size_t next = index + 1;
        float nextValue = 0.0f;
        if (looped && next >= sample.loop.end) next = sample.loop.start;
        if (next < data.size()) nextValue = data[next];
        const float value = data[index] + (nextValue - data[index]) * fraction;
        stereo[2 * i] += value * (leftGainStart + leftDelta * static_cast<float>(i));
        stereo[2 * i + 1] += value * (rightGainStart + rightDelta * static_cast<float>(i));
        position += step;
    }
    if (looped && position >= loopEnd) position = loopStart + std::fmod(position - loopStart, loopLength);
    cursor.position = position;
}

}  // namespace fsound
