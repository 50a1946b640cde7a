#include "sample_decode.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace fsound {
namespace {

// Values (frames times channels) read per call: the interleaved buffer is
// 64 KiB whatever the channel count a header claims.
constexpr sf_count_t kReadChunkValues = 16384;
// Frames reserved before the first read (256 KiB of floats). Some formats
// (FLAC's STREAMINFO, for one) state a frame count that libsndfile does not
// check against the data, so the count is trusted only this far; a longer
// sample grows the vector as its frames arrive.
constexpr sf_count_t kInitialReserveFrames = sf_count_t{64} << 10;

// Reads every frame of an open file; the file is closed by the caller.
DecodeResult DecodeOpen(SNDFILE* file, const SF_INFO& info) {
    DecodeResult result;
    if (info.channels < 1 || info.channels > kMaxSampleChannels || info.samplerate < 1) {
        result.failure = DecodeFailure::NotAudio;
        return result;
    }
    if (info.frames <= 0) {
        result.failure = DecodeFailure::NoFrames;
        return result;
    }
    if (info.frames > kMaxSampleFrames) {
        result.failure = DecodeFailure::TooLong;
        return result;
    }

    const std::size_t channels = static_cast<std::size_t>(info.channels);
    std::vector<float> mono;
    mono.reserve(static_cast<std::size_t>(std::min(info.frames, kInitialReserveFrames)));
    const sf_count_t chunkFrames =
        std::max<sf_count_t>(1, kReadChunkValues / static_cast<sf_count_t>(channels));
    std::vector<float> chunk(static_cast<std::size_t>(chunkFrames) * channels);
    const float scale = 1.0f / static_cast<float>(channels);
    // The header's frame count bounds the loop: a file that holds more than
    // it declares is read only as far as declared.
    while (static_cast<sf_count_t>(mono.size()) < info.frames) {
        const sf_count_t wanted =
            std::min(chunkFrames, info.frames - static_cast<sf_count_t>(mono.size()));
        const sf_count_t got = sf_readf_float(file, chunk.data(), wanted);
        if (got <= 0) break;
        for (sf_count_t frame = 0; frame < got; ++frame) {
            float sum = 0.0f;
            for (std::size_t channel = 0; channel < channels; ++channel) {
                const float value = chunk[static_cast<std::size_t>(frame) * channels + channel];
                if (std::isfinite(value)) sum += std::clamp(value, -1.0f, 1.0f);
            }
            mono.push_back(sum * scale);
        }
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        result.failure = DecodeFailure::ReadError;
        return result;
    }
    // A file cut short gives fewer frames than its header says: keep those.
    if (mono.empty()) {
        result.failure = DecodeFailure::NoFrames;
        return result;
    }

    SampleLoop loop;
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE &&
        instrument.loop_count > 0 && instrument.loops[0].mode != SF_LOOP_NONE) {
        const std::size_t start = instrument.loops[0].start;
        const std::size_t end = std::min<std::size_t>(instrument.loops[0].end, mono.size());
        if (start < end) {
            loop.looped = true;
            loop.start = start;
            loop.end = end;
        }
    }

    result.failure = DecodeFailure::None;
    result.sample.mono = std::move(mono);
    result.sample.sampleRate = info.samplerate;
    result.sample.loop = loop;
    return result;
}

// A read-only file image in memory for libsndfile's virtual I/O.
struct MemoryFile {
    const unsigned char* bytes = nullptr;
    sf_count_t size = 0;
    sf_count_t position = 0;
};

sf_count_t MemoryLength(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t MemorySeek(sf_count_t offset, int whence, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = file.position; break;
        case SEEK_END: base = file.size; break;
        default: return -1;
    }
    // Stay inside 0..size, whatever the offset: no overflow, no reads past.
    if (offset < -base || offset > file.size - base) return -1;
    file.position = base + offset;
    return file.position;
}

sf_count_t MemoryRead(void* destination, sf_count_t count, void* user) {
    MemoryFile& file = *static_cast<MemoryFile*>(user);
    if (count <= 0) return 0;
    const sf_count_t available = file.size - file.position;
    const sf_count_t taken = std::min(count, available);
    std::copy(file.bytes + file.position, file.bytes + file.position + taken,
              static_cast<unsigned char*>(destination));
    file.position += taken;
    return taken;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t MemoryTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

}  // namespace

DecodeResult DecodeSampleDescriptor(int descriptor) {
    SF_INFO info{};
    // SF_FALSE: the descriptor stays ours, closed by the caller on every path.
    SNDFILE* file = sf_open_fd(descriptor, SFM_READ, &info, SF_FALSE);
    if (file == nullptr) return DecodeResult{};
    DecodeResult result = DecodeOpen(file, info);
    sf_close(file);
    return result;
}

DecodeResult DecodeSampleBytes(const unsigned char* bytes, std::size_t size) {
    if (size > static_cast<std::size_t>(kMaxSampleFileBytes)) {
        DecodeResult result;
        result.failure = DecodeFailure::TooLarge;
        return result;
    }
    if (bytes == nullptr || size == 0) return DecodeResult{};
    MemoryFile memory{bytes, static_cast<sf_count_t>(size), 0};
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (file == nullptr) return DecodeResult{};
    DecodeResult result = DecodeOpen(file, info);
    sf_close(file);
    return result;
}

}  // namespace fsound
