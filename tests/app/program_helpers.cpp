#include "program_helpers.h"

#include <cstdint>
#include <regex>

namespace program_helpers {

std::string Banner() {
    return std::string("Fenk ") + FENK_VERSION + " - four-voice TI-83 Plus song player\n\n";
}

std::vector<std::string> QuietAudio() { return {"SDL_AUDIODRIVER=dummy"}; }

test_support::Bytes SquareWav(std::size_t frames) {
    auto little = [](std::uint32_t value, int bytes) {
        test_support::Bytes out;
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        return out;
    };
    test_support::Bytes samples;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint16_t value = (i / 4) % 2 ? 0x9000 : 0x7000;  // -28672, 28672
        samples.push_back(static_cast<std::uint8_t>(value));
        samples.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    const auto size = static_cast<std::uint32_t>(samples.size());
    using test_support::Text;
    // RIFF header, then "fmt " (PCM, 1 channel, 8000 Hz, 16000 bytes/s,
    // 2-byte frames, 16 bits) and "data".
    return test_support::Join({Text("RIFF"), little(36 + size, 4), Text("WAVEfmt "),
                               little(16, 4), little(1, 2), little(1, 2), little(8000, 4),
                               little(16000, 4), little(2, 2), little(16, 2), Text("data"),
                               little(size, 4), samples});
}

std::string WithoutCpuFigures(const std::string& text) {
    return std::regex_replace(text, std::regex("CPU:[0-9]+\\.[0-9]{2}%"), "CPU:#");
}

}  // namespace program_helpers
