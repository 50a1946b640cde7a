// fenk-render SONG OUT [sample] [-switches] [--rate HZ]: plays a song into
// an audio file instead of the sound card, through the player's own tone
// output and sequencer, with the sound library in offline mode.
#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio_file.h"
#include "fsound_errors.h"
#include "fsound_offline.h"
#include "platform.h"
#include "playback.h"
#include "songfile.h"
#include "tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-render";
constexpr int kMinimumRate = 4000;  // the sound library's range
constexpr int kMaximumRate = 65535;
// Frames mixed per call and buffered before each write.
constexpr std::size_t kChunkFrames = 4096;

// The sequencer's waits turned into audio: SleepMs(ms) mixes exactly the
// frames that bring the total to (all ms so far) x rate / 1000, so no
// fraction of a frame is ever lost. No keyboard: an interrupt signal, or a
// failed write, stops playback.
class RenderClock : public playback::Clock {
public:
    RenderClock(render::AudioFile& audio, int rate, std::uint64_t expectedMs, bool progress)
        : audio_(audio), rate_(rate), expectedMs_(expectedMs), progress_(progress),
          buffer_(2 * kChunkFrames) {}

    bool StopRequested() override { return failed_ || tools::Interrupted(); }

    void SleepMs(unsigned milliseconds) override {
        if (failed_) return;
        elapsedMs_ += milliseconds;
        const std::uint64_t target = elapsedMs_ * static_cast<std::uint64_t>(rate_) / 1000;
        while (rendered_ < target && !failed_) {
            const std::size_t room = kChunkFrames - buffered_;
            const std::uint64_t due = target - rendered_;
            const int frames = static_cast<int>(due < room ? due : room);
            const int got = FSOUND_Offline_Render(buffer_.data() + 2 * buffered_, frames);
            if (got != frames) {
                Fail("the sound library stopped rendering");
                return;
            }
            buffered_ += static_cast<std::size_t>(frames);
            rendered_ += static_cast<std::uint64_t>(frames);
            if (buffered_ == kChunkFrames) Flush();
        }
        ShowProgress();
    }

    // Writes what is buffered; true when nothing failed so far.
    bool Flush() {
        if (!failed_ && buffered_ > 0) {
            std::string error;
            if (!render::WriteAudioFrames(audio_, buffer_.data(), buffered_, &error)) Fail(error);
        }
        buffered_ = 0;
        return !failed_;
    }

    void EndProgress() {
        if (progress_ && shownPercent_ >= 0) std::fprintf(stderr, "\r%*s\r", 72, "");
    }

    std::uint64_t Frames() const { return rendered_; }
    const std::string& Error() const { return error_; }
    bool Failed() const { return failed_; }

private:
    void Fail(const std::string& error) {
        failed_ = true;
        error_ = error;
    }

    void ShowProgress() {
        if (!progress_ || expectedMs_ == 0) return;
        std::uint64_t percent = elapsedMs_ * 100 / expectedMs_;
        if (percent > 100) percent = 100;
        if (static_cast<int>(percent) == shownPercent_) return;
        shownPercent_ = static_cast<int>(percent);
        constexpr int kWidth = 40;
        const int filled = static_cast<int>(percent * kWidth / 100);
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%  %.1f of %.1f s", filled,
                     "########################################", kWidth - filled, "",
                     shownPercent_, elapsedMs_ / 1000.0, expectedMs_ / 1000.0);
        std::fflush(stderr);
    }

    render::AudioFile& audio_;
    int rate_;
    std::uint64_t expectedMs_;
    bool progress_;
    std::vector<float> buffer_;
    std::size_t buffered_ = 0;
    std::uint64_t elapsedMs_ = 0;
    std::uint64_t rendered_ = 0;
    int shownPercent_ = -1;
    bool failed_ = false;
    std::string error_;
};

// The number of entries in the song's order list, up to its 0 entry (or the
// block's end).
std::size_t OrderEntryCount(const songfile::SongView& song) {
    std::size_t count = 0;
    while (songfile::OrderEntryAt(song, song.orderList + count * songfile::kOrderEntryBytes) != 0)
        ++count;
    return count;
}

// Cuts the order list of `block` (which `song` views) to entries
// first..last (1-based, within the list): the view starts at entry `first`
// and a 0 word takes the place of the entry after `last`. The sections stay
// where they are, so every offset still holds.
void CutOrderList(std::vector<std::uint8_t>& block, songfile::SongView& song, std::size_t first,
                  std::size_t last, std::size_t count) {
    if (last < count) {
        const std::size_t end = song.orderList + last * songfile::kOrderEntryBytes;
        block[end] = 0;
        block[end + 1] = 0;
    }
    song.orderList += (first - 1) * songfile::kOrderEntryBytes;
}

// Voices "0".."3" (as the song format and fenk-info number them) as given
// to --mute: "13", "1,3", "0 2"; false for anything else.
bool ParseVoiceList(const std::string& text, bool muted[4]) {
    for (char c : text) {
        if (c >= '0' && c <= '3') {
            muted[c - '0'] = true;
        } else if (c != ',' && c != ' ') {
            return false;
        }
    }
    return true;
}

// How long the sequencer will wait in all, in ms: every row it plays and
// the final wait.
std::uint64_t PlayingTimeMs(const songfile::SongView& song, std::uint64_t* rows) {
    std::uint64_t ticks = 0;
    *rows = 0;
    songfile::WalkSong(song, [&](const songfile::WalkedRow& walked) {
        ticks += walked.row.duration;
        ++*rows;
        return true;
    });
    return ticks * songfile::kTickMilliseconds + songfile::kEndWaitMilliseconds;
}

// The sound library's reason for its latest failure.
std::string LibraryError() { return FSOUND_GetErrorText(FSOUND_GetError()); }

int Fail(const std::string& message) {
    tools::PrintError(kProgram, message);
    return 1;
}


// The tool itself; main runs it through tools::RunTool.
int Main(int argc, char** argv) {
    CLI::App app("Play a Fenk song (a TI-83 Plus program file) into the audio file OUT\n"
                 "instead of the sound card, exactly as fenk plays it: every 5 ms tick\n"
                 "is 5 ms of audio, the last row sounds through the final 2.5 s.",
                 kProgram);
    std::string songPath, outputPath;
    std::vector<std::string> samples;
    int rate = 0;
    std::size_t from = 0, to = 0;
    std::string mute;
    app.add_option("SONG", songPath, "the song file")->required();
    app.add_option("OUT", outputPath, "the audio file to write")->required();
    app.add_option("sample", samples, "the voice sample (default square.wav)");
    app.add_option("--rate", rate, "output rate in Hz (default 32000, 8000 with l)")
        ->check(CLI::Range(kMinimumRate, kMaximumRate));
    app.add_option("--from", from, "the first order entry to play, from 1 (default 1)")
        ->check(CLI::PositiveNumber);
    app.add_option("--to", to, "the last order entry to play (default the last)")
        ->check(CLI::PositiveNumber);
    app.add_option("--mute", mute, "voices to leave silent, 0 to 3, such as 13 or 0,2");
    // fenk's switch groups (-x, -m, -l, -xml...) are no options of ours: they
    // come back as the arguments CLI11 leaves.
    app.allow_extras();
    app.footer("OUT's extension chooses the format: " + std::string(render::KnownExtensions()) +
               ".\nAn existing OUT is replaced only when the render succeeds, and never\n"
               "when it is the song or the sample. The sample and the switches are\n"
               "fenk's: x: extended notes, m: mono, l: low quality (8000 Hz).");
    const tools::StandardOptionsOutcome standard = tools::ParseCommandLine(kProgram, app, argc, argv);
    if (!standard.proceed) return standard.exitStatus;

    // The sample and switches exactly as fenk reads them.
    std::vector<std::string> fenkArguments;
    if (!tools::FenkStyleArguments(kProgram, samples, app.remaining(), &fenkArguments)) return 1;
    playback::PlaybackSettings settings = playback::ParseSettings(fenkArguments);

    const render::AudioFormat format = render::FormatForPath(outputPath);
    if (!format.ok) {
        return Fail("cannot tell an audio format from the name '" + outputPath + "' (use " +
                    render::KnownExtensions() + ")");
    }
    if (rate != 0) {
        settings.mixRate = rate;
    } else if (format.defaultRate != 0 && settings.mixRate != 8000) {
        // Opus takes the low-quality switch's 8000 Hz, not the usual 32000.
        settings.mixRate = format.defaultRate;
    }
    bool muted[4] = {};
    if (!ParseVoiceList(mute, muted)) {
        return Fail("--mute takes voices 0 to 3, such as 13 or 0,2; not '" + mute + "'");
    }

    // Neither the song nor the sample may be what the render replaces.
    const std::string samplePath = platform::ResolveDataFile(settings.samplePath);
    const std::string overInput = tools::OutputOverInput(outputPath, {songPath, samplePath});
    if (!overInput.empty()) return Fail(overInput);

    const songfile::ReadResult read = songfile::ReadTiProgramFile(songPath.c_str());
    if (read.failure == songfile::ReadFailure::OpenFailed) {
        return Fail("cannot open '" + songPath + "': " + tools::WhyCannotOpen(songPath));
    }
    if (read.failure == songfile::ReadFailure::NotTiProgram) {
        return Fail("'" + songPath + "' is not a TI-83 Plus program file");
    }
    const songfile::ParseResult parsed =
        songfile::ParseSong(read.file.data.data(), read.file.data.size());
    if (!parsed.ok) return Fail("'" + songPath + "' holds no Fenk song");
    if (songfile::IsTruncated(read.file)) {
        std::fprintf(stderr, "%s: warning: the song data is truncated (%zu of %u bytes)\n",
                     kProgram, read.file.data.size(),
                     static_cast<unsigned>(read.file.declaredLength));
    }
    // The part to play: a copy of the block whose order list is cut.
    std::vector<std::uint8_t> block = read.file.data;
    songfile::SongView song = parsed.view;  // the same layout, over the copy
    song.data = block.data();
    const std::size_t entries = OrderEntryCount(song);
    const std::size_t first = from == 0 ? 1 : from;
    const std::size_t last = to == 0 ? entries : to;
    if ((from != 0 || to != 0) && (first > entries || last > entries)) {
        return Fail("the song has " + std::to_string(entries) + " order entries; --from and --to "
                    "take 1 to " + std::to_string(entries));
    }
    if (first > last) return Fail("--from " + std::to_string(first) + " comes after --to " +
                                  std::to_string(last));
    if (entries != 0) CutOrderList(block, song, first, last, entries);
    std::uint64_t rows = 0;
    const std::uint64_t expectedMs = PlayingTimeMs(song, &rows);

    render::OpenAudioResult opened = render::OpenAudioFile(outputPath, settings.mixRate);
    if (!opened.ok) return Fail(opened.error);
    render::AudioFile& audio = opened.audio;

    // The player's own run, into the file: the library offline, every wait
    // rendered, nothing shown but the progress.
    tools::WatchInterrupts();
    const auto started = std::chrono::steady_clock::now();
    RenderClock clock(audio, settings.mixRate, expectedMs, tools::StandardErrorIsTerminal());
    playback::SilentPrinter printer;
    playback::ToneOutput output = playback::MakeToneOutput(platform::FsoundLibrary(), settings);
    std::copy(std::begin(muted), std::end(muted), std::begin(output.muted));
    const playback::RunResult run =
        FSOUND_Offline_Enable(1) ? playback::RunPlayback(song, settings, output, clock, printer)
                                 : playback::RunResult{playback::RunStage::StartFailed};
    const bool flushed = clock.Flush();
    clock.EndProgress();
    if (run.stage == playback::RunStage::StartFailed) {
        render::AbandonAudioFile(audio);
        return Fail("cannot start the sound library at " + std::to_string(settings.mixRate) +
                    " Hz: " + LibraryError());
    }
    if (run.stage == playback::RunStage::LoadFailed) {
        render::AbandonAudioFile(audio);
        return Fail("cannot load the sample '" + std::string(settings.samplePath) +
                    "': " + LibraryError());
    }
    const playback::PlayOutcome outcome = run.outcome;

    if (!flushed || clock.Failed()) {
        render::AbandonAudioFile(audio);
        return Fail(clock.Error());
    }
    if (outcome == playback::PlayOutcome::StoppedByKey) {
        render::AbandonAudioFile(audio);
        return Fail("interrupted; '" + outputPath + "' is left as it was");
    }
    std::string error;
    if (!render::FinishAudioFile(audio, &error)) return Fail(error);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const double audioSeconds = static_cast<double>(clock.Frames()) / settings.mixRate;
    std::printf("%s: %llu %s, %.3f s of audio at %d Hz (%s, stereo) in %.3f s", outputPath.c_str(),
                static_cast<unsigned long long>(rows), rows == 1 ? "row" : "rows", audioSeconds,
                settings.mixRate,
                format.description.c_str(), seconds);
    if (seconds > 0) std::printf(", %.0fx real time", audioSeconds / seconds);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
