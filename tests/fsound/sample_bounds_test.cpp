// The decoder's bounds on a sample: the frame count accepted up to the bound
// and refused past it, and memory that follows the frames a file really
// holds, not the counts its header states. A program of its own, because it
// replaces the global operator new to see the largest single request.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fsound/fixtures.h"
#include "sample_decode.h"

namespace {

// The largest size asked of operator new since the last reset. libsndfile
// allocates with malloc, so this sees our own buffers only.
std::atomic<std::size_t> largestRequest{0};

}  // namespace

// Out of line, so that the compiler does not meet free() on a pointer it
// saw come from operator new (and warn of a mismatch that is none).
__attribute__((noinline)) void* operator new(std::size_t size) {
    std::size_t seen = largestRequest.load(std::memory_order_relaxed);
    while (size > seen && !largestRequest.compare_exchange_weak(seen, size)) {
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) std::abort();
    return block;
}
__attribute__((noinline)) void operator delete(void* block) noexcept { std::free(block); }
__attribute__((noinline)) void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

using namespace fsound_test;

constexpr std::int64_t kBound = std::int64_t{4} << 20;  // frames
// Far above what ten frames, or any chunk buffer, need; far below what
// trusting a header's count of four million frames would take.
constexpr std::size_t kSmallRequest = std::size_t{1} << 20;

fsound::DecodeResult DecodeFile(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return fsound::DecodeResult{};
    fsound::DecodeResult result = fsound::DecodeSampleDescriptor(descriptor);
    close(descriptor);
    return result;
}

// A 16-bit mono WAV whose data chunk holds `frames` frames of silence: the
// header is written, the rest is a hole that ftruncate leaves.
std::string SilentWav(const TempDir& dir, const std::string& name, std::uint32_t frames) {
    std::vector<unsigned char> header = WavBytes(LevelSpec(1, 0, false));
    header.resize(44);
    const std::uint32_t dataBytes = frames * 2;
    for (int byte = 0; byte < 4; ++byte) {
        header[4 + byte] = static_cast<unsigned char>((dataBytes + 36) >> (8 * byte));  // RIFF size
        header[40 + byte] = static_cast<unsigned char>(dataBytes >> (8 * byte));        // data size
    }
    const std::string path = dir.File(name);
    WriteFile(path, header);
    EXPECT_EQ(truncate(path.c_str(), 44 + std::int64_t{dataBytes}), 0);
    return path;
}

// A 16-bit mono FLAC of `values`, written by libsndfile, with the total
// sample count of its STREAMINFO block then set to `claimedFrames`.
std::vector<unsigned char> FlacClaiming(const TempDir& dir, const std::vector<short>& values,
                                        std::uint64_t claimedFrames) {
    const std::string path = dir.File("written.flac");
    SF_INFO info{};
    info.samplerate = 32000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (file == nullptr) return {};
    EXPECT_EQ(sf_write_short(file, values.data(), static_cast<sf_count_t>(values.size())),
              static_cast<sf_count_t>(values.size()));
    sf_close(file);

    std::vector<unsigned char> bytes = ReadFile(path);
    // "fLaC", then the first block's header (type 0, STREAMINFO, at byte 4);
    // its 36-bit total sample count ends at byte 25: the low 4 bits of byte
    // 21 and bytes 22..25, big-endian.
    EXPECT_GE(bytes.size(), 26u);
    if (bytes.size() < 26 || std::string(bytes.begin(), bytes.begin() + 4) != "fLaC" ||
        (bytes[4] & 0x7f) != 0) {
        ADD_FAILURE() << "no STREAMINFO block where a FLAC file keeps it";
        return {};
    }
    bytes[21] = static_cast<unsigned char>((bytes[21] & 0xf0) | ((claimedFrames >> 32) & 0x0f));
    for (int byte = 0; byte < 4; ++byte) {
        bytes[22 + byte] = static_cast<unsigned char>(claimedFrames >> (8 * (3 - byte)));
    }
    return bytes;
}

TEST(SampleBounds, FourMebiFramesLoadAndOneMoreIsTooLong) {
    TempDir dir;
    const fsound::DecodeResult atBound =
        DecodeFile(SilentWav(dir, "bound.wav", static_cast<std::uint32_t>(kBound)));
    ASSERT_EQ(atBound.failure, fsound::DecodeFailure::None);
    EXPECT_EQ(static_cast<std::int64_t>(atBound.sample.mono.size()), kBound);
    EXPECT_EQ(DecodeFile(SilentWav(dir, "over.wav", static_cast<std::uint32_t>(kBound + 1))).failure,
              fsound::DecodeFailure::TooLong);
}

// A header claiming nearly the bound over ten frames of data loads the ten
// frames (a file cut short keeps what it holds) and asks for no more memory
// than they need; a claim past the bound is refused before any reading. The
// same through a descriptor and from bytes in memory.
TEST(SampleBounds, HeaderClaimingFramesItDoesNotHoldCostsOnlyWhatItHolds) {
    TempDir dir;
    const std::vector<short> values = {0, 3000, 6000, 9000, 12000, 9000, 6000, 3000, 0, -3000};
    const std::vector<unsigned char> lying = FlacClaiming(dir, values, kBound - 1);
    const std::vector<unsigned char> tooLong = FlacClaiming(dir, values, kBound + 1);
    ASSERT_FALSE(lying.empty());
    ASSERT_FALSE(tooLong.empty());
    const std::string lyingPath = dir.File("lying.flac");
    const std::string tooLongPath = dir.File("too-long.flac");
    WriteFile(lyingPath, lying);
    WriteFile(tooLongPath, tooLong);
    {
        SF_INFO info{};
        SNDFILE* file = sf_open(lyingPath.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        sf_close(file);
        ASSERT_EQ(info.frames, kBound - 1) << "libsndfile takes the count as the header states it";
    }

    const auto fromFile = [](const std::string& path) { return DecodeFile(path); };
    const auto fromBytes = [](const std::string& path) {
        const std::vector<unsigned char> bytes = ReadFile(path);
        return fsound::DecodeSampleBytes(bytes.data(), bytes.size());
    };
    for (const bool inMemory : {false, true}) {
        SCOPED_TRACE(inMemory ? "bytes in memory" : "descriptor");
        largestRequest = 0;
        const fsound::DecodeResult result = inMemory ? fromBytes(lyingPath) : fromFile(lyingPath);
        const std::size_t largest = largestRequest;
        ASSERT_EQ(result.failure, fsound::DecodeFailure::None);
        ASSERT_EQ(result.sample.mono.size(), values.size());
        for (std::size_t frame = 0; frame < values.size(); ++frame) {
            EXPECT_NEAR(result.sample.mono[frame], values[frame] / 32768.0, 1e-6) << frame;
        }
        EXPECT_LT(largest, kSmallRequest) << "bytes asked for at once";
        EXPECT_EQ((inMemory ? fromBytes(tooLongPath) : fromFile(tooLongPath)).failure,
                  fsound::DecodeFailure::TooLong);
    }
}

// The read buffer holds a chunk of frames for every channel: a file of the
// most channels libsndfile takes must not make it megabytes long.
TEST(SampleBounds, ManyChannelsKeepTheReadBufferSmall) {
    WavSpec spec;
    spec.channels = fsound::kMaxSampleChannels;
    for (int frame = 0; frame < 3; ++frame) {
        for (int channel = 0; channel < spec.channels; ++channel) {
            spec.frames.push_back(static_cast<std::int16_t>(channel % 2 == 0 ? 8192 * frame : 0));
        }
    }
    const std::vector<unsigned char> bytes = WavBytes(spec);
    largestRequest = 0;
    const fsound::DecodeResult result = fsound::DecodeSampleBytes(bytes.data(), bytes.size());
    const std::size_t largest = largestRequest;
    ASSERT_EQ(result.failure, fsound::DecodeFailure::None);
    ASSERT_EQ(result.sample.mono.size(), 3u);
    EXPECT_NEAR(result.sample.mono[2], 16384 / 2 / 32768.0, 1e-6) << "the channels' mean";
    EXPECT_LT(largest, kSmallRequest) << "bytes asked for at once";
}

}  // namespace
