// fenk-live's song: a song text or a .8xp file loaded into a block of its
// own, laid out as a timeline of order entries, and the position logic the
// player moves along it (next and previous entry, looping, keeping the
// place when the song is loaded again).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "songfile.h"

namespace live {

// An order entry that plays at least one row (entries whose section has no
// rows are passed over, as the player passes them).
struct Entry {
    std::size_t orderIndex = 0;       // entry of the order list, from 0
    std::uint16_t sectionOffset = 0;  // the section's offset in the block
    std::size_t rows = 0;             // rows in the section, >= 1
    std::uint64_t startTick = 0;      // ticks of the song before the entry
    std::uint64_t ticks = 0;          // the entry's own ticks
    // The section's name in the song text; for a .8xp its offset, "0x0046".
    std::string name;
};

struct Song {
    std::vector<std::uint8_t> block;  // the song block (a .8xp's data block)
    // The block as parsed: its offsets hold wherever the block is moved or
    // copied; View() points them at `block`.
    songfile::SongView layout;
    std::string title, artist;
    std::size_t orderCount = 0;       // entries in the order list
    std::vector<Entry> entries;       // the entries that play, in order
    std::uint64_t totalTicks = 0;     // the whole order list, 5 ms each
};

// The checked view of `song`'s block (its layout over its bytes), without
// parsing it again; valid while the block is unchanged.
songfile::SongView View(const Song& song);

struct LoadResult {
    bool ok = false;
    // When !ok: one line, "PATH:LINE: what is wrong" for a song text (its
    // first mistake), "cannot open 'PATH': why" or "'PATH' holds no Fenk
    // song" otherwise.
    std::string error;
    Song song;
};

// A file that begins with the TI-83 Plus signature is read as a program
// file; any other as a song text, compiled as fenk-make compiles it.
// `path` is only used in messages. All-or-nothing.
LoadResult LoadSongBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// Reads the file at `path` (UTF-8), then as LoadSongBytes.
LoadResult LoadSongFile(const std::string& path);

// Where the player is: entries[entry] and row `row` of its section. With no
// entries at all the song has nothing to play.
struct Position {
    std::size_t entry = 0;
    std::size_t row = 0;
};

// The row at `position` (which must be inside the song).
songfile::SongRow RowAt(const Song& song, Position position);
// Ticks of the song before the row at `position` starts.
std::uint64_t TickAt(const Song& song, Position position);

// The first row of the entry after the position's; false (position left
// alone) at the last entry.
bool NextEntry(const Song& song, Position& position);
// The first row of the entry before the position's; at the first entry its
// first row.
void PreviousEntry(Position& position);
// The row after `position`: the next row of the entry, else the first row
// of the next entry, or with `loopEntry` the first row of the same entry.
// False (position left alone) after the last row of the last entry.
bool AdvanceRow(const Song& song, Position& position, bool loopEntry);

// Where to go on in `now` (the song just loaded again) from `position` in
// `before`: the entry of the same order index, or the last one before it
// that plays, or the first; the same row, or its last row when the section
// got shorter. False when `now` has nothing to play.
bool KeepPlace(const Song& before, Position position, const Song& now, Position& kept);

}  // namespace live
