// fenk-info's report as text for people.
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "compose/notes.h"
#include "tools/info/report_format.h"
#include "playback/song_engine.h"
#include "tools/info/song_report.h"
#include "songfile/songfile.h"
#include "tools/common/tool_support.h"

namespace info {
namespace {

// ---------------------------------------------------------------------------
// Text

// A text from the file, quoted, with control bytes shown as \xNN so that
// nothing in a song can steer the terminal.
std::string Quoted(const std::string& text) {
    std::string result = "\"";
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            result += buffer;
        } else if (c == '"' || c == '\\') {
            result += '\\';
            result += static_cast<char>(c);
        } else {
            result += static_cast<char>(c);
        }
    }
    return result + "\"";
}

std::string Duration(std::uint64_t milliseconds) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%" PRIu64 ":%02" PRIu64 ".%03" PRIu64,
                  milliseconds / 60000, milliseconds / 1000 % 60, milliseconds % 1000);
    return buffer;
}

// A voice of a row: its period, the playback rate, the pitch it sounds with
// the default sample, and the nearest note with its distance in cents.
std::string VoiceCell(std::uint8_t period) {
    char buffer[80];
    if (period == 0) {
        std::snprintf(buffer, sizeof buffer, "%3u %-30s", 0u, "silent");
    } else {
        const notes::PeriodNote note = notes::NoteForPeriod(period);
        char cents[16];
        std::snprintf(cents, sizeof cents, "%+.0f", note.cents);
        std::snprintf(buffer, sizeof buffer, "%3u %7d Hz %7.1f Hz %-4s%4s", period,
                      notes::PeriodRate(period), notes::PeriodFrequency(period),
                      note.name.c_str(), cents);
    }
    return buffer;
}

template <typename T, typename Show>
std::string Field(const std::optional<T>& value, Show show) {
    return value ? show(*value) : std::string("(missing: the file ends before it)");
}

std::string ShowBytes(std::uint16_t value) { return Decimal(value) + " bytes"; }
std::string ShowByte(std::uint8_t value) { return Decimal(value); }
std::string ShowHexByte(std::uint8_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02X", value);
    return buffer;
}
std::string ShowType(std::uint8_t value) {
    const char* meaning = value == 0x05 ? " (program)"
                          : value == 0x06 ? " (protected program)"
                                          : " (not a program)";
    return ShowHexByte(value) + meaning;
}
std::string ShowText(const std::string& value) { return Quoted(value); }
std::string ShowName(std::string value) { return value; }

void Line(std::string& out, const char* label, const std::string& value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "  %-20s ", label);
    out += buffer;
    out += value;
    out += '\n';
}

void FormatHeader(const Report& report, std::string& out) {
    const HeaderReport& header = report.header;
    out += "TI-83 Plus program file header\n";
    Line(out, "signature",
         header.signatureMismatch
             ? "does not match **TI83F* 1A 0A 00 (first difference at byte " +
                   Decimal(*header.signatureMismatch) + ")"
             : std::string("**TI83F* 1A 0A 00"));
    if (header.signatureMismatch) return;
    Line(out, "comment", Field(header.comment, ShowText));
    Line(out, "data section", Field(header.dataSectionLength, ShowBytes));
    Line(out, "entry header", Field(header.entryHeaderLength, ShowBytes));
    Line(out, "variable length", Field(header.variableLength, ShowBytes));
    Line(out, "type", Field(header.type, ShowType));
    Line(out, "name", Field(header.name, ShowName));
    Line(out, "version", Field(header.version, ShowByte));
    Line(out, "flags", Field(header.flags, ShowHexByte));
    if (header.dataLength) {
        Line(out, "data length", ShowBytes(*header.dataLength) +
                                     " (L: the player reads this many from offset 74)");
    } else {
        Line(out, "data length", Field(header.dataLength, ShowBytes));
    }
    Line(out, "program size", Field(header.sizeWord, ShowBytes));
    if (header.computedChecksum) {
        Line(out, "checksum",
             Hex4(*header.storedChecksum) +
                 (*header.storedChecksum == *header.computedChecksum
                      ? std::string(", matches")
                      : ", does not match (computed " + Hex4(*header.computedChecksum) + ")"));
    } else {
        Line(out, "checksum", "(missing: the file ends before it)");
    }
}

void FormatSong(const Report& report, std::string& out) {
    const SongReport& song = report.song;
    out += "\nSong\n";
    Line(out, "title", Quoted(song.title));
    Line(out, "artist", Quoted(song.artist));
    Line(out, "album", Quoted(song.album));
    Line(out, "order list", Decimal(song.order.size()) + " entries at offset " +
                                Hex4(song.orderListOffset) +
                                (song.orderTerminated ? ", ended by its 0 entry at " +
                                                            Hex4(song.orderEndPosition)
                                                      : ", cut off by the block's end"));
    for (std::size_t index = 0; index < song.order.size(); ++index) {
        char buffer[96];
        std::snprintf(buffer, sizeof buffer, "    %4zu  section %zu at %s\n", index + 1,
                      song.order[index].section + 1,
                      Hex4(song.order[index].sectionOffset).c_str());
        out += buffer;
    }
    const std::uint64_t milliseconds = song.totalTicks * songfile::kTickMilliseconds;
    Line(out, "length", Decimal(song.totalTicks) + " ticks = " + Decimal(milliseconds) + " ms (" +
                            Duration(milliseconds) + "), then the player waits " +
                            Decimal(playback::kEndWaitMilliseconds) + " ms");

    for (std::size_t index = 0; index < song.sections.size(); ++index) {
        const SectionReport& section = song.sections[index];
        std::string played;
        for (std::size_t entry : section.playedAt) {
            played += (played.empty() ? "" : ", ") + Decimal(entry + 1);
        }
        out += "\nSection " + Decimal(index + 1) + " at " + Hex4(section.offset) + ": " +
               Decimal(section.rows.size()) + " rows, " + Decimal(section.ticks) + " ticks (" +
               Decimal(section.ticks * songfile::kTickMilliseconds) + " ms), played at order " +
               (section.playedAt.size() == 1 ? "entry " : "entries ") + played + "\n";
        if (!section.rows.empty()) {
            char heading[200];
            std::snprintf(heading, sizeof heading,
                          "  %4s %6s  %-34s %-34s %-34s %-34s %6s %7s\n", "row", "offset",
                          "voice 0: period, rate, pitch", "voice 1", "voice 2", "voice 3",
                          "ticks", "ms");
            out += heading;
        }
        for (std::size_t row = 0; row < section.rows.size(); ++row) {
            const RowReport& r = section.rows[row];
            char buffer[240];
            std::snprintf(buffer, sizeof buffer, "  %4zu %6s  %s %s %s %s %6u %7u\n", row + 1,
                          Hex4(r.offset).c_str(), VoiceCell(r.periods[0]).c_str(),
                          VoiceCell(r.periods[1]).c_str(), VoiceCell(r.periods[2]).c_str(),
                          VoiceCell(r.periods[3]).c_str(), static_cast<unsigned>(r.ticks),
                          static_cast<unsigned>(r.ticks) * songfile::kTickMilliseconds);
            out += buffer;
        }
        switch (section.end) {
        case SectionEnd::EndRow:
            out += "  ends with its 0-duration row at " + Hex4(section.endOffset) + "\n";
            break;
        case SectionEnd::OutsideBlock:
            out += "  lies outside the data block: no rows\n";
            break;
        case SectionEnd::CutShort:
            out += "  cut off by the block's end at " + Hex4(section.endOffset) + "\n";
            break;
        }
    }
}

}  // namespace

std::string FormatText(const Report& report) {
    std::string out = "File " + report.path + ": " + Decimal(report.header.fileSize) + " bytes\n";
    FormatHeader(report, out);
    if (report.isProgram) {
        Line(out, "data block", Decimal(report.blockBytes) + " bytes read" +
                                    (report.truncated ? " (truncated)" : ""));
    }
    if (report.isSong) FormatSong(report, out);
    if (report.problems.empty()) {
        out += "\nNo problems found.\n";
    } else {
        out += "\nProblems\n";
        for (const std::string& problem : report.problems) out += "  - " + problem + "\n";
    }
    return out;
}

}  // namespace info
