#include "app.h"

#include <cstdarg>

#include "fenk_version.h"
#include "songfile.h"

namespace app {
namespace {

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "Syntax: fenk song [sample] [-switches]\n"
                 "\t - song  \t= Filename of song you wish to play (with extension)\n"
                 "\t - sample\t= Sample WAV file (optional)\n"
                 "\t - switches\t= %s\n",
                 playback::SwitchLettersHelp().c_str());
}

// One piece of the report: appended to its text, and printed to `out`
// (when given) by a printf call of its own, as fenk has always printed it
// (a console shows a line's trailing blanks by how it was written).
__attribute__((format(printf, 3, 4)))
void Say(SongFileReport& report, std::FILE* out, const char* format, ...) {
    std::va_list values;
    va_start(values, format);
    if (out != nullptr) {
        std::va_list copy;
        va_copy(copy, values);
        std::vfprintf(out, format, copy);
        va_end(copy);
    }
    std::va_list measure;
    va_copy(measure, values);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        std::string line(static_cast<std::size_t>(length) + 1, '\0');
        std::vsnprintf(&line[0], line.size(), format, values);
        line.pop_back();
        report.text += line;
    }
    va_end(values);
}

}  // namespace

SongFileReport ReportSongFile(const songfile::ReadResult& read, std::FILE* out) {
    SongFileReport report;
    if (read.failure == songfile::ReadFailure::OpenFailed) return report;
    if (read.failure == songfile::ReadFailure::NotTiProgram) {
        Say(report, out, "Not a valid TI-83 Plus program file!\n");
        return report;
    }
    const songfile::TiProgramFile& file = read.value;
    Say(report, out, "Loaded file %s (%s)\n", songfile::NameText(file).c_str(),
        songfile::CommentText(file).c_str());
    if (songfile::IsTruncated(file)) {
        Say(report, out, "Warning: the song data is truncated (%u of %u bytes)\n",
            static_cast<unsigned>(file.data.size()), static_cast<unsigned>(file.declaredLength));
    }
    const songfile::ParseResult song = songfile::ParseSong(file.data.data(), file.data.size());
    if (!song.ok()) {
        Say(report, out, "This is not a valid Fenk music file!\n");
        return report;
    }
    Say(report, out, "Song title:  %s\nSong artist: %s\nSong album:  %s\n",
        songfile::TitleText(song.value).c_str(), songfile::ArtistText(song.value).c_str(),
        songfile::AlbumText(song.value).c_str());
    report.ok = true;
    report.song = song.value;
    return report;
}

int Run(int argc, const char* const* argv, const Environment& environment) {
    std::FILE* out = environment.out;
    std::fprintf(out, "Fenk %s - four-voice TI-83 Plus song player\n\n", FENK_VERSION);
    // argc 0 (a bare exec without even the program's name) gets the usage too.
    if (argc < 2) {
        PrintUsage(out);
        return 0;
    }

    const char* songPath = argv[1];
    // Owns the song data until the end of the run; the view points into it.
    const songfile::ReadResult read = songfile::ReadTiProgramFile(songPath);
    if (read.failure == songfile::ReadFailure::OpenFailed) {
        std::fprintf(out, "Error loading %s!\n", songPath);
        return 1;
    }
    const SongFileReport report = ReportSongFile(read, out);
    if (!report.ok) return 1;

    // Switches are looked at only now: a bad song is reported before any
    // switch is parsed.
    const playback::PlaybackSettings settings = playback::ParseSettings(argc - 2, argv + 2);
    playback::ToneOutput output = playback::MakeToneOutput(*environment.library, settings);
    playback::ConsolePrinter printer(out);
    playback::SongPlayer player = playback::MakeSongPlayer(report.song);
    return playback::RunPlayback(player, settings, output, *environment.clock, printer).ExitStatus();
}

int Main(int argc, const char* const* argv) {
    platform::SetUpConsoleOutput();
    // From the start, so that keys typed while the song and the sample load
    // are neither echoed nor lost: the first tick of playback sees them.
    platform::BeginKeyboardPolling();
    playback::SystemClock clock;
    Environment environment;
    environment.library = &playback::FsoundLibrary();
    environment.clock = &clock;
    environment.out = stdout;
    const int status = Run(argc, argv, environment);
    std::fflush(stdout);
    platform::EndKeyboardPolling();
    return status;
}

}  // namespace app
