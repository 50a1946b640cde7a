// fenk-live SONG [sample] [-switches]: plays a song text or a .8xp on the
// sound output with a screen of where it is, keys to pause, seek, loop and
// mute, and the song read again whenever it changes on disk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fsound_errors.h"
#include "live_song.h"
#include "live_system.h"
#include "notes.h"
#include "platform.h"
#include "playback.h"
#include "tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-live";
// A save shows up as several file events (truncate, write, rename); the
// song is read once they have settled.
constexpr std::int64_t kReloadDelayNs = 100000000;
// The screen is built at least this often (ticks) for the time shown.
constexpr unsigned kDrawEveryTicks = 4;
// And drawn whole this often, even unchanged, in case something else wrote
// on the terminal (a job stopped and continued, a resize).
constexpr std::int64_t kRedrawWholeNs = 1000000000;

enum class State { Playing, Paused, AtEnd };

struct Session {
    std::string path;
    live::Song song;
    // Plays `song`'s block: rebuilt whenever the song is read again.
    playback::SongPlayer player;
    // What each voice sounds now, its mute aside, so that a voice can be
    // muted, or the row resumed, without waiting for the next row.
    int sounding[4] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                       playback::kSilentRate};
    bool defaultSample = true;  // note names mean something only with it
    std::string message;        // the last reload's outcome
    unsigned reloads = 0;
};

State StateOf(const Session& session) {
    if (playback::AtEnd(session.player)) return State::AtEnd;
    return session.player.paused ? State::Paused : State::Playing;
}

// What sounds now, mutes applied, from the start again.
void Resound(Session& session, playback::ToneOutput& output) {
    int rates[4];
    std::copy(std::begin(session.sounding), std::end(session.sounding), rates);
    playback::ApplyMutes(session.player, rates);
    playback::RestartVoices(output, rates);
}

void Silence(playback::ToneOutput& output) {
    const int silent[4] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                           playback::kSilentRate};
    playback::RestartVoices(output, silent);
}

// A row the player has just started. One reached by a seek or a reload
// sounds alone, at once; one played on to sounds as the player sounds it,
// at the moment it was meant to start.
void SoundRow(Session& session, playback::ToneOutput& output, const playback::RowStart& row,
              std::int64_t startNs) {
    for (int voice = 0; voice < 4; ++voice) {
        const int rate = playback::RateForPeriod(row.periods[voice]);
        if (row.jumped || output.stopNotesEachRow || rate != playback::kSilentRate)
            session.sounding[voice] = rate;
    }
    if (row.jumped) {
        Resound(session, output);
    } else {
        playback::SetVoices(output, row.rates, startNs);
    }
}

// Moves to an entry's first row; a seek from the end leaves the player
// paused there. The row sounds from the next tick on when playing.
void JumpTo(Session& session, std::size_t entry) {
    if (StateOf(session) == State::AtEnd) session.player.paused = true;
    playback::SeekTo(session.player, entry);
}

void GoToEnd(Session& session, playback::ToneOutput& output) {
    playback::SeekToEnd(session.player);
    Silence(output);
}

// False when the key ends the program.
bool HandleKey(Session& session, playback::ToneOutput& output, const live::KeyPress& key) {
    playback::SongPlayer& player = session.player;
    const std::size_t entries = player.timeline.entries.size();
    const State state = StateOf(session);
    switch (key.key) {
    case live::Key::Escape:
        return false;
    case live::Key::Space:
        if (state == State::Playing) {
            player.paused = true;
            Silence(output);
        } else if (state == State::Paused) {
            player.paused = false;
            // A row begun sounds again; one not begun starts at the next tick.
            if (player.position.tick != 0) Resound(session, output);
        } else if (entries != 0) {  // at the end: from the top
            playback::SeekTo(player, 0);
            player.paused = false;
        }
        return true;
    case live::Key::Right:
        if (state == State::AtEnd) return true;
        if (player.position.entry + 1 < entries) {
            JumpTo(session, player.position.entry + 1);
        } else {
            GoToEnd(session, output);
        }
        return true;
    case live::Key::Left:
        if (entries == 0) return true;
        JumpTo(session, state == State::AtEnd ? entries - 1
                        : player.position.entry == 0 ? 0
                                                     : player.position.entry - 1);
        return true;
    case live::Key::Home:
        if (entries != 0) JumpTo(session, 0);
        return true;
    case live::Key::Character:
        break;
    }
    if (key.character == 'q' || key.character == 'Q') return false;
    if (key.character == 'l' || key.character == 'L') player.loopEntry = !player.loopEntry;
    if (key.character >= '1' && key.character <= '4') {
        bool& muted = player.muted[key.character - '1'];
        muted = !muted;
        if (state == State::Playing) Resound(session, output);
    }
    return true;
}

void Reload(Session& session, playback::ToneOutput& output) {
    live::LoadResult loaded = live::LoadSongFile(session.path);
    if (!loaded.ok) {
        session.message = loaded.error;
        return;
    }
    const playback::SongPlayer before = session.player;
    session.song = std::move(loaded.song);
    playback::SongPlayer& player = session.player;
    player = playback::MakeSongPlayer(live::View(session.song));
    player.loopEntry = before.loopEntry;
    player.paused = before.paused;
    std::copy(std::begin(before.muted), std::end(before.muted), std::begin(player.muted));
    ++session.reloads;
    session.message = "Read again (" + std::to_string(session.reloads) + ")";
    playback::SongPosition kept;
    if (!live::KeepPlace(before.timeline, before.position, player.timeline, kept)) {
        GoToEnd(session, output);
        session.message += ": it has nothing to play";
        return;
    }
    if (playback::AtEnd(before)) {
        playback::SeekToEnd(player);
        return;
    }
    // The row may have changed: it sounds anew from where it was.
    player.position = kept;
    player.jumped = true;
    if (kept.tick == 0) return;  // the next tick starts it
    const playback::RowStart row = playback::CurrentRow(player);
    for (int voice = 0; voice < 4; ++voice)
        session.sounding[voice] = playback::RateForPeriod(row.periods[voice]);
    player.jumped = false;
    if (!player.paused) Resound(session, output);
}

// ---------------------------------------------------------------------------
// The screen

// The calculator's texts as the terminal can show them.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

// `line` cut to `columns` characters (UTF-8: continuation bytes take none).
std::string Cut(const std::string& line, int columns) {
    int used = 0;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const bool continuation = (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80;
        if (!continuation && ++used > columns) return line.substr(0, at);
    }
    return line;
}

std::string VoiceText(const Session& session, const playback::RowStart& row, int voice) {
    const std::uint8_t period = row.periods[voice];
    std::string text = period == 0 ? "-"
                       : session.defaultSample ? notes::NoteForPeriod(period).name
                                               : "p" + std::to_string(period);
    if (session.player.muted[voice]) text += " muted";
    return text;
}

std::vector<std::string> ScreenLines(const Session& session) {
    std::vector<std::string> lines;
    const playback::SongPlayer& player = session.player;
    const playback::SongTimeline& timeline = player.timeline;
    const State state = StateOf(session);
    char buffer[160];
    lines.push_back("fenk-live  " + session.path);
    lines.push_back("");
    lines.push_back("  Title    " + Printable(session.song.title));
    lines.push_back("  Artist   " + Printable(session.song.artist));
    lines.push_back("");
    if (timeline.entries.empty()) {
        lines.push_back("  Entry    -/" + std::to_string(timeline.orderCount) + "  (nothing to play)");
        lines.push_back("");
    } else {
        // At the end the last entry's place is shown.
        const std::size_t shown = std::min(player.position.entry, timeline.entries.size() - 1);
        const playback::TimelineEntry& entry = timeline.entries[shown];
        std::snprintf(buffer, sizeof buffer, "  Entry    %zu/%zu  %s", entry.orderIndex + 1,
                      timeline.orderCount,
                      live::SectionName(session.song, entry.sectionOffset).c_str());
        lines.push_back(buffer);
        std::snprintf(buffer, sizeof buffer, "  Row      %zu/%zu", player.position.row + 1,
                      entry.rows);
        lines.push_back(buffer);
    }
    const std::uint64_t ticks = playback::TickAtPosition(timeline, player.position);
    lines.push_back("  Time     " +
                    tools::FormatPlayingTime(ticks * songfile::kTickMilliseconds) + " / " +
                    tools::FormatPlayingTime(timeline.totalTicks * songfile::kTickMilliseconds));
    lines.push_back("");
    lines.push_back("  Voice    0 [1]       1 [2]       2 [3]       3 [4]       Ticks");
    if (state == State::AtEnd) {
        lines.push_back("");
    } else {
        const playback::RowStart row = playback::CurrentRow(player);
        std::string notesLine = "  Now      ";
        for (int voice = 0; voice < 4; ++voice) {
            std::snprintf(buffer, sizeof buffer, "%-12s", VoiceText(session, row, voice).c_str());
            notesLine += buffer;
        }
        notesLine += std::to_string(row.duration);
        lines.push_back(notesLine);
    }
    lines.push_back("");
    const char* stateText = state == State::Playing  ? "Playing"
                            : state == State::Paused ? "Paused"
                                                     : "At the end (paused)";
    lines.push_back(std::string("  ") + stateText + (player.loopEntry ? ", looping this entry" : ""));
    lines.push_back("  " + session.message);
    lines.push_back("");
    lines.push_back("  Space pause  Left/Right entry  Home start  l loop  [1]-[4] mute  q quit");
    return lines;
}

// The whole screen from the top left, each line cut to the terminal's
// width and cleared to its end, and nothing past the terminal's height.
std::string Frame(const std::vector<std::string>& lines, live::ScreenSize size) {
    std::string frame = "\x1b[H";
    const std::size_t shown = std::min(lines.size(), static_cast<std::size_t>(size.rows));
    for (std::size_t index = 0; index < shown; ++index) {
        frame += Cut(lines[index], size.columns) + "\x1b[K";
        // No line feed after the last row: it would scroll the screen. (The
        // terminal, or Windows' text mode, makes each "\n" a CR LF.)
        if (index + 1 < shown) frame += "\n";
    }
    return frame + "\x1b[J";
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

    Session session;
    session.path = songPath;
    session.defaultSample = std::string(settings.samplePath) == "square.wav";
    live::LoadResult loaded = live::LoadSongFile(songPath);
    if (!loaded.ok) return Fail(loaded.error);
    session.song = std::move(loaded.song);
    session.player = playback::MakeSongPlayer(live::View(session.song));

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
    playback::SystemClock clock;
    std::string shownFrame;
    std::int64_t reloadAtNs = 0, wholeDrawnNs = 0;
    unsigned ticksSinceDraw = kDrawEveryTicks;
    bool running = true;
    bool silencedAtEnd = false;
    while (running && !tools::Interrupted()) {
        const playback::PlayedTick played = playback::PlayTick(session.player);
        if (played.rowStarted) {
            SoundRow(session, output, played.row, clock.RowStartNs());
            ticksSinceDraw = kDrawEveryTicks;
        }
        // The last row has played out: silence, once.
        if (played.ended && !silencedAtEnd) {
            Silence(output);
            ticksSinceDraw = kDrawEveryTicks;
        }
        silencedAtEnd = played.ended;
        for (const live::KeyPress& key : live::ReadKeys()) {
            running = running && HandleKey(session, output, key);
            ticksSinceDraw = kDrawEveryTicks;
        }
        const std::int64_t now = platform::MonotonicNanoseconds();
        if (live::FileChanged(watch)) reloadAtNs = now + kReloadDelayNs;
        if (reloadAtNs != 0 && now >= reloadAtNs) {
            reloadAtNs = 0;
            Reload(session, output);
            ticksSinceDraw = kDrawEveryTicks;
        }
        if (ticksSinceDraw >= kDrawEveryTicks) {
            ticksSinceDraw = 0;
            const std::string frame = Frame(ScreenLines(session), live::GetScreenSize());
            if (frame != shownFrame || now - wholeDrawnNs >= kRedrawWholeNs) {
                live::WriteScreen(frame);
                shownFrame = frame;
                wholeDrawnNs = now;
            }
        }
        ++ticksSinceDraw;
        clock.SleepMs(songfile::kTickMilliseconds);
    }
    live::EndScreen();
    live::StopWatching(watch);
    playback::Shutdown(output);
    if (tools::Interrupted()) tools::ExitAsInterrupted();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
