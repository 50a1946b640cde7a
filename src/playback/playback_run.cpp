// The playback run: start the sound library, load the voice samples, play,
// shut down, with the messages around each step.
#include <string>

#include "playback/playback.h"

namespace playback {
namespace {

constexpr unsigned kLoadFailureWaitMilliseconds = 2500;

}  // namespace

RunResult RunPlayback(SongPlayer& player, const PlaybackSettings& settings,
                      ToneOutput& output, Clock& clock, RunPrinter& printer) {
    RunResult result;
    printer.Message("Starting FMOD...");
    if (!Start(output, settings.mixRate)) {
        // Nothing was started, so there is nothing to shut down.
        printer.Message("Failed!\nError starting FMOD!");
        result.stage = RunStage::StartFailed;
        return result;
    }
    printer.Message("Done.\n");

    // The message shows the path as the user gave it; the load uses the file
    // that path resolves to (beside the executable, or installed).
    printer.Message(std::string("Loading sample '") + settings.samplePath + "'...");
    const std::string resolvedPath = platform::ResolveDataFile(settings.samplePath);
    if (LoadVoiceSamples(output, resolvedPath.c_str())) {
        printer.Message("Done.\nPlaying... (press any key to stop)\n");
        result.outcome = PlaySong(player, output, clock, printer);
    } else {
        printer.Message("Failed!\n");
        clock.SleepMs(kLoadFailureWaitMilliseconds);
        result.stage = RunStage::LoadFailed;
    }

    printer.Message("\n");
    printer.Message("Shutting down FMOD...");
    Shutdown(output);
    printer.Message("Done.\n");
    return result;
}

}  // namespace playback
