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

#include "tools/render/audio_file.h"
#include "tools/render/render_clock.h"
#include "fsound_errors.h"
#include "fsound_offline.h"
#include "platform/platform.h"
#include "playback/playback.h"
#include "songfile/songfile.h"
#include "tools/common/tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-render";
constexpr int kMinimumRate = 4000;  // the sound library's range
constexpr int kMaximumRate = 65535;

// Voices "0".."3" (as the song format and fenk-info number them) as given
// to --mute: "13", "1,3", "0 2"; false for anything else.
bool ParseVoiceList(const std::string& text, bool muted[songfile::kVoices]) {
    for (char c : text) {
        if (c >= '0' && c <= '3') {
            muted[c - '0'] = true;
        } else if (c != ',' && c != ' ') {
            return false;
        }
    }
    return true;
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
    // An order entry: a whole number from 1 (CLI11's PositiveNumber would
    // take 2.5 and answer -1 with the range of a double).
    const CLI::Validator orderEntry(
        [](std::string& text) -> std::string {
            const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
            const bool zero = text.find_first_not_of('0') == std::string::npos;
            if (digits && !zero && text.size() <= 9) return "";
            if (digits && !zero) return "no song has an order entry " + text;
            return "takes an order entry, a whole number from 1; not '" + text + "'";
        },
        "ENTRY");
    app.add_option("--from", from, "the first order entry to play, from 1 (default 1)")->check(orderEntry);
    app.add_option("--to", to, "the last order entry to play (default the last)")->check(orderEntry);
    app.add_option("--mute", mute, "voices to leave silent, 0 to 3, such as 13 or 0,2");
    // fenk's switch groups (-x, -m, -l, -xml...) are no options of ours: they
    // come back as the arguments CLI11 leaves.
    app.allow_extras();
    app.footer("OUT's extension chooses the format: " + render::KnownExtensions() +
               ".\nAn existing OUT is replaced only when the render succeeds, and never\n"
               "when it is the song or the sample. The sample and the switches are\n"
               "fenk's: " + playback::SwitchLettersHelp() + " (" +
               std::to_string(playback::kLowQualityMixRate) + " Hz).");
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
    } else if (format.defaultRate != 0 && settings.mixRate != playback::kLowQualityMixRate) {
        // Opus takes the low-quality switch's 8000 Hz, not the usual 32000.
        settings.mixRate = format.defaultRate;
    }
    bool muted[songfile::kVoices] = {};
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
        songfile::ParseSong(read.value.data.data(), read.value.data.size());
    if (!parsed.ok()) return Fail("'" + songPath + "' holds no Fenk song");
    if (songfile::IsTruncated(read.value)) {
        std::fprintf(stderr, "%s: warning: the song data is truncated (%zu of %u bytes)\n",
                     kProgram, read.value.data.size(),
                     static_cast<unsigned>(read.value.declaredLength));
    }
    // The part to play, by order entries (empty ones count, as the player
    // counts them): the engine starts at the first and ends before the one
    // after the last.
    playback::SongPlayer player = playback::MakeSongPlayer(parsed.value);
    const playback::SongTimeline& timeline = player.timeline;
    const std::size_t entries = timeline.orderCount;
    const std::size_t first = from == 0 ? 1 : from;
    const std::size_t last = to == 0 ? entries : to;
    if ((from != 0 || to != 0) && (first > entries || last > entries)) {
        return Fail("the song has " + std::to_string(entries) + " order entries; --from and --to "
                    "take 1 to " + std::to_string(entries));
    }
    // A song with no order entries plays only the end wait, as fenk plays it.
    if (entries != 0 && first > last) return Fail("--from " + std::to_string(first) + " comes after --to " +
                                  std::to_string(last));
    playback::SeekTo(player, playback::EntryAtOrderIndex(timeline, first - 1));
    player.endEntry = playback::EntryAtOrderIndex(timeline, last);
    std::copy(std::begin(muted), std::end(muted), std::begin(player.muted));
    std::uint64_t rows = 0, ticks = 0;
    for (std::size_t entry = player.position.entry; entry < player.endEntry; ++entry) {
        rows += timeline.entries[entry].rows;
        ticks += timeline.entries[entry].ticks;
    }
    const std::uint64_t expectedMs =
        ticks * songfile::kTickMilliseconds + playback::kEndWaitMilliseconds;

    fenk::Result<render::AudioFile> opened = render::OpenAudioFile(outputPath, settings.mixRate);
    if (!opened.ok()) return Fail(opened.reason);
    render::AudioFile& audio = opened.value;

    // The player's own run, into the file: the library offline, every wait
    // rendered, nothing shown but the progress.
    tools::WatchInterrupts();
    const auto started = std::chrono::steady_clock::now();
    render::RenderClock clock(audio, settings.mixRate, expectedMs, tools::StandardErrorIsTerminal());
    playback::SilentPrinter printer;
    playback::ToneOutput output = playback::MakeToneOutput(playback::FsoundLibrary(), settings);
    const playback::RunResult run =
        FSOUND_Offline_Enable(1) ? playback::RunPlayback(player, settings, output, clock, printer)
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
    const fenk::Status finished = render::FinishAudioFile(audio);
    if (!finished.ok()) return Fail(finished.reason);
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
