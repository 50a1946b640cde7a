#include "sample_decode.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "regular_file.h"

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

// More chunks than this before a file's end is no WAV that anyone wrote.
constexpr int kMaxRiffChunks = 4096;

std::uint32_t Word32(const unsigned char* bytes, bool littleEndian) {
    return littleEndian ? std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
                              std::uint32_t(bytes[3]) << 24
                        : std::uint32_t(bytes[3]) | std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[1]) << 16 |
                              std::uint32_t(bytes[0]) << 24;
}

// False for a RIFF (or RIFX) WAVE file whose chunks do not fit it: a chunk
// other than "data" that claims more bytes than the file has left, or more
// than kMaxRiffChunks chunks. libsndfile walks such a chunk's claimed length
// (a LIST of 4 GiB over a few hundred bytes kept it busy for minutes), so
// the file is refused before libsndfile sees it. A "data" chunk cut short is
// a recording cut short, which libsndfile reads as far as it goes. Any other
// file is left to libsndfile. `readAt(offset, buffer, count)` returns the
// bytes it read; `size` is the file's length.
template <typename ReadAt>
bool RiffChunksFit(ReadAt readAt, std::int64_t size) {
    // Bytes 0-3 "RIFF" or "RIFX" (big-endian sizes), 8-11 "WAVE"; chunks
    // from byte 12: an id (4 bytes), a size (4), the data, padded to even.
    unsigned char header[12];
    if (size < 12 || readAt(0, header, sizeof header) != static_cast<std::int64_t>(sizeof header)) return true;
    const bool littleEndian = std::memcmp(header, "RIFF", 4) == 0;
    if ((!littleEndian && std::memcmp(header, "RIFX", 4) != 0) || std::memcmp(header + 8, "WAVE", 4) != 0) {
        return true;
    }
    std::int64_t offset = 12;
    for (int chunks = 0; offset + 8 <= size; ++chunks) {
        if (chunks == kMaxRiffChunks) return false;
        unsigned char chunk[8];
        if (readAt(offset, chunk, sizeof chunk) != static_cast<std::int64_t>(sizeof chunk)) return true;
        const std::int64_t length = Word32(chunk + 4, littleEndian);
        if (length > size - offset - 8) return std::memcmp(chunk, "data", 4) == 0;
        offset += 8 + length + (length & 1);
    }
    return true;
}

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
    const auto readAt = [descriptor](std::int64_t offset, unsigned char* buffer, std::size_t count) {
        return ReadFileAt(descriptor, offset, buffer, count);
    };
    if (!RiffChunksFit(readAt, FileSizeBytes(descriptor))) return DecodeResult{};
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
    // The chunk walk reads through the same bounded seek and read that
    // libsndfile is given.
    const auto readAt = [&memory](std::int64_t offset, unsigned char* buffer, std::size_t count) {
        if (MemorySeek(offset, SEEK_SET, &memory) < 0) return std::int64_t{0};
        return static_cast<std::int64_t>(MemoryRead(buffer, static_cast<sf_count_t>(count), &memory));
    };
    if (!RiffChunksFit(readAt, static_cast<std::int64_t>(size))) return DecodeResult{};
    memory.position = 0;
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (file == nullptr) return DecodeResult{};
    DecodeResult result = DecodeOpen(file, info);
    sf_close(file);
    return result;
}

}  // namespace fsound
