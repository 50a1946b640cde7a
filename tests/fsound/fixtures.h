// Helpers for the fsound tests: WAV files built byte by byte (with an
// optional smpl loop), a private temporary folder, and measurements on
// rendered stereo audio.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fsound_test {

// A 16-bit PCM WAV image. `frames` holds channels * frameCount values,
// interleaved. With loopLastFrame >= 0 a smpl chunk is added with one
// forward loop from loopStart to loopLastFrame (the chunk stores the last
// looped frame, inclusive).
struct WavSpec {
    int channels = 1;
    int sampleRate = 32000;
    std::vector<std::int16_t> frames;
    int loopStart = 0;
    int loopLastFrame = -1;
};
std::vector<unsigned char> WavBytes(const WavSpec& spec);

// A folder of its own under the system's temporary folder, removed with
// everything in it when the object goes.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string File(const std::string& name) const { return path + "/" + name; }
};

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadFile(const std::string& path);

// n frames of one value (full scale 32767).
std::vector<std::int16_t> Constant(int frames, std::int16_t value);

// One side of interleaved stereo: 0 left, 1 right; frames first..last-1.
std::vector<float> Side(const std::vector<float>& stereo, int side, std::size_t first = 0,
                        std::size_t last = static_cast<std::size_t>(-1));

double Rms(const std::vector<float>& mono);
double MaxAbs(const std::vector<float>& mono);
double MaxStep(const std::vector<float>& mono);  // largest |x[n+1] - x[n]|

// Frequency in cycles per frame from the upward zero crossings
// (interpolated) of `mono`; 0 when fewer than two.
double CyclesPerFrame(const std::vector<float>& mono);

// First index at or after `from` with |x| > threshold; -1 when none.
long FirstAbove(const std::vector<float>& mono, double threshold, std::size_t from = 0);

}  // namespace fsound_test
