#include "fixtures.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fsound_test {
namespace {

void Put(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int byte = 0; byte < bytes; ++byte) out.push_back(static_cast<unsigned char>(value >> (8 * byte)));
}

void PutTag(std::vector<unsigned char>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

std::vector<unsigned char> WavBytes(const WavSpec& spec) {
    const auto channels = static_cast<std::uint32_t>(spec.channels);
    const auto rate = static_cast<std::uint32_t>(spec.sampleRate);
    std::vector<unsigned char> out;
    PutTag(out, "RIFF");
    Put(out, 0, 4);  // patched at the end
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    for (std::uint32_t value : {16u, 1u | channels << 16, rate, rate * channels * 2, channels * 2 | 16u << 16}) {
        Put(out, value, 4);  // size; PCM, channels; rate; bytes/s; block align, bits
    }
    PutTag(out, "data");
    Put(out, static_cast<std::uint32_t>(spec.frames.size() * 2), 4);
    for (std::int16_t value : spec.frames) Put(out, static_cast<std::uint16_t>(value), 2);
    if (spec.loopLastFrame >= 0) {
        PutTag(out, "smpl");
        // manufacturer, product, period ns, unity note, pitch fraction, SMPTE
        // format and offset, loop count, sampler data; then the loop: cue id,
        // type (forward), start, end (last looped frame), fraction, play count.
        for (std::uint32_t value : {60u, 0u, 0u, 1000000000u / rate, 60u, 0u, 0u, 0u, 1u, 0u, 0u, 0u,
                                    static_cast<std::uint32_t>(spec.loopStart),
                                    static_cast<std::uint32_t>(spec.loopLastFrame), 0u, 0u}) {
            Put(out, value, 4);
        }
    }
    const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int byte = 0; byte < 4; ++byte) out[4 + byte] = static_cast<unsigned char>(riffSize >> (8 * byte));
    return out;
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

}  // namespace fsound_test
