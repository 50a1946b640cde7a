#include "app/app.h"

#include "fenk_version.h"
#include "songfile/songfile.h"

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

}  // namespace

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
    const songfile::SongFileReport report = songfile::ReportSongFile(read, out);
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
