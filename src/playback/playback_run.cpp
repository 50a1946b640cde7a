// The playback run: start the sound library, load the voice samples, play,
// shut down, with the messages around each step.
#include <string>

#include "playback.h"

namespace playback {
namespace {

constexpr unsigned kLoadFailureWaitMilliseconds = 2500;
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

}  // namespace

int RunPlayback(const songfile::SongView& song, const PlaybackSettings& settings,
                ToneOutput& output, Clock& clock, std::FILE* out) {
    std::fprintf(out, "Starting FMOD...");
    if (!Start(output, settings.mixRate)) {
        // Nothing was started, so there is nothing to shut down.
        std::fprintf(out, "Failed!\nError starting FMOD!");
        return kExitFailure;
    }
    std::fprintf(out, "Done.\n");

    // The message shows the path as the user gave it; the load uses the file
    // that path resolves to (beside the executable, or installed).
    std::fprintf(out, "Loading sample '%s'...", settings.samplePath);
    const std::string resolvedPath = platform::ResolveDataFile(settings.samplePath);
    int exitStatus = kExitSuccess;
    if (LoadVoiceSamples(output, resolvedPath.c_str())) {
        std::fprintf(out, "Done.\nPlaying... (press any key to stop)\n");
        PlaySong(song, output, clock, out);
    } else {
        std::fprintf(out, "Failed!\n");
        clock.SleepMs(kLoadFailureWaitMilliseconds);
        exitStatus = kExitFailure;
    }

    std::fprintf(out, "\n");
    std::fprintf(out, "Shutting down FMOD...");
    Shutdown(output);
    std::fprintf(out, "Done.\n");
    return exitStatus;
}

}  // namespace playback
