#include "tools/live/live_screen.h"

#include <algorithm>
#include <cstdio>

#include "compose/notes.h"
#include "tools/common/tool_support.h"

namespace live {

namespace {

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

}  // namespace

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
                      SectionName(session.song, entry.sectionOffset).c_str());
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
        for (int voice = 0; voice < songfile::kVoices; ++voice) {
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

std::string Frame(const std::vector<std::string>& lines, ScreenSize size) {
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

}  // namespace live
