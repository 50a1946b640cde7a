#include "fixtures.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fsound_test {
namespace {

void PutU16(std::vector<unsigned char>& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void PutTag(std::vector<unsigned char>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

std::vector<unsigned char> WavBytes(const WavSpec& spec) {
    std::vector<unsigned char> out;
    PutTag(out, "RIFF");
    PutU32(out, 0);
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1);  // PCM
    PutU16(out, static_cast<std::uint32_t>(spec.channels));
    PutU32(out, static_cast<std::uint32_t>(spec.sampleRate));
    PutU32(out, static_cast<std::uint32_t>(spec.sampleRate * spec.channels * 2));
    PutU16(out, static_cast<std::uint32_t>(spec.channels * 2));
    PutU16(out, 16);
    PutTag(out, "data");
    PutU32(out, static_cast<std::uint32_t>(spec.frames.size() * 2));
    for (std::int16_t value : spec.frames) PutU16(out, static_cast<std::uint16_t>(value));
    if (spec.loopLastFrame >= 0) {
        PutTag(out, "smpl");
        PutU32(out, 60);
        for (std::uint32_t value : {0u, 0u, 1000000000u / static_cast<std::uint32_t>(spec.sampleRate), 60u, 0u,
                                    0u, 0u, 1u, 0u}) {
            PutU32(out, value);
        }
        for (std::uint32_t value : {0u, 0u, static_cast<std::uint32_t>(spec.loopStart),
                                    static_cast<std::uint32_t>(spec.loopLastFrame), 0u, 0u}) {
            PutU32(out, value);
        }
    }
    const std::uint32_t riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int byte = 0; byte < 4; ++byte) out[4 + byte] = static_cast<unsigned char>(riffSize >> (8 * byte));
    return out;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fsound-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path = buffer.data();
}

TempDir::~TempDir() {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::int16_t> Constant(int frames, std::int16_t value) {
    return std::vector<std::int16_t>(static_cast<std::size_t>(frames), value);
}

std::vector<float> Side(const std::vector<float>& stereo, int side, std::size_t first, std::size_t last) {
    const std::size_t frames = stereo.size() / 2;
    if (last > frames) last = frames;
    std::vector<float> out;
    for (std::size_t frame = first; frame < last; ++frame) out.push_back(stereo[2 * frame + side]);
    return out;
}

double Rms(const std::vector<float>& mono) {
    if (mono.empty()) return 0.0;
    double sum = 0.0;
    for (float value : mono) sum += static_cast<double>(value) * value;
    return std::sqrt(sum / mono.size());
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
    double first = -1.0;
    double last = -1.0;
    int crossings = 0;
    for (std::size_t index = 1; index < mono.size(); ++index) {
        if (mono[index - 1] < 0.0f && mono[index] >= 0.0f) {
            const double where = (index - 1) + mono[index - 1] / (static_cast<double>(mono[index - 1]) - mono[index]);
            if (crossings == 0) first = where;
            last = where;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) / (last - first);
}

long FirstAbove(const std::vector<float>& mono, double threshold, std::size_t from) {
    for (std::size_t index = from; index < mono.size(); ++index) {
        if (std::fabs(mono[index]) > threshold) return static_cast<long>(index);
    }
    return -1;
}

}  // namespace fsound_test
