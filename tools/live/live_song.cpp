#include "live_song.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "song_text.h"
#include "tool_support.h"

namespace live {

namespace {

struct SectionSize {
    std::size_t rows = 0;
    std::uint64_t ticks = 0;
};

// Lays out the order list of a parsed block. Each section is measured once,
// however often the order names it, so a long list over long sections
// costs little.
bool BuildTimeline(Song& song, const std::string& path, const std::vector<std::string>& names,
                   std::string* error) {
    const songfile::ParseResult parsed = songfile::ParseSong(song.block.data(), song.block.size());
    if (!parsed.ok) {
        *error = "'" + path + "' holds no Fenk song";
        return false;
    }
    const songfile::SongView view = parsed.view;
    song.layout = view;
    song.title = songfile::TitleText(view);
    song.artist = songfile::ArtistText(view);
    std::map<std::uint16_t, SectionSize> sizes;  // by section offset
    for (std::size_t index = 0;; ++index) {
        const std::uint16_t offset =
            songfile::OrderEntryAt(view, view.orderList + index * songfile::kOrderEntryBytes);
        if (offset == 0) {
            song.orderCount = index;
            break;
        }
        auto known = sizes.find(offset);
        if (known == sizes.end()) {
            SectionSize size;
            for (std::size_t rowOffset = offset;; rowOffset += songfile::kRowBytes) {
                const songfile::SongRow row = songfile::RowAt(view, rowOffset);
                if (row.duration == 0) break;
                ++size.rows;
                size.ticks += row.duration;
            }
            known = sizes.emplace(offset, size).first;
        }
        if (known->second.rows == 0) continue;
        Entry entry;
        entry.orderIndex = index;
        entry.sectionOffset = offset;
        entry.rows = known->second.rows;
        entry.ticks = known->second.ticks;
        entry.startTick = song.totalTicks;
        song.totalTicks += entry.ticks;
        song.entries.push_back(entry);
    }
    // The compiler lays its sections out once each, in their order, and the
    // order list names every one: the k-th lowest offset is section k.
    std::map<std::uint16_t, std::size_t> sectionIndex;
    for (const auto& section : sizes) sectionIndex.emplace(section.first, sectionIndex.size());
    const bool named = sectionIndex.size() == names.size();
    for (Entry& entry : song.entries) {
        if (named) {
            entry.name = names[sectionIndex[entry.sectionOffset]];
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(entry.sectionOffset));
            entry.name = hex;
        }
    }
    return true;
}

bool IsProgramFile(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= songfile::kTiSignatureBytes &&
           std::memcmp(bytes.data(), songfile::kTiSignature, songfile::kTiSignatureBytes) == 0;
}

}  // namespace

songfile::SongView View(const Song& song) {
    songfile::SongView view = song.layout;
    view.data = song.block.data();
    view.length = song.block.size();
    return view;
}

LoadResult LoadSongBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    LoadResult result;
    Song song;
    std::vector<std::string> names;
    if (IsProgramFile(bytes)) {
        const songfile::ReadResult read = songfile::ReadTiProgramBytes(bytes.data(), bytes.size());
        song.block = read.file.data;
    } else {
        const songtext::CompileResult compiled =
            songtext::CompileSongText(std::string(bytes.begin(), bytes.end()));
        if (!compiled.ok) {
            const songtext::Message& first = compiled.errors.front();
            result.error = path + ":" + std::to_string(first.line) + ": " + first.text;
            return result;
        }
        const songfile::BuildSongResult built = songfile::BuildSong(compiled.song);
        if (!built.ok) {
            result.error = path + ": " + built.error;
            return result;
        }
        song.block = built.body;
        names = compiled.sectionNames;
    }
    if (!BuildTimeline(song, path, names, &result.error)) return result;
    result.ok = true;
    result.song = std::move(song);
    return result;
}

LoadResult LoadSongFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    LoadResult result;
    if (!tools::ReadWholeFile(path, &bytes, &result.error)) return result;
    return LoadSongBytes(path, bytes);
}

songfile::SongRow RowAt(const Song& song, Position position) {
    const Entry& entry = song.entries[position.entry];
    return songfile::RowAt(View(song), entry.sectionOffset + position.row * songfile::kRowBytes);
}

std::uint64_t TickAt(const Song& song, Position position) {
    const Entry& entry = song.entries[position.entry];
    const songfile::SongView view = View(song);
    std::uint64_t ticks = entry.startTick;
    for (std::size_t row = 0; row < position.row; ++row) {
        ticks += songfile::RowAt(view, entry.sectionOffset + row * songfile::kRowBytes).duration;
    }
    return ticks;
}

bool NextEntry(const Song& song, Position& position) {
    if (position.entry + 1 >= song.entries.size()) return false;
    position = {position.entry + 1, 0};
    return true;
}

void PreviousEntry(Position& position) {
    position = {position.entry == 0 ? 0 : position.entry - 1, 0};
}

bool AdvanceRow(const Song& song, Position& position, bool loopEntry) {
    if (position.row + 1 < song.entries[position.entry].rows) {
        ++position.row;
        return true;
    }
    if (loopEntry) {
        position.row = 0;
        return true;
    }
    return NextEntry(song, position);
}

bool KeepPlace(const Song& before, Position position, const Song& now, Position& kept) {
    if (now.entries.empty()) return false;
    const std::size_t orderIndex =
        before.entries.empty() ? 0 : before.entries[position.entry].orderIndex;
    std::size_t entry = 0;
    while (entry + 1 < now.entries.size() && now.entries[entry + 1].orderIndex <= orderIndex)
        ++entry;
    kept.entry = entry;
    kept.row = std::min(position.row, now.entries[entry].rows - 1);
    return true;
}

}  // namespace live
