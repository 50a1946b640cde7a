// What fenk-info finds in a song file: the TI-83 Plus header fields read
// from the file's bytes, and the song read the way the player reads it
// (songfile::ReadTiProgramFile, ParseSong, OrderEntryAt, RowAt), with every
// place where the data is cut short or points outside the block named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "songfile/songfile.h"

namespace info {

// The header of a TI-83 Plus program file. A field is empty (nullopt) when
// the file ends before it.
struct HeaderReport {
    std::size_t fileSize = 0;  // bytes
    // Offset of the first byte that differs from the 11-byte signature
    // "**TI83F*" 1A 0A 00 (or the file's end); nullopt when it matches.
    std::optional<std::size_t> signatureMismatch;
    std::optional<std::string> comment;         // offset 11, 42 bytes, to its NUL
    std::optional<std::uint16_t> dataSectionLength;  // offset 53, bytes
    std::optional<std::uint16_t> entryHeaderLength;  // offset 55, bytes (13 expected)
    std::optional<std::uint16_t> variableLength;     // offset 57, bytes
    std::optional<std::uint8_t> type;                // offset 59: 05 program, 06 protected
    std::optional<std::string> name;                 // offset 60, 8 bytes, to its NUL
    std::optional<std::uint8_t> version;             // offset 68
    std::optional<std::uint8_t> flags;               // offset 69
    std::optional<std::uint16_t> dataLength;         // offset 70: L, what the player reads
    std::optional<std::uint16_t> sizeWord;           // offset 72: the program body's size
    // The checksum word after the data section (offset 55 + data section
    // length) and the sum computed over the data section; both empty when
    // the file is too short to hold them.
    std::optional<std::uint16_t> storedChecksum;
    std::optional<std::uint16_t> computedChecksum;
};

// One row as the player reads it.
struct RowReport {
    std::size_t offset = 0;         // in the block
    std::uint8_t periods[songfile::kVoices] = {};   // 0 is a silent voice
    std::uint16_t ticks = 0;        // 5 ms each, 1..65535
};

// How a section's rows end.
enum class SectionEnd {
    EndRow,        // a row of duration 0 inside the block
    OutsideBlock,  // the section offset lies outside the block: no rows
    CutShort,      // a row does not fit whole before the block's end
};

struct SectionReport {
    std::uint16_t offset = 0;
    std::vector<RowReport> rows;
    SectionEnd end = SectionEnd::EndRow;
    std::size_t endOffset = 0;      // where the end row, or the cut row, begins
    std::uint64_t ticks = 0;        // sum of the rows' durations
    std::vector<std::size_t> playedAt;  // indices into the order list
};

struct OrderEntryReport {
    std::size_t position = 0;       // byte offset of the entry in the block
    std::uint16_t sectionOffset = 0;
    std::size_t section = 0;        // index into SongReport::sections
};

struct SongReport {
    std::string title, artist, album;
    std::size_t orderListOffset = 0;
    std::vector<OrderEntryReport> order;  // without the 0 entry
    // True when the list ends with its 0 entry inside the block; false when
    // it runs into the block's end (then `orderEndPosition` is where fewer
    // than two bytes were left).
    bool orderTerminated = true;
    std::size_t orderEndPosition = 0;
    std::vector<SectionReport> sections;  // each offset once, in order of first use
    std::uint64_t totalTicks = 0;         // the whole order list, end wait excluded
};

struct Report {
    std::string path;
    HeaderReport header;
    bool isProgram = false;    // the player's reader accepts the file
    std::size_t blockBytes = 0;   // bytes of the data block really read
    bool truncated = false;       // fewer than header.dataLength were there
    bool isSong = false;          // the block passes the song check
    std::string notSongReason;    // why not, when isProgram && !isSong
    SongReport song;              // meaningful when isSong
    // Everything odd, one sentence each: header fields that disagree, data
    // cut short, offsets outside the block. The player ignores most of it.
    std::vector<std::string> problems;
};

// Looks at the file at `path`. Only a file that cannot be read at all fails
// ("cannot open 'x': ..."); anything else, however broken, is described in
// the report.
fenk::Result<Report> InspectSongFile(const std::string& path);

// The report as text for people, and as one JSON object.
std::string FormatText(const Report& report);
std::string FormatJson(const Report& report);

}  // namespace info
