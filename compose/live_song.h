// fenk-live's song: a song text or a .8xp file loaded into a block of its
// own, with the names of its sections, and where playing goes on when the
// song is loaded again. The song engine (song_engine.h) plays it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/result.h"
#include "playback/song_engine.h"
#include "songfile/songfile.h"

namespace live {

struct Song {
    std::vector<std::uint8_t> block;  // the song block (a .8xp's data block)
    // The block as parsed: its offsets hold wherever the block is moved or
    // copied; View() points them at `block`.
    songfile::SongView layout;
    std::string title, artist;
    // The song text's section names by the offset the compiler laid each
    // section at; empty for a .8xp.
    std::map<std::uint16_t, std::string> sectionNames;
    bool fromProgramFile = false;  // read from a .8xp, not compiled from a text
};

// The checked view of `song`'s block (its layout over its bytes), without
// parsing it again; valid while the block is unchanged.
songfile::SongView View(const Song& song);

// The name of the section at `sectionOffset`: the song text's, or for a
// .8xp its offset, "0x0046".
std::string SectionName(const Song& song, std::uint16_t sectionOffset);

// The song, or one line that says why not: "PATH:LINE: what is wrong" for
// a song text (its first mistake), "cannot open 'PATH': why" or "'PATH'
// holds no Fenk song" otherwise.
using LoadResult = fenk::Result<Song>;


// A file that begins with the TI-83 Plus signature is read as a program
// file; any other as a song text, compiled as fenk-make compiles it.
// `path` is only used in messages. All-or-nothing.
LoadResult LoadSongBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Reads the file at `path` (UTF-8), then as LoadSongBytes.
LoadResult LoadSongFile(const std::string& path);

// Where to go on in `now` (the song just loaded again) from `position` in
// `before`: the entry of the same order index, or the last one before it
// that plays, or the first; the same row, or its last row when the section
// got shorter; the same tick, or the row's last when the row got shorter.
// False when `now` has nothing to play.
bool KeepPlace(const playback::SongTimeline& before, playback::SongPosition position,
               const playback::SongTimeline& now, playback::SongPosition& kept);

}  // namespace live
