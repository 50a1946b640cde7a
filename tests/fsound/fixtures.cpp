#include "tests/fsound/fixtures.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fsound_test {

std::vector<unsigned char> WavBytes(const WavSpec& spec) {
    TempDir dir;
    const std::string path = dir.File("sample.wav");
    std::string error;
    if (!looped_wav::Write(path, spec, &error)) {
        std::fprintf(stderr, "cannot write a test sample: %s\n", error.c_str());
        std::abort();
    }
    return ReadFile(path);
}

WavSpec LevelSpec(int frames, std::int16_t value, bool looped) {
    WavSpec spec;
    spec.frames.assign(static_cast<std::size_t>(frames), value);
    if (looped) spec.loopLastFrame = frames - 1;
    return spec;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fsound-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<float> Side(const std::vector<float>& stereo, int side, std::size_t first, std::size_t last) {
    std::vector<float> out;
    for (std::size_t frame = first; frame < std::min(last, stereo.size() / 2); ++frame) {
        out.push_back(stereo[2 * frame + static_cast<std::size_t>(side)]);
    }
    return out;
}

double Rms(const std::vector<float>& mono) {
    double sum = 0.0;
    for (float value : mono) sum += static_cast<double>(value) * value;
    return mono.empty() ? 0.0 : std::sqrt(sum / mono.size());
}

double MaxAbs(const std::vector<float>& mono) {
    double peak = 0.0;
    for (float value : mono) peak = std::fmax(peak, std::fabs(value));
    return peak;
}

double MaxStep(const std::vector<float>& mono) {
    double step = 0.0;
    for (std::size_t index = 1; index < mono.size(); ++index) {
        step = std::fmax(step, std::fabs(static_cast<double>(mono[index]) - mono[index - 1]));
    }
    return step;
}

double CyclesPerFrame(const std::vector<float>& mono) {
    double first = 0.0, last = 0.0;
    int crossings = 0;
    for (std::size_t index = 1; index < mono.size(); ++index) {
        if (mono[index - 1] < 0.0f && mono[index] >= 0.0f) {
            last = (index - 1) + mono[index - 1] / (static_cast<double>(mono[index - 1]) - mono[index]);
            if (crossings++ == 0) first = last;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) / (last - first);
}

long FirstAbove(const std::vector<float>& mono, double threshold, std::size_t from) {
    for (std::size_t index = from; index < mono.size(); ++index) {
        if (std::fabs(mono[index]) > threshold) return static_cast<long>(index);
    }
    return -1;
}

Audio ReadAudio(const std::string& path) {
    Audio audio;
    SF_INFO info = {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return audio;
    audio.samples.resize(static_cast<std::size_t>(info.frames) * info.channels);
    const sf_count_t read = sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    if (read != info.frames) return Audio{};
    audio.channels = info.channels;
    audio.rate = info.samplerate;
    return audio;
}

double PeakOver(const Audio& audio, std::size_t first, std::size_t last) {
    last = std::min(last, audio.Frames());
    if (first >= last) return 0;
    const auto begin = audio.samples.begin() + static_cast<long>(first * audio.channels);
    return MaxAbs(std::vector<float>(begin, begin + static_cast<long>((last - first) * audio.channels)));
}

}  // namespace fsound_test
