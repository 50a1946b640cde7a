// Writing a 16-bit PCM WAV file with one forward loop in its smpl chunk,
// through libsndfile (SFC_SET_INSTRUMENT): the default voice sample and the
// tests' samples are written the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace looped_wav {

struct Spec {
    int channels = 1;          // 1..8
    int sampleRate = 32000;    // Hz
    // channels * frame count values, interleaved.
    std::vector<std::int16_t> frames;
    int loopStart = 0;         // first looped frame
    // Last looped frame (the smpl chunk stores it so); no loop when < 0.
    int loopLastFrame = -1;
};

// Writes `spec` to `path`, replacing a file there. False with `error` set
// (libsndfile's reason) when the file cannot be written.
bool Write(const std::string& path, const Spec& spec, std::string* error);

}  // namespace looped_wav
