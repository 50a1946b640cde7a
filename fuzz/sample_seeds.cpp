// Writes the seed inputs of the sample fuzz target: small WAV files laid out
// chunk by chunk (no audio library involved), looped and one-shot, 8, 16 and
// 24-bit integer and 32-bit float, mono, stereo and three channels, with odd
// chunk sizes and pad bytes, and smpl loops outside the data or reversed.
// Usage: fuzz_sample_seeds FOLDER
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
    }
}

// A chunk: four-letter id, 32-bit size, the payload, and the pad byte that
// RIFF wants after a payload of odd size.
Bytes Chunk(const char* id, const Bytes& payload) {
    Bytes out(id, id + 4);
    Put32(out, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() % 2 == 1) out.push_back(0);
    return out;
}

// format 1: integer PCM; 3: IEEE float.
Bytes FmtChunk(unsigned format, unsigned channels, std::uint32_t rate, unsigned bits) {
    Bytes payload;
    Put16(payload, format);
    Put16(payload, channels);
    Put32(payload, rate);
    const unsigned blockAlign = channels * bits / 8;
    Put32(payload, rate * blockAlign);
    Put16(payload, blockAlign);
    Put16(payload, bits);
    return Chunk("fmt ", payload);
}

// One sample loop, forward; `last` is the last looped frame, as the chunk
// stores it.
Bytes SmplChunk(std::uint32_t first, std::uint32_t last) {
    Bytes payload;
    for (int i = 0; i < 7; ++i) Put32(payload, 0);  // manufacturer .. SMPTE offset
    Put32(payload, 1);                              // loops
    Put32(payload, 0);                              // sampler data
    Put32(payload, 0);                              // cue point id
    Put32(payload, 0);                              // type: forward
    Put32(payload, first);
    Put32(payload, last);
    Put32(payload, 0);  // fraction
    Put32(payload, 0);  // play count: for ever
    return Chunk("smpl", payload);
}

Bytes Riff(const std::vector<Bytes>& chunks) {
    Bytes body = {'W', 'A', 'V', 'E'};
    for (const Bytes& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
    Bytes out = {'R', 'I', 'F', 'F'};
    Put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// `frames` frames of a signal in -1..1 (a square of 32 frames, or a sine),
// as `bits`-bit integers (8-bit unsigned, wider signed) or 32-bit floats,
// the same on every channel but negated on odd ones.
Bytes Frames(unsigned frames, unsigned channels, unsigned bits, bool square, bool asFloat = false) {
    Bytes out;
    for (unsigned frame = 0; frame < frames; ++frame) {
        double value = square ? (frame % 32 < 16 ? 0.75 : -0.75)
                              : 0.8 * std::sin(2.0 * M_PI * frame / 50.0);
        for (unsigned channel = 0; channel < channels; ++channel) {
            const double v = channel % 2 == 1 ? -value : value;
            if (asFloat) {
                float f = static_cast<float>(v);
                std::uint32_t word;
                std::memcpy(&word, &f, sizeof word);
                Put32(out, word);
            } else if (bits == 8) {
                out.push_back(static_cast<std::uint8_t>(std::lround(128 + 127 * v)));
            } else {
                const long scaled = std::lround(v * ((1L << (bits - 1)) - 1));
                for (unsigned byte = 0; byte < bits / 8; ++byte) {
                    out.push_back(static_cast<std::uint8_t>((scaled >> (8 * byte)) & 0xFF));
                }
            }
        }
    }
    return out;
}

std::vector<fuzz_support::Seed> SampleSeeds() {
    std::vector<fuzz_support::Seed> seeds;

    seeds.push_back({"square16-looped",
                     Riff({FmtChunk(1, 1, 32000, 16), Chunk("data", Frames(32, 1, 16, true)),
                           SmplChunk(0, 31)})});
    seeds.push_back({"sine16-oneshot",
                     Riff({FmtChunk(1, 1, 22050, 16), Chunk("data", Frames(300, 1, 16, false))})});
    seeds.push_back({"square8-looped",
                     Riff({FmtChunk(1, 1, 8000, 8), Chunk("data", Frames(64, 1, 8, true)),
                           SmplChunk(32, 63)})});
    seeds.push_back({"sine24-oneshot",
                     Riff({FmtChunk(1, 1, 48000, 24), Chunk("data", Frames(100, 1, 24, false))})});
    seeds.push_back({"square16-stereo-looped",
                     Riff({FmtChunk(1, 2, 44100, 16), SmplChunk(0, 31),
                           Chunk("data", Frames(32, 2, 16, true))})});
    seeds.push_back({"sine32f-three-channels",
                     Riff({FmtChunk(3, 3, 16000, 32), Chunk("data", Frames(80, 3, 32, false, true))})});
    // Odd chunks: an odd-sized LIST before the data, an odd-sized 8-bit data
    // chunk with its pad byte, and an unknown chunk after it.
    seeds.push_back({"odd-chunks",
                     Riff({FmtChunk(1, 1, 11025, 8), Chunk("LIST", Bytes{'I', 'N', 'F', 'O', 'x'}),
                           Chunk("data", Frames(33, 1, 8, true)), Chunk("junk", Bytes(7, 0xAA))})});
    // Loops that do not fit: past the data, reversed, starting past the end.
    seeds.push_back({"loop-past-data",
                     Riff({FmtChunk(1, 1, 32000, 16), Chunk("data", Frames(32, 1, 16, true)),
                           SmplChunk(16, 500)})});
    seeds.push_back({"loop-reversed",
                     Riff({FmtChunk(1, 1, 32000, 16), Chunk("data", Frames(32, 1, 16, true)),
                           SmplChunk(20, 4)})});
    seeds.push_back({"loop-outside-data",
                     Riff({FmtChunk(1, 1, 32000, 16), Chunk("data", Frames(32, 1, 16, true)),
                           SmplChunk(100, 200)})});
    // A data chunk that promises more bytes than the file holds.
    Bytes cut = Riff({FmtChunk(1, 1, 32000, 16), Chunk("data", Frames(64, 1, 16, true))});
    cut.resize(cut.size() - 40);
    seeds.push_back({"data-cut-short", cut});

    return seeds;
}

}  // namespace

int main(int argc, char** argv) { return fuzz_support::WriteSeeds(argc, argv, ".wav", SampleSeeds); }
