// Helpers for the fsound tests: WAV images built byte by byte (with an
// optional smpl loop), a private temporary folder, and measurements on
// rendered audio.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/square/looped_wav.h"

// How many times the library decoded a file since FSOUND_Init (loads served
// from its cache of decoded files do not count); 0 when it is not started.
// Exported by the library for its tests, and published nowhere else.
extern "C" int FSOUND_Offline_DecodedFileCount(void);

namespace fsound_test {

// A 16-bit PCM WAV, written by the same writer as square.wav (libsndfile):
// `frames` holds channels * frame count values, interleaved; with
// loopLastFrame >= 0 a smpl chunk holds one forward loop from loopStart to
// loopLastFrame.
using WavSpec = looped_wav::Spec;
std::vector<unsigned char> WavBytes(const WavSpec& spec);

// `frames` frames of `value` (+16384 is +0.5), looped over all of them
// unless `looped` is false.
WavSpec LevelSpec(int frames, std::int16_t value = 16384, bool looped = true);

// A folder under the system's temporary folder, removed with its contents.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string File(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadFile(const std::string& path);

// One side (0 left, 1 right) of interleaved stereo, frames first..last-1.
std::vector<float> Side(const std::vector<float>& stereo, int side, std::size_t first = 0,
                        std::size_t last = static_cast<std::size_t>(-1));

double Rms(const std::vector<float>& mono);
double MaxAbs(const std::vector<float>& mono);
double MaxStep(const std::vector<float>& mono);  // largest |x[n+1] - x[n]|
// Cycles per frame from the upward zero crossings; 0 when fewer than two.
double CyclesPerFrame(const std::vector<float>& mono);
// First index at or after `from` with |x| > threshold; -1 when none.
long FirstAbove(const std::vector<float>& mono, double threshold, std::size_t from = 0);

// An audio file read back with libsndfile: interleaved floats.
struct Audio {
    int channels = 0;  // 0 when the file could not be read whole
    int rate = 0;      // Hz
    std::vector<float> samples;  // channels values per frame
    std::size_t Frames() const { return channels > 0 ? samples.size() / channels : 0; }
};
Audio ReadAudio(const std::string& path);
// The largest |value| over frames first..last-1 (cut to the file), every
// channel.
double PeakOver(const Audio& audio, std::size_t first, std::size_t last);

}  // namespace fsound_test
