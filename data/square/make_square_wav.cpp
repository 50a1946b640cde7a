// Writes square.wav, the player's default voice sample: one cycle of a
// square wave, 32 frames (16 at +0.5 of full scale, 16 at -0.5), 16-bit
// signed mono PCM, with a smpl chunk that loops the whole cycle. Played at
// rate r it sounds r / 32 Hz, so a period p (rate 1,000,000 / p) sounds
// 1,000,000 / (32 p) Hz.
//
// Usage: make_square_wav OUTPUT.wav
//
// Byte layout (every number little-endian):
//   0  "RIFF", u32 file size - 8, "WAVE"
//  12  "fmt ", u32 16: u16 format 1 (PCM), u16 channels 1, u32 rate 32000,
//      u32 bytes per second 64000, u16 block align 2, u16 bits 16
//  36  "data", u32 64: 32 frames of i16
// 108  "smpl", u32 60: u32 manufacturer 0, u32 product 0, u32 sample period
//      31250 (ns per frame at 32000 Hz), u32 MIDI unity note 60, u32 pitch
//      fraction 0, u32 SMPTE format 0, u32 SMPTE offset 0, u32 loop count 1,
//      u32 sampler data 0, then the loop: u32 cue id 0, u32 type 0
//      (forward), u32 start 0, u32 end 31 (the last looped frame), u32
//      fraction 0, u32 play count 0 (forever)
// 176  end of file
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSampleRate = 32000;  // nominal; the player sets every rate itself
constexpr int kFrames = 32;
constexpr std::int16_t kHigh = 16384;  // +0.5 of full scale
constexpr std::int16_t kLow = -16384;

void PutU16(std::vector<unsigned char>& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void PutTag(std::vector<unsigned char>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

std::vector<unsigned char> SquareWav() {
    std::vector<unsigned char> out;
    PutTag(out, "RIFF");
    PutU32(out, 0);  // patched below
    PutTag(out, "WAVE");

    PutTag(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1);
    PutU16(out, 1);
    PutU32(out, kSampleRate);
    PutU32(out, kSampleRate * 2);
    PutU16(out, 2);
    PutU16(out, 16);

    PutTag(out, "data");
    PutU32(out, kFrames * 2);
    for (int frame = 0; frame < kFrames; ++frame) {
        PutU16(out, static_cast<std::uint16_t>(frame < kFrames / 2 ? kHigh : kLow));
    }

    PutTag(out, "smpl");
    PutU32(out, 36 + 24);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 1000000000u / kSampleRate);
    PutU32(out, 60);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 1);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, 0);
    PutU32(out, kFrames - 1);
    PutU32(out, 0);
    PutU32(out, 0);

    const std::uint32_t riffSize = static_cast<std::uint32_t>(out.size() - 8);
    for (int byte = 0; byte < 4; ++byte) out[4 + byte] = static_cast<unsigned char>((riffSize >> (8 * byte)) & 0xFF);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_square_wav OUTPUT.wav\n");
        return 2;
    }
    const std::vector<unsigned char> bytes = SquareWav();
    const std::string path = argv[1];
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_square_wav: cannot create %s\n", path.c_str());
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "make_square_wav: cannot write %s\n", path.c_str());
        std::remove(path.c_str());
        return 1;
    }
    return 0;
}
