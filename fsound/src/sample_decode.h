// Decoding a sample with libsndfile: any format it reads, channels averaged
// to mono, as floats in -1..1, with the file's own loop if it has one. The
// same decoder serves files (through a descriptor) and bytes in memory (for
// fuzzing and tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "band_limited.h"

namespace fsound {

// Bounds on what a sample may be: 256 MiB of file, 4 Mi frames (over two
// minutes at 32000 Hz; at one float per frame 16 MiB before band limiting,
// about 128 MiB and a second of preparation after it).
constexpr std::int64_t kMaxSampleFileBytes = std::int64_t{256} << 20;
constexpr std::int64_t kMaxSampleFrames = std::int64_t{4} << 20;
// Channels a file may have (libsndfile's own bound).
constexpr int kMaxSampleChannels = 1024;

enum class DecodeFailure {
    None,
    NotAudio,     // libsndfile does not recognise it, or its header is unusable
    TooLarge,     // a file image over kMaxSampleFileBytes
    NoFrames,     // a valid file without a single frame
    TooLong,      // more than kMaxSampleFrames frames
    ReadError,    // the frames could not be read
};

struct DecodedSample {
    std::vector<float> mono;  // frames, -1..1 (non-finite values read as 0)
    int sampleRate = 0;       // Hz, as the file says (> 0)
    // The file's first loop: libsndfile reports a WAV smpl loop's end one
    // past the last looped frame (the chunk itself stores the last frame), so
    // `end` is exclusive as SampleLoop wants. A loop that does not fit the
    // frames is cut to them; one left empty is dropped (the sample plays
    // once). Every loop mode (forward, backward, alternating) loops forward.
    SampleLoop loop;
};

struct DecodeResult {
    DecodeFailure failure = DecodeFailure::NotAudio;
    DecodedSample sample;  // filled only when failure is None
};

// Memory grows with the frames actually read, not with the frame count a
// header claims: a header that promises up to kMaxSampleFrames over a few
// bytes of data costs no more than those bytes' frames.

// Decodes the file open for reading on `descriptor` (which stays open).
DecodeResult DecodeSampleDescriptor(int descriptor);

// Decodes a file image held in memory (`size` bytes at `bytes`).
DecodeResult DecodeSampleBytes(const unsigned char* bytes, std::size_t size);

}  // namespace fsound
