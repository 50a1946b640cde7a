// Writes square.wav, the player's default voice sample: one cycle of a
// square wave, 32 frames (16 at +0.5 of full scale, 16 at -0.5), 16-bit
// signed mono PCM at a nominal 32000 Hz (the player sets every rate
// itself), with a smpl loop over the whole cycle. Played at rate r it
// sounds r / 32 Hz, so a period p (rate 1,000,000 / p) sounds
// 1,000,000 / (32 p) Hz.
//
// Usage: make_square_wav OUTPUT.wav
#include <cstdint>
#include <cstdio>
#include <string>

#include "data/square/looped_wav.h"

namespace {

constexpr int kFrames = 32;
constexpr std::int16_t kHigh = 16384;  // +0.5 of full scale
constexpr std::int16_t kLow = -16384;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_square_wav OUTPUT.wav\n");
        return 2;
    }
    looped_wav::Spec square;
    for (int frame = 0; frame < kFrames; ++frame) square.frames.push_back(frame < kFrames / 2 ? kHigh : kLow);
    square.loopLastFrame = kFrames - 1;
    std::string error;
    if (!looped_wav::Write(argv[1], square, &error)) {
        std::fprintf(stderr, "make_square_wav: cannot write %s: %s\n", argv[1], error.c_str());
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
