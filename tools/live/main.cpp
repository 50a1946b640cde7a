// fenk-live SONG [sample] [-switches]: plays a song text or a .8xp on the
// sound output with a screen of where it is, keys to pause, seek, loop and
// mute, and the song read again whenever it changes on disk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fsound_errors.h"
#include "tools/live/live_screen.h"
#include "compose/live_session.h"
#include "compose/live_song.h"
#include "tools/live/live_system.h"
#include "platform/platform.h"
#include "playback/playback.h"
#include "tools/common/tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-live";
// A save shows up as several file events (truncate, write, rename); the
// song is read once they have settled.
constexpr std::int64_t kReloadDelayNs = 100000000;
// The screen is drawn whole this often, even unchanged, in case something
// else wrote on the terminal (a job stopped and continued, a resize).
constexpr std::int64_t kRedrawWholeNs = 1000000000;
constexpr std::int64_t kTickNs = songfile::kTickMilliseconds * 1000000LL;
// The time on the screen shows tenths of a second: a change every 20 ticks.
constexpr std::uint64_t kTicksPerShownTime = 100 / songfile::kTickMilliseconds;

// The loop sleeps until the next moment it must act and then plays every
// tick that has come due, each row at its own tick's moment.
class TickClock : public playback::Clock {
public:
    bool StopRequested() override { return false; }
    void SleepMs(unsigned) override {}
    std::int64_t RowStartNs() override { return tickNs; }
    std::int64_t tickNs = 0;  // the moment of the tick being played, then of the next one due
};

// Ticks played before the one after which the screen next changes: a row
// or the end heard, or the time shown moving on; -1 for none.
long long TicksBeforeScreenChange(const live::Session& session) {
    long long ticks = live::TicksBeforeNextSound(session);
    if (live::StateOf(session) == live::State::Playing) {
        const std::uint64_t played = playback::TickAtPosition(session.player.timeline, session.player.position);
        const long long untilShownTime = static_cast<long long>(kTicksPerShownTime - 1 - played % kTicksPerShownTime);
        if (ticks < 0 || untilShownTime < ticks) ticks = untilShownTime;
    }
    return ticks;
}

// ---------------------------------------------------------------------------

int Fail(const std::string& message) {
    tools::PrintError(kProgram, message);
    return 1;
}

// The tool itself; main runs it through tools::RunTool.
int Main(int argc, char** argv) {
    CLI::App app("Play a Fenk song while you write it: SONG is a song text (as fenk-make\n"
                 "reads it) or a .8xp file. Whenever SONG changes on disk it is read\n"
                 "again and playing goes on from the same place.",
                 kProgram);
    std::string songPath;
    std::vector<std::string> samples;
    app.add_option("SONG", songPath, "the song text or program file")->required();
    app.add_option("sample", samples, "the voice sample (default square.wav)");
    // fenk's switch groups (-x, -m, -l, -xml...) are no options of ours.
    app.allow_extras();
    app.footer("Keys: Space pause and resume, Left/Right the previous/next order entry,\n"
               "Home the start, l loop the entry, 1-4 mute voice 0-3, q or Esc quit.\n"
               "The sample and the switches are fenk's: " + playback::SwitchLettersHelp() +
               "\n(" + std::to_string(playback::kLowQualityMixRate) + " Hz).");
    const tools::StandardOptionsOutcome standard = tools::ParseCommandLine(kProgram, app, argc, argv);
    if (!standard.proceed) return standard.exitStatus;
    std::vector<std::string> fenkArguments;
    if (!tools::FenkStyleArguments(kProgram, samples, app.remaining(), &fenkArguments)) return 1;
    const playback::PlaybackSettings settings = playback::ParseSettings(fenkArguments);

    live::LoadResult loaded = live::LoadSongFile(songPath);
    if (!loaded.ok()) return Fail(loaded.reason);
    live::Session session;
    live::StartSession(session, songPath, std::move(loaded.value));
    session.defaultSample = std::string(settings.samplePath) == "square.wav";
    if (session.song.fromProgramFile) {
        // A song file plays as it is; its text is what one edits.
        const std::size_t dot = songPath.find_last_of('.');
        const std::size_t slash = songPath.find_last_of("/\\");
        const std::string text = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                      ? songPath.substr(0, dot)
                                      : songPath) + ".txt";
        session.message = "To edit it: fenk-make " + songPath + " " + text + ", then fenk-live " + text;
    }

    platform::SetUpConsoleOutput();
    playback::ToneOutput output = playback::MakeToneOutput(playback::FsoundLibrary(), settings);
    if (!playback::Start(output, settings.mixRate)) {
        return Fail("cannot start the sound output: " +
                    std::string(FSOUND_GetErrorText(FSOUND_GetError())));
    }
    const std::string samplePath = platform::ResolveDataFile(settings.samplePath);
    if (!playback::LoadVoiceSamples(output, samplePath.c_str())) {
        const std::string why = FSOUND_GetErrorText(FSOUND_GetError());
        playback::Shutdown(output);
        return Fail("cannot load the sample '" + std::string(settings.samplePath) + "': " + why);
    }

    live::FileWatch watch = live::StartWatching(songPath);
    live::BeginScreen();
    // After the keyboard mode's own handlers, which would end the program
    // without putting the screen back: here an interrupt ends the loop.
    tools::WatchInterrupts();
    TickClock clock;
    clock.tickNs = platform::MonotonicNanoseconds();
    std::string shownFrame;
    std::int64_t reloadAtNs = 0, wholeDrawnNs = 0;
    bool running = true;
    while (running && !tools::Interrupted()) {
        std::int64_t now = platform::MonotonicNanoseconds();
        // Far behind (the program was stopped and continued): on from now.
        if (now - clock.tickNs > playback::kLongestCatchUpNs) clock.tickNs = now;
        while (clock.tickNs <= now) {
            live::PlaySessionTick(session, output, clock);
            clock.tickNs += kTickNs;
        }
        for (const live::KeyPress& key : live::ReadKeys()) {
            running = running && live::HandleKey(session, output, key);
        }
        if (live::FileChanged(watch)) reloadAtNs = now + kReloadDelayNs;
        if (reloadAtNs != 0 && now >= reloadAtNs) {
            reloadAtNs = 0;
            live::Reload(session, output);
        }
        const std::string frame = live::Frame(live::ScreenLines(session), live::GetScreenSize());
        if (frame != shownFrame || now - wholeDrawnNs >= kRedrawWholeNs) {
            live::WriteScreen(frame);
            shownFrame = frame;
            wholeDrawnNs = now;
        }
        if (!running) break;

        // Asleep until a key, a change of the song file, or the first of:
        // the tick after which the screen changes, the reload, the whole
        // redraw, the next look at a polled file.
        std::int64_t wakeNs = wholeDrawnNs + kRedrawWholeNs;
        const long long ticks = TicksBeforeScreenChange(session);
        if (ticks >= 0) wakeNs = std::min<std::int64_t>(wakeNs, clock.tickNs + ticks * kTickNs);
        if (reloadAtNs != 0) wakeNs = std::min(wakeNs, reloadAtNs);
        if (const std::int64_t lookNs = live::NextFileLookNs(watch); lookNs != 0) wakeNs = std::min(wakeNs, lookNs);
        live::WaitForKeyOrChange(watch, wakeNs);
    }
    live::EndScreen();
    live::StopWatching(watch);
    playback::Shutdown(output);
    if (tools::Interrupted()) tools::ExitAsInterrupted();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
