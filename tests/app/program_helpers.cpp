#include "tests/app/program_helpers.h"

#include <regex>

#include "tests/fsound/fixtures.h"

namespace program_helpers {


std::vector<std::string> QuietAudio() { return {"SDL_AUDIODRIVER=dummy"}; }

test_support::Bytes SquareWav(std::size_t frames) {
    fsound_test::WavSpec spec;
    spec.sampleRate = 8000;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        spec.frames.push_back((frame / 4) % 2 ? -28672 : 28672);
    }
    return fsound_test::WavBytes(spec);
}

std::string WithoutCpuFigures(const std::string& text) {
    return std::regex_replace(text, std::regex("CPU:[0-9]+\\.[0-9]{2}%"), "CPU:#");
}

}  // namespace program_helpers
