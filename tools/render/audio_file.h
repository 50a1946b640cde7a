// Writing the rendered audio: a stereo file through libsndfile in the
// format its name's extension asks for, written beside the final path and
// put in place only when it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "tools/common/tool_support.h"

typedef struct sf_private_tag SNDFILE;

namespace render {

// What a file name's extension asks for.
struct AudioFormat {
    bool ok = false;          // false: an extension this writer does not know
    int sndfileFormat = 0;    // SF_FORMAT_* major | subtype
    std::string description;  // for messages, e.g. "WAV, 16-bit"
    // The one rate to use, in Hz, when the format takes only a few and the
    // command line chose none (Opus: 48000); 0 when any rate will do.
    int defaultRate = 0;
};

// .wav, .flac, .ogg/.oga (Vorbis), .opus, .aif/.aiff, .au, .caf, .w64 (any
// letter case): 16-bit PCM for the uncompressed and FLAC ones.
AudioFormat FormatForPath(const std::string& path);

// The extensions FormatForPath knows, for messages: ".wav, .flac, ...",
// made from its table (a new format is one row there).
std::string KnownExtensions();

struct AudioFile {
    SNDFILE* file = nullptr;
    tools::PendingFile pending;
    AudioFormat format;
    // The 16-bit formats get their samples as 16-bit values, converted
    // here (as libsndfile's clipping conversion does, in vectors) in
    // `samples`; the others get the floats.
    bool sixteenBit = false;
    std::vector<std::int16_t> samples;
};

// Starts a stereo file at `path` with `sampleRate` Hz (frames per second).
// Fails with e.g. "cannot write 'x.opus': ..." (libsndfile's reason).
fenk::Result<AudioFile> OpenAudioFile(const std::string& path, int sampleRate);

// Appends `frames` frames of interleaved left/right samples (-1..1). Fails
// when the file cannot take them (a full disk).
fenk::Status WriteAudioFrames(AudioFile& audio, const float* stereo, std::size_t frames);

// Completes the file and puts it at its path, replacing what was there.
// When that fails nothing is left behind.
fenk::Status FinishAudioFile(AudioFile& audio);

// Drops the file: the path keeps what it had.
void AbandonAudioFile(AudioFile& audio);

}  // namespace render
