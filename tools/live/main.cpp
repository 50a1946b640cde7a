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
    live::Position position;
    unsigned tick = 0;       // ticks of the current row played so far
    State state = State::Playing;
    bool loop = false;       // the current entry plays again and again
    bool rowStartDue = true; // the current row is to sound from its start
    // What each voice sounds now, so that a voice can be muted, or the row
    // resumed, without waiting for the next row.
    int sounding[4] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                       playback::kSilentRate};
    bool defaultSample = true;  // note names mean something only with it
    std::string message;        // the last reload's outcome
    unsigned reloads = 0;
};

void RowRates(const Session& session, int rates[4]) {
    const songfile::SongRow row = live::RowAt(session.song, session.position);
    for (int voice = 0; voice < 4; ++voice) rates[voice] = playback::RateForPeriod(row.periods[voice]);
}

void Silence(playback::ToneOutput& output) {
    const int silent[4] = {playback::kSilentRate, playback::kSilentRate, playback::kSilentRate,
                           playback::kSilentRate};
    playback::RestartVoices(output, silent);
}

// The row at the current position, from its start; heard at once when
// playing.
void StartRowNow(Session& session, playback::ToneOutput& output) {
    session.tick = 0;
    session.rowStartDue = false;
    RowRates(session, session.sounding);
    if (session.state == State::Playing) playback::RestartVoices(output, session.sounding);
}

void JumpTo(Session& session, playback::ToneOutput& output, live::Position position) {
    session.position = position;
    if (session.state == State::AtEnd) session.state = State::Paused;
    StartRowNow(session, output);
}

void GoToEnd(Session& session, playback::ToneOutput& output) {
    session.state = State::AtEnd;
    session.tick = 0;
    Silence(output);
}

// False when the key ends the program.
bool HandleKey(Session& session, playback::ToneOutput& output, const live::KeyPress& key) {
    const bool empty = session.song.entries.empty();
    switch (key.key) {
    case live::Key::Escape:
        return false;
    case live::Key::Space:
        if (session.state == State::Playing) {
            session.state = State::Paused;
            Silence(output);
        } else if (session.state == State::Paused) {
            session.state = State::Playing;
            if (session.tick == 0) {
                session.rowStartDue = true;
            } else {
                playback::RestartVoices(output, session.sounding);
            }
        } else if (!empty) {  // at the end: from the top
            session.state = State::Playing;
            JumpTo(session, output, {0, 0});
        }
        return true;
    case live::Key::Right:
        if (empty) return true;
        if (session.state != State::AtEnd) {
            live::Position next = session.position;
            if (live::NextEntry(session.song, next)) {
                JumpTo(session, output, next);
            } else {
                GoToEnd(session, output);
            }
        }
        return true;
    case live::Key::Left: {
        if (empty) return true;
        live::Position previous = session.position;
        if (session.state == State::AtEnd) {
            previous = {session.song.entries.size() - 1, 0};
        } else {
            live::PreviousEntry(previous);
        }
        JumpTo(session, output, previous);
        return true;
    }
    case live::Key::Home:
        if (!empty) JumpTo(session, output, {0, 0});
        return true;
    case live::Key::Character:
        break;
    }
    if (key.character == 'q' || key.character == 'Q') return false;
    if (key.character == 'l' || key.character == 'L') session.loop = !session.loop;
    if (key.character >= '1' && key.character <= '4') {
        bool& muted = output.muted[key.character - '1'];
        muted = !muted;
        if (session.state == State::Playing) playback::RestartVoices(output, session.sounding);
    }
    return true;
}

void Reload(Session& session, playback::ToneOutput& output) {
    live::LoadResult loaded = live::LoadSongFile(session.path);
    if (!loaded.ok) {
        session.message = loaded.error;
        return;
    }
    live::Position kept;
    const bool playable = live::KeepPlace(session.song, session.position, loaded.song, kept);
    session.song = std::move(loaded.song);
    ++session.reloads;
    session.message = "Read again (" + std::to_string(session.reloads) + ")";
    if (!playable) {
        session.position = {};
        GoToEnd(session, output);
        session.message += ": it has nothing to play";
        return;
    }
    session.position = kept;
    if (session.state == State::AtEnd) return;
    // The row may have changed: it sounds anew from where it was.
    const unsigned ticks = live::RowAt(session.song, kept).duration;
    session.tick = std::min(session.tick, ticks - 1);
    RowRates(session, session.sounding);
    if (session.state == State::Playing && !session.rowStartDue)
        playback::RestartVoices(output, session.sounding);
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

std::string VoiceText(const Session& session, const playback::ToneOutput& output,
                      const songfile::SongRow& row, int voice) {
    const std::uint8_t period = row.periods[voice];
    std::string text = period == 0 ? "-"
                       : session.defaultSample ? notes::NoteForPeriod(period).name
                                               : "p" + std::to_string(period);
    if (output.muted[voice]) text += " muted";
    return text;
}

std::vector<std::string> ScreenLines(const Session& session, const playback::ToneOutput& output) {
    std::vector<std::string> lines;
    const live::Song& song = session.song;
    char buffer[160];
    lines.push_back("fenk-live  " + session.path);
    lines.push_back("");
    lines.push_back("  Title    " + Printable(song.title));
    lines.push_back("  Artist   " + Printable(song.artist));
    lines.push_back("");
    const bool empty = song.entries.empty();
    std::uint64_t ticks = song.totalTicks;
    if (empty) {
        lines.push_back("  Entry    -/" + std::to_string(song.orderCount) + "  (nothing to play)");
        lines.push_back("");
    } else {
        const live::Entry& entry = song.entries[session.position.entry];
        std::snprintf(buffer, sizeof buffer, "  Entry    %zu/%zu  %s", entry.orderIndex + 1,
                      song.orderCount, entry.name.c_str());
        lines.push_back(buffer);
        std::snprintf(buffer, sizeof buffer, "  Row      %zu/%zu", session.position.row + 1,
                      entry.rows);
        lines.push_back(buffer);
        if (session.state != State::AtEnd) {
            ticks = live::TickAt(song, session.position) + session.tick;
        }
    }
    lines.push_back("  Time     " +
                    tools::FormatPlayingTime(ticks * songfile::kTickMilliseconds) + " / " +
                    tools::FormatPlayingTime(song.totalTicks * songfile::kTickMilliseconds));
    lines.push_back("");
    lines.push_back("  Voice    0 [1]       1 [2]       2 [3]       3 [4]       Ticks");
    if (empty || session.state == State::AtEnd) {
        lines.push_back("");
    } else {
        const songfile::SongRow row = live::RowAt(song, session.position);
        std::string notesLine = "  Now      ";
        for (int voice = 0; voice < 4; ++voice) {
            std::snprintf(buffer, sizeof buffer, "%-12s",
                          VoiceText(session, output, row, voice).c_str());
            notesLine += buffer;
        }
        notesLine += std::to_string(row.duration);
        lines.push_back(notesLine);
    }
    lines.push_back("");
    const char* state = session.state == State::Playing  ? "Playing"
                        : session.state == State::Paused ? "Paused"
                                                         : "At the end (paused)";
    lines.push_back(std::string("  ") + state + (session.loop ? ", looping this entry" : ""));
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
               "The sample and the switches are fenk's: x: extended notes, m: mono,\n"
               "l: low quality (8000 Hz).");
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
    if (session.song.entries.empty()) session.state = State::AtEnd;

    platform::SetUpConsoleOutput();
    playback::ToneOutput output = playback::MakeToneOutput(platform::FsoundLibrary(), settings);
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
    while (running && !tools::Interrupted()) {
        if (session.state == State::Playing && session.rowStartDue) {
            // As the player sounds a row: at the moment it was meant to start.
            int rates[4];
            RowRates(session, rates);
            playback::SetVoices(output, rates, clock.RowStartNs());
            for (int voice = 0; voice < 4; ++voice) {
                if (output.stopNotesEachRow || rates[voice] != playback::kSilentRate)
                    session.sounding[voice] = rates[voice];
            }
            session.rowStartDue = false;
            ticksSinceDraw = kDrawEveryTicks;
        }
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
            const std::string frame = Frame(ScreenLines(session, output), live::GetScreenSize());
            if (frame != shownFrame || now - wholeDrawnNs >= kRedrawWholeNs) {
                live::WriteScreen(frame);
                shownFrame = frame;
                wholeDrawnNs = now;
            }
        }
        ++ticksSinceDraw;
        clock.SleepMs(songfile::kTickMilliseconds);
        if (session.state != State::Playing || session.rowStartDue) continue;
        if (++session.tick < live::RowAt(session.song, session.position).duration) continue;
        session.tick = 0;
        if (live::AdvanceRow(session.song, session.position, session.loop)) {
            session.rowStartDue = true;
        } else {
            GoToEnd(session, output);
        }
    }
    live::EndScreen();
    live::StopWatching(watch);
    playback::Shutdown(output);
    if (tools::Interrupted()) tools::ExitAsInterrupted();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
