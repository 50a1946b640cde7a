#include "song_report.h"

#include <cassert>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "notes.h"
#include "song_engine.h"
#include "songfile.h"
#include "tool_support.h"

namespace info {

namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<std::uint8_t> ByteAt(const Bytes& bytes, std::size_t offset) {
    if (offset >= bytes.size()) return std::nullopt;
    return bytes[offset];
}

// Little-endian, as every word of the file.
std::optional<std::uint16_t> WordAt(const Bytes& bytes, std::size_t offset) {
    const std::optional<std::uint8_t> low = ByteAt(bytes, offset);
    const std::optional<std::uint8_t> high = ByteAt(bytes, offset + 1);
    if (!low || !high) return std::nullopt;
    return static_cast<std::uint16_t>(*low | (*high << 8));
}

// A fixed-size text field up to its first NUL; nullopt when the file ends
// inside the field.
std::optional<std::string> TextAt(const Bytes& bytes, songfile::TiField field) {
    const std::size_t offset = field.offset, size = field.size;
    if (offset > bytes.size() || bytes.size() - offset < size) return std::nullopt;
    std::string text;
    for (std::size_t index = 0; index < size && bytes[offset + index] != 0; ++index) {
        text += static_cast<char>(bytes[offset + index]);
    }
    return text;
}

std::string Hex4(std::size_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04zX", value);
    return buffer;
}

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

HeaderReport InspectHeader(const Bytes& bytes) {
    HeaderReport header;
    header.fileSize = bytes.size();
    for (std::size_t index = 0; index < songfile::kTiSignatureBytes; ++index) {
        if (index >= bytes.size() || bytes[index] != songfile::kTiSignature[index]) {
            header.signatureMismatch = index;
            break;
        }
    }
    const songfile::TiHeaderLayout& layout = songfile::kTiHeader;
    header.comment = TextAt(bytes, layout.comment);
    header.dataSectionLength = WordAt(bytes, layout.dataSectionLength.offset);
    header.entryHeaderLength = WordAt(bytes, layout.entryHeaderLength.offset);
    header.variableLength = WordAt(bytes, layout.variableLength.offset);
    header.type = ByteAt(bytes, layout.type.offset);
    header.name = TextAt(bytes, layout.name);
    header.version = ByteAt(bytes, layout.version.offset);
    header.flags = ByteAt(bytes, layout.flags.offset);
    header.dataLength = WordAt(bytes, layout.dataLength.offset);
    header.sizeWord = WordAt(bytes, layout.sizeWord.offset);
    std::uint16_t computed = 0;
    if (header.dataSectionLength && songfile::ComputeTiChecksum(bytes, &computed)) {
        header.computedChecksum = computed;
        header.storedChecksum =
            WordAt(bytes, layout.entryHeaderLength.offset + *header.dataSectionLength);
    }
    return header;
}

void CheckHeader(const HeaderReport& header, std::vector<std::string>& problems) {
    if (!header.dataLength) return;  // the reader refuses the file anyway
    const std::uint16_t length = *header.dataLength;
    if (header.entryHeaderLength && *header.entryHeaderLength != songfile::kTiEntryHeaderLength) {
        problems.push_back("the entry header length is " + Decimal(*header.entryHeaderLength) +
                           ", not 13; the player reads the name and the data length at the "
                           "offsets of a 13-byte header all the same");
    }
    if (header.variableLength && *header.variableLength != length) {
        problems.push_back("the variable length at offset 57 (" + Decimal(*header.variableLength) +
                           ") differs from the data length at offset 70 (" + Decimal(length) +
                           "), which the player uses");
    }
    if (header.dataSectionLength && *header.dataSectionLength != songfile::kTiDataSectionOverhead + length) {
        problems.push_back("the data section length is " + Decimal(*header.dataSectionLength) +
                           "; a single variable of " + Decimal(length) + " bytes needs " +
                           Decimal(songfile::kTiDataSectionOverhead + length));
    }
    if (header.sizeWord && length >= 2 && *header.sizeWord != length - 2) {
        problems.push_back("the program size word is " + Decimal(*header.sizeWord) +
                           "; the data length says " + Decimal(length - 2));
    }
    if (header.type && *header.type != 0x05 && *header.type != 0x06) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%02X", *header.type);
        problems.push_back(std::string("the variable type is ") + buffer +
                           ", not a program (05) or protected program (06)");
    }
    if (!header.computedChecksum) {
        if (header.dataSectionLength) {
            problems.push_back("the file ends before the checksum that the data section length "
                               "promises (at offset " +
                               Decimal(songfile::kTiHeader.entryHeaderLength.offset + *header.dataSectionLength) + ")");
        }
    } else if (*header.storedChecksum != *header.computedChecksum) {
        problems.push_back("the checksum does not match: stored " + Hex4(*header.storedChecksum) +
                           ", computed " + Hex4(*header.computedChecksum));
    }
    if (header.dataSectionLength) {
        const std::size_t end = songfile::kTiHeader.entryHeaderLength.offset + *header.dataSectionLength + 2;
        if (header.fileSize > end) {
            problems.push_back(Decimal(header.fileSize - end) +
                               " bytes follow the checksum (another variable?); "
                               "the player reads only the first variable");
        }
    }
}

// Why a block that passed the reader is not a song, in the parser's words.
std::string WhyNotSong(songfile::ParseFailure failure, std::size_t blockBytes) {
    const std::string signature = songfile::kSongSignature;
    switch (failure) {
        case songfile::ParseFailure::TooShort:
            return "the data block holds " + Decimal(blockBytes) + " bytes, too few for the signature " +
                   signature;
        case songfile::ParseFailure::NoSignature:
            return "the data block does not start with the signature " + signature;
        case songfile::ParseFailure::TextNotEnded:
        case songfile::ParseFailure::None:
            break;
    }
    return "the title, artist or album has no NUL before the end of the data block";
}

SongReport InspectSong(const songfile::SongView& song, std::vector<std::string>& problems) {
    SongReport report;
    report.title = songfile::TitleText(song);
    report.artist = songfile::ArtistText(song);
    report.album = songfile::AlbumText(song);
    report.orderListOffset = song.orderList;

    std::map<std::uint16_t, std::size_t> sectionByOffset;
    std::size_t position = song.orderList;
    for (;;) {
        // OrderEntryAt gives 0 both for the 0 entry and for the block's end;
        // only the length tells them apart.
        if (position > song.length || song.length - position < 2) {
            report.orderTerminated = false;
            report.orderEndPosition = position;
            break;
        }
        const std::uint16_t offset = songfile::OrderEntryAt(song, position);
        if (offset == 0) {
            report.orderEndPosition = position;
            break;
        }
        auto known = sectionByOffset.find(offset);
        if (known == sectionByOffset.end()) {
            known = sectionByOffset.emplace(offset, report.sections.size()).first;
            SectionReport section;
            section.offset = offset;
            report.sections.push_back(section);
        }
        report.sections[known->second].playedAt.push_back(report.order.size());
        report.order.push_back({position, offset, known->second});
        position += 2;
    }
    if (!report.orderTerminated) {
        problems.push_back("the order list has no 0 entry: it runs to the end of the block "
                           "(after " + Decimal(report.order.size()) + " entries)");
    }

    for (SectionReport& section : report.sections) {
        std::size_t offset = section.offset;
        if (offset >= song.length) {
            section.end = SectionEnd::OutsideBlock;
            section.endOffset = offset;
            problems.push_back("section offset " + Hex4(offset) + " lies outside the " +
                               Decimal(song.length) + "-byte block: it plays as an empty section");
            continue;
        }
        for (;;) {
            if (song.length - offset < songfile::kRowBytes) {
                section.end = SectionEnd::CutShort;
                section.endOffset = offset;
                problems.push_back("the section at " + Hex4(section.offset) +
                                   " has no end row: its row at " + Hex4(offset) +
                                   " is cut off by the block's end, so the section ends there");
                break;
            }
            const songfile::SongRow row = songfile::RowAt(song, offset);
            if (row.duration == 0) {
                section.endOffset = offset;
                break;
            }
            RowReport rowReport;
            rowReport.offset = offset;
            for (int voice = 0; voice < 4; ++voice) rowReport.periods[voice] = row.periods[voice];
            rowReport.ticks = row.duration;
            section.rows.push_back(rowReport);
            offset += songfile::kRowBytes;
        }
    }
    // The lengths as the player plays them. The engine measures the same
    // sections in the same order (of first use).
    const playback::SongTimeline timeline = playback::MeasureSong(song);
    assert(timeline.sections.size() == report.sections.size());
    for (std::size_t k = 0; k < report.sections.size(); ++k)
        report.sections[k].ticks = timeline.sections[k].Ticks();
    report.totalTicks = timeline.totalTicks;
    return report;
}

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

// ---------------------------------------------------------------------------
// JSON

// `text` as UTF-8 for JSON: valid UTF-8 passes as it is; any other byte is
// taken as the Latin-1 character of that value (a calculator's text is no
// UTF-8), so every text can be written.
std::string AsUtf8(const std::string& text) {
    std::string out;
    std::size_t index = 0;
    while (index < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[index]);
        // Length of a well-formed UTF-8 sequence starting here, or 0.
        std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                         : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        std::uint32_t codePoint = length == 1 ? c : c & (0x7F >> length);
        bool valid = length != 0 && index + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[index + k]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if (valid && ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) ||
                      (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)) {
            valid = false;
        }
        if (valid) {
            out.append(text, index, length);
            index += length;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++index;
        }
    }
    return out;
}

using Json = nlohmann::ordered_json;

template <typename T>
Json Optional(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

Json OptionalText(const std::optional<std::string>& value) {
    return value ? Json(AsUtf8(*value)) : Json(nullptr);
}

Json HeaderJson(const HeaderReport& header) {
    Json checksumMatches = nullptr;
    if (header.computedChecksum) checksumMatches = *header.storedChecksum == *header.computedChecksum;
    return {{"signature_matches", !header.signatureMismatch},
            {"signature_mismatch_at", Optional(header.signatureMismatch)},
            {"comment", OptionalText(header.comment)},
            {"data_section_length", Optional(header.dataSectionLength)},
            {"entry_header_length", Optional(header.entryHeaderLength)},
            {"variable_length", Optional(header.variableLength)},
            {"type", Optional(header.type)},
            {"name", OptionalText(header.name)},
            {"version", Optional(header.version)},
            {"flags", Optional(header.flags)},
            {"data_length", Optional(header.dataLength)},
            {"size_word", Optional(header.sizeWord)},
            {"checksum_stored", Optional(header.storedChecksum)},
            {"checksum_computed", Optional(header.computedChecksum)},
            {"checksum_matches", checksumMatches}};
}

// Order entries, sections and rows are numbered from 1, as the text shows
// them (and fenk-live and fenk-render --from/--to count them).
Json RowJson(const RowReport& row, std::size_t number) {
    Json periods = Json::array(), rates = Json::array(), pitches = Json::array(),
         names = Json::array();
    for (int voice = 0; voice < 4; ++voice) {
        const std::uint8_t period = row.periods[voice];
        periods.push_back(period);
        rates.push_back(playback::RateForPeriod(period));
        if (period == 0) {
            pitches.push_back(nullptr);
            names.push_back(nullptr);
            continue;
        }
        // Hz to one decimal, as the text shows it.
        pitches.push_back(std::round(notes::PeriodFrequency(period) * 10.0) / 10.0);
        const notes::PeriodNote note = notes::NoteForPeriod(period);
        // Cents to one decimal, as the text shows them.
        names.push_back({{"name", note.name}, {"cents", std::round(note.cents * 10.0) / 10.0}});
    }
    return {{"number", number}, {"offset", row.offset}, {"periods", periods}, {"rates", rates},
            {"pitches", pitches}, {"notes", names},
            {"ticks", row.ticks}, {"ms", row.ticks * songfile::kTickMilliseconds}};
}

Json SongJson(const SongReport& song) {
    Json order = Json::array();
    for (const OrderEntryReport& entry : song.order) {
        order.push_back({{"number", order.size() + 1},
                         {"position", entry.position},
                         {"section_offset", entry.sectionOffset},
                         {"section_number", entry.section + 1}});
    }
    Json sections = Json::array();
    for (const SectionReport& section : song.sections) {
        Json rows = Json::array();
        for (const RowReport& row : section.rows) rows.push_back(RowJson(row, rows.size() + 1));
        std::vector<std::size_t> playedAt;
        for (std::size_t entry : section.playedAt) playedAt.push_back(entry + 1);
        sections.push_back({{"number", sections.size() + 1},
                            {"offset", section.offset},
                            {"end", section.end == SectionEnd::EndRow         ? "end_row"
                                    : section.end == SectionEnd::OutsideBlock ? "outside_block"
                                                                              : "cut_short"},
                            {"end_offset", section.endOffset},
                            {"ticks", section.ticks},
                            {"played_at_entries", playedAt},
                            {"rows", rows}});
    }
    return {{"title", AsUtf8(song.title)},
            {"artist", AsUtf8(song.artist)},
            {"album", AsUtf8(song.album)},
            {"order_list_offset", song.orderListOffset},
            {"order_terminated", song.orderTerminated},
            {"order", order},
            {"sections", sections},
            {"total_ticks", song.totalTicks},
            {"total_ms", song.totalTicks * songfile::kTickMilliseconds},
            {"end_wait_ms", playback::kEndWaitMilliseconds}};
}

}  // namespace

ReportResult InspectSongFile(const std::string& path) {
    ReportResult result;
    Bytes bytes;
    if (!tools::ReadWholeFile(path, &bytes, &result.error)) {
        result.failure = ReportFailure::CannotRead;
        return result;
    }
    Report& report = result.report;
    report.path = path;
    report.header = InspectHeader(bytes);
    if (report.header.signatureMismatch) {
        report.problems.push_back("not a TI-83 Plus program file: the signature differs at byte " +
                                  Decimal(*report.header.signatureMismatch));
        return result;
    }
    if (!report.header.dataLength) {
        report.problems.push_back("not a TI-83 Plus program file: it ends before the data "
                                  "length at offset 70");
        return result;
    }
    CheckHeader(report.header, report.problems);

    // The song is read the way the player reads it.
    const songfile::ReadResult read = songfile::ReadTiProgramBytes(bytes.data(), bytes.size());
    if (read.failure != songfile::ReadFailure::None) {
        report.problems.push_back("the player's reader does not accept the file");
        return result;
    }
    report.isProgram = true;
    report.blockBytes = read.file.data.size();
    report.truncated = songfile::IsTruncated(read.file);
    if (report.truncated) {
        report.problems.push_back("the song data is truncated: " + Decimal(report.blockBytes) +
                                  " of " + Decimal(read.file.declaredLength) +
                                  " bytes are in the file");
    }
    const songfile::ParseResult parsed =
        songfile::ParseSong(read.file.data.data(), read.file.data.size());
    if (!parsed.ok) {
        report.notSongReason = WhyNotSong(parsed.failure, read.file.data.size());
        report.problems.push_back("not a Fenk song: " + report.notSongReason);
        return result;
    }
    report.isSong = true;
    report.song = InspectSong(parsed.view, report.problems);
    return result;
}

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

std::string FormatJson(const Report& report) {
    Json problems = Json::array();
    for (const std::string& problem : report.problems) problems.push_back(AsUtf8(problem));
    const Json json = {{"file", AsUtf8(report.path)},
                       {"file_size", report.header.fileSize},
                       {"header", HeaderJson(report.header)},
                       {"is_program", report.isProgram},
                       {"block_bytes", report.blockBytes},
                       {"truncated", report.truncated},
                       {"is_song", report.isSong},
                       {"song", report.isSong ? SongJson(report.song) : Json(nullptr)},
                       {"problems", problems}};
    // Every text went through AsUtf8, so nothing is left for the handler.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace info
