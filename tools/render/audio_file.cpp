#include "tools/render/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace render {

namespace {

struct KnownFormat {
    const char* extension;
    int format;
    const char* description;
    int defaultRate = 0;
};

const KnownFormat kFormats[] = {
    {".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "WAV, 16-bit"},
    {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "FLAC, 16-bit"},
    {".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, "Ogg Vorbis"},
    {".oga", SF_FORMAT_OGG | SF_FORMAT_VORBIS, "Ogg Vorbis"},
    // libsndfile's Opus encoder takes 8000, 12000, 16000, 24000 or 48000 Hz.
    {".opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, "Ogg Opus", 48000},
    {".aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "AIFF, 16-bit"},
    {".aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "AIFF, 16-bit"},
    {".au", SF_FORMAT_AU | SF_FORMAT_PCM_16, "AU, 16-bit"},
    {".caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, "CAF, 16-bit"},
    {".w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, "Wave64, 16-bit"},
};

// libsndfile's reason for a failure of `file` (null: of the last open),
// without the line end that the Windows system messages in it carry.
std::string SndfileReason(SNDFILE* file) {
    std::string reason = sf_strerror(file);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    return reason;
}

// Samples of -1..1 as 16-bit values, the same ones libsndfile's clipping
// conversion (SFC_SET_CLIPPING) gives: it rounds x * 2^31 to the nearest
// integer (clipped to the 32-bit range) and keeps the top 16 bits, which is
// x * 32768 rounded down except just below a whole step, where the rounding
// at 2^31 goes up (-1e-10 gives 0, not -1). Several times as fast as its
// loop of one sample at a time.
void ToSixteenBit(const float* from, std::size_t count, std::int16_t* to) {
    // The largest float below 2^31: a sample at or above 1 keeps 32767.
    constexpr float kHighest = 2147483520.0f;
    constexpr float kScale = 2147483648.0f;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(kScale), lowest = _mm_set1_ps(-kScale), highest = _mm_set1_ps(kHighest);
    const auto four = [&](const float* at) {
        // max gives `lowest` for a NaN, as libsndfile's 0x80000000 does.
        const __m128 scaled = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(at), scale), lowest), highest);
        return _mm_srai_epi32(_mm_cvtps_epi32(scaled), 16);
    };
    for (; i + 8 <= count; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_packs_epi32(four(from + i), four(from + i + 4)));
    }
#endif
    for (; i < count; ++i) {
        const float scaled = from[i] * kScale;
        const std::int32_t value = !(scaled > -kScale) ? INT32_MIN  // a NaN too, as the vectors do
                                   : scaled > kHighest ? INT32_MAX
                                                       : static_cast<std::int32_t>(std::lrintf(scaled));
        to[i] = static_cast<std::int16_t>(value >> 16);
    }
}

}  // namespace

AudioFormat FormatForPath(const std::string& path) {
    AudioFormat result;
    const std::string extension = tools::LowerExtension(path);
    for (const KnownFormat& known : kFormats) {
        if (extension == known.extension) {
            result.ok = true;
            result.sndfileFormat = known.format;
            result.description = known.description;
            result.defaultRate = known.defaultRate;
        }
    }
    return result;
}

std::string KnownExtensions() {
    std::string known;
    for (const KnownFormat& format : kFormats) {
        if (!known.empty()) known += ", ";
        known += format.extension;
    }
    return known;
}

fenk::Result<AudioFile> OpenAudioFile(const std::string& path, int sampleRate) {
    const auto fail = [](const std::string& reason) {
        return fenk::Failed<AudioFile>(fenk::Failure::Failed, reason);
    };
    AudioFile audio;
    audio.format = FormatForPath(path);
    if (!audio.format.ok) {
        return fail("cannot tell an audio format from the name '" + path + "' (use " +
                    KnownExtensions() + ")");
    }
    SF_INFO info = {};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = audio.format.sndfileFormat;
    if (!sf_format_check(&info)) {
        return fail("cannot write " + audio.format.description + " at " +
                    std::to_string(sampleRate) + " Hz");
    }
    fenk::Result<tools::PendingFile> pending = tools::BeginPendingFile(path);
    if (!pending.ok()) return fail(pending.reason);
    audio.pending = pending.value;
    // The descriptor stays ours (SF_FALSE): after sf_close the pending file
    // forces it to the disk before putting it in place.
    audio.file = sf_open_fd(audio.pending.descriptor, SFM_WRITE, &info, SF_FALSE);
    if (audio.file == nullptr) {
        const std::string why = SndfileReason(nullptr);
        tools::DiscardPendingFile(audio.pending);
        return fail("cannot write '" + path + "': " + why);
    }
    // Samples of exactly 1.0 would wrap in 16-bit PCM without this.
    sf_command(audio.file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    audio.sixteenBit = (audio.format.sndfileFormat & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    return fenk::Succeeded(std::move(audio));
}

fenk::Status WriteAudioFrames(AudioFile& audio, const float* stereo, std::size_t frames) {
    const sf_count_t wanted = static_cast<sf_count_t>(frames);
    sf_count_t written = 0;
    if (audio.sixteenBit) {
        audio.samples.resize(2 * frames);
        ToSixteenBit(stereo, 2 * frames, audio.samples.data());
        written = sf_writef_short(audio.file, audio.samples.data(), wanted);
    } else {
        written = sf_writef_float(audio.file, stereo, wanted);
    }
    if (written != wanted) {
        return fenk::Fail("cannot write '" + audio.pending.finalPath + "': " + SndfileReason(audio.file));
    }
    tools::StartWritingBack(audio.pending);
    return fenk::Success();
}

fenk::Status FinishAudioFile(AudioFile& audio) {
    // sf_close writes the final lengths into the header and flushes the encoder.
    const int closed = sf_close(audio.file);
    audio.file = nullptr;
    if (closed != 0) {
        tools::DiscardPendingFile(audio.pending);
        return fenk::Fail("cannot write '" + audio.pending.finalPath + "': " + sf_error_number(closed));
    }
    return tools::CommitPendingFile(audio.pending);
}

void AbandonAudioFile(AudioFile& audio) {
    if (audio.file != nullptr) sf_close(audio.file);
    audio.file = nullptr;
    tools::DiscardPendingFile(audio.pending);
}

}  // namespace render
