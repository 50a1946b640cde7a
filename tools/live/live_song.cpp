#include "live_song.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "song_text.h"
#include "tool_support.h"

namespace live {

namespace {

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

std::string SectionName(const Song& song, std::uint16_t sectionOffset) {
    const auto named = song.sectionNames.find(sectionOffset);
    if (named != song.sectionNames.end()) return named->second;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(sectionOffset));
    return hex;
}

LoadResult LoadSongBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    LoadResult result;
    Song song;
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
        for (std::size_t k = 0; k < built.sectionOffsets.size() && k < compiled.sectionNames.size(); ++k)
            song.sectionNames.emplace(built.sectionOffsets[k], compiled.sectionNames[k]);
    }
    const songfile::ParseResult parsed = songfile::ParseSong(song.block.data(), song.block.size());
    if (!parsed.ok) {
        result.error = "'" + path + "' holds no Fenk song";
        return result;
    }
    song.layout = parsed.view;
    song.title = songfile::TitleText(parsed.view);
    song.artist = songfile::ArtistText(parsed.view);
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

bool KeepPlace(const playback::SongTimeline& before, playback::SongPosition position,
               const playback::SongTimeline& now, playback::SongPosition& kept) {
    if (now.entries.empty()) return false;
    const std::size_t orderIndex =
        position.entry < before.entries.size() ? before.entries[position.entry].orderIndex : 0;
    std::size_t entry = 0;
    while (entry + 1 < now.entries.size() && now.entries[entry + 1].orderIndex <= orderIndex)
        ++entry;
    kept.entry = entry;
    kept.row = std::min(position.row, now.entries[entry].rows - 1);
    const std::vector<std::uint64_t>& starts = now.sections[now.entries[entry].section].rowStartTicks;
    const std::uint64_t rowTicks = starts[kept.row + 1] - starts[kept.row];
    kept.tick = static_cast<unsigned>(std::min<std::uint64_t>(position.tick, rowTicks - 1));
    return true;
}

}  // namespace live
