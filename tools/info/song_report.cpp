// fenk-info's look at a file: the header fields read from its bytes, then
// the song read as the player reads it.
#include "tools/info/song_report.h"

#include <cassert>
#include <cstdio>
#include <map>

#include "tools/info/report_format.h"
#include "playback/song_engine.h"
#include "songfile/songfile.h"
#include "tools/common/tool_support.h"

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
            for (int voice = 0; voice < songfile::kVoices; ++voice) rowReport.periods[voice] = row.periods[voice];
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
        report.sections[k].ticks = timeline.sections[k].ticks;
    report.totalTicks = timeline.totalTicks;
    return report;
}

Report InspectBytes(const std::string& path, const Bytes& bytes) {
    Report report;
    report.path = path;
    report.header = InspectHeader(bytes);
    if (report.header.signatureMismatch) {
        report.problems.push_back("not a TI-83 Plus program file: the signature differs at byte " +
                                  Decimal(*report.header.signatureMismatch));
        return report;
    }
    if (!report.header.dataLength) {
        report.problems.push_back("not a TI-83 Plus program file: it ends before the data "
                                  "length at offset 70");
        return report;
    }
    CheckHeader(report.header, report.problems);

    // The song is read the way the player reads it.
    const songfile::ReadResult read = songfile::ReadTiProgramBytes(bytes.data(), bytes.size());
    if (!read.ok()) {
        report.problems.push_back("the player's reader does not accept the file");
        return report;
    }
    report.isProgram = true;
    report.blockBytes = read.value.data.size();
    report.truncated = songfile::IsTruncated(read.value);
    if (report.truncated) {
        report.problems.push_back("the song data is truncated: " + Decimal(report.blockBytes) +
                                  " of " + Decimal(read.value.declaredLength) +
                                  " bytes are in the file");
    }
    const songfile::ParseResult parsed =
        songfile::ParseSong(read.value.data.data(), read.value.data.size());
    if (!parsed.ok()) {
        report.notSongReason = parsed.reason;
        report.problems.push_back("not a Fenk song: " + report.notSongReason);
        return report;
    }
    report.isSong = true;
    report.song = InspectSong(parsed.value, report.problems);
    return report;
}

}  // namespace

fenk::Result<Report> InspectSongFile(const std::string& path) {
    const fenk::Result<Bytes> read = tools::ReadWholeFile(path);
    if (!read.ok()) return fenk::Failed<Report>(fenk::Failure::Failed, read.reason);
    return fenk::Succeeded(InspectBytes(path, read.value));
}

}  // namespace info
