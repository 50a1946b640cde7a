#include "compose/live_song.h"

#include <algorithm>
#include <cstdio>

#include "compose/midi_file.h"
#include "compose/midi_import.h"
#include "compose/song_text.h"

namespace live {

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
    const auto fail = [](const std::string& reason) {
        return fenk::Failed<Song>(fenk::Failure::Failed, reason);
    };
    Song song;
    if (songfile::HasTiSignature(bytes)) {
        song.block = songfile::ReadTiProgramBytes(bytes.data(), bytes.size()).value.data;
        song.fromProgramFile = true;
    } else {
        std::string text(bytes.begin(), bytes.end());
        // A MIDI file is imported as fenk-make imports it, then compiled.
        if (midi::IsMidiFile(bytes)) {
            const fenk::Result<midiimport::Import> imported = midiimport::ImportMidiFile(bytes, {});
            if (!imported.ok()) return fail(path + ": " + imported.reason);
            text = imported.value.text;
        }
        const songtext::CompileResult compiled = songtext::CompileSongText(text);
        if (!compiled.ok) {
            const songtext::Message& first = compiled.errors.front();
            return fail(path + ":" + std::to_string(first.line) + ": " + first.text);
        }
        const songfile::BuildSongResult built = songfile::BuildSong(compiled.song);
        if (!built.ok()) return fail(path + ": " + built.reason);
        song.block = built.value.body;
        const std::vector<std::uint16_t>& offsets = built.value.sectionOffsets;
        for (std::size_t k = 0; k < offsets.size() && k < compiled.sectionNames.size(); ++k)
            song.sectionNames.emplace(offsets[k], compiled.sectionNames[k]);
    }
    const songfile::ParseResult parsed = songfile::ParseSong(song.block.data(), song.block.size());
    if (!parsed.ok()) return fail("'" + path + "' holds no Fenk song");
    song.layout = parsed.value;
    song.title = songfile::TitleText(parsed.value);
    song.artist = songfile::ArtistText(parsed.value);
    return fenk::Succeeded(std::move(song));
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
    const std::uint64_t rowTicks = playback::RowStartTick(now, entry, kept.row + 1) -
                                   playback::RowStartTick(now, entry, kept.row);
    kept.tick = static_cast<unsigned>(std::min<std::uint64_t>(position.tick, rowTicks - 1));
    return true;
}

}  // namespace live
