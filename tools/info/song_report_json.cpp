// fenk-info's report as one JSON object, written with nlohmann-json.
#include <cmath>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "compose/notes.h"
#include "tools/info/report_format.h"
#include "playback/song_engine.h"
#include "tools/info/song_report.h"
#include "songfile/songfile.h"

namespace info {
namespace {

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
    for (int voice = 0; voice < songfile::kVoices; ++voice) {
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
