// Laying out song blocks from their readable parts.
#include "songfile/songfile.h"

#include <string>
#include <utility>

#include "songfile/little_endian.h"

namespace songfile {
namespace {

void AppendText(std::vector<std::uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

BuildSongResult Failure(const std::string& error) {
    return fenk::Failed<BuiltSong>(fenk::Failure::Failed, error);
}

}  // namespace

BuildSongResult BuildSong(const SongSource& source) {
    const struct {
        const char* label;
        const std::string* text;
    } texts[] = {{"title", &source.title},
                 {"artist", &source.artist},
                 {"album", &source.album}};
    for (const auto& text : texts) {
        if (text.text->find('\0') != std::string::npos) {
            return Failure(std::string("the ") + text.label +
                           " holds a NUL byte");
        }
    }
    for (std::size_t i = 0; i < source.order.size(); ++i) {
        if (source.order[i] >= source.sections.size()) {
            return Failure("order entry " + std::to_string(i) +
                           " names section " + std::to_string(source.order[i]) +
                           ", but there are only " +
                           std::to_string(source.sections.size()));
        }
    }
    for (std::size_t s = 0; s < source.sections.size(); ++s) {
        const std::vector<SongRow>& rows = source.sections[s];
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (rows[r].duration == 0) {
                return Failure("row " + std::to_string(r) + " of section " +
                               std::to_string(s) +
                               " has duration 0, which would end the section");
            }
        }
    }

    // Sizes first, so the section offsets are known before the order list
    // is written.
    const std::size_t header = 6 + source.title.size() + 1 +
                               source.artist.size() + 1 + source.album.size() + 1;
    std::size_t size = header + 2 * (source.order.size() + 1);
    std::vector<std::size_t> sectionOffsets;
    sectionOffsets.reserve(source.sections.size());
    for (const std::vector<SongRow>& rows : source.sections) {
        sectionOffsets.push_back(size);
        size += kRowBytes * (rows.size() + 1);
    }
    // Within kMaxProgramBody every offset also fits the 16-bit entries.
    if (size > kMaxProgramBody) {
        return Failure("the song needs " + std::to_string(size) +
                       " bytes, more than the " +
                       std::to_string(kMaxProgramBody) + " a program holds");
    }

    std::vector<std::uint8_t> body(kSongSignature, kSongSignature + kSongSignatureBytes);
    body.push_back(0);  // byte 5, which the player ignores
    body.reserve(size);
    AppendText(body, source.title);
    AppendText(body, source.artist);
    AppendText(body, source.album);
    for (std::size_t index : source.order) AppendWord(body, sectionOffsets[index]);
    AppendWord(body, 0);
    for (const std::vector<SongRow>& rows : source.sections) {
        for (const SongRow& row : rows) {
            body.insert(body.end(), row.periods, row.periods + 4);
            AppendWord(body, row.duration);
        }
        body.insert(body.end(), kRowBytes, 0);  // the row that ends the section
    }

    BuiltSong built;
    built.body = std::move(body);
    built.sectionOffsets.assign(sectionOffsets.begin(), sectionOffsets.end());
    return fenk::Succeeded(std::move(built));
}

}  // namespace songfile
