// The song engine: a song stepped one 5 ms tick at a time, with its
// timeline, seeking, looping, muting and pausing. Every program that plays
// or measures a song drives it: fenk's sequencer (between its sleeps),
// fenk-render (between blocks of mixed frames), fenk-live (around its keys
// and screen) and fenk-info (the lengths). It knows nothing of the console,
// of sleeping or of the sound library, and builds with the C++ standard
// library alone.
//
// The engine plays as the player does: each order entry up to the list's
// end (songfile::OrderEntryAt gives 0), each row of the entry's section up
// to the first of duration 0 (songfile::RowAt), so nothing outside the block
// is read. An entry whose section has no rows plays nothing and is passed
// over, though it still counts in the order list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "songfile/songfile.h"

namespace playback {

// ---------------------------------------------------------------------------
// The player's rules

// The rate that marks a silent voice.
constexpr int kSilentRate = -1;
// Playback rate in Hz for a period byte: 1,000,000 / period, truncated
// (period 1: 1,000,000 Hz; 255: 3921 Hz), or kSilentRate for period 0.
int RateForPeriod(std::uint8_t period);
// The player waits this long after the last row, in ms, the last row's
// voices sounding on.
constexpr unsigned kEndWaitMilliseconds = 2500;

// ---------------------------------------------------------------------------
// Timeline

// A section, measured once however often the order names it.
struct SectionTiming {
    std::uint16_t offset = 0;  // the section's offset in the block
    std::size_t rows = 0;      // rows before its end (0: an empty section)
    std::uint64_t ticks = 0;   // the rows' durations added up
};

// An order entry that plays at least one row.
struct TimelineEntry {
    std::size_t orderIndex = 0;       // entry of the order list, from 0
    std::uint16_t sectionOffset = 0;  // that entry: the section's offset
    std::size_t rows = 0;             // rows of the section, >= 1
    std::uint64_t startTick = 0;      // ticks of the song before the entry
    std::uint64_t ticks = 0;          // the entry's own ticks, >= 1
};

struct SongTimeline {
    std::size_t orderCount = 0;          // entries in the order list, without its 0
    std::vector<TimelineEntry> entries;  // the entries that play, in playing order
    std::vector<SectionTiming> sections; // every section the order names, once each,
                                         // in order of first use (empty ones too)
    std::uint64_t totalTicks = 0;        // the whole order list, end wait excluded
    std::uint64_t rows = 0;              // rows played over the whole order list
    // ticksToEnd[o]: the ticks from the row at byte offset o of the block to
    // the end of its section, for every row of the sections above (others
    // 0): one value per offset, so that sections which overlap share their
    // rows. kRowBytes longer than the block.
    std::vector<std::uint64_t> ticksToEnd;
};

// Measures `song`: reads the order list and each section it names once.
SongTimeline MeasureSong(const songfile::SongView& song);

// Where a song is: entries[entry] of the timeline, row `row` of its section,
// `tick` ticks of that row played. At the song's end: entry ==
// entries.size(), row and tick 0.
struct SongPosition {
    std::size_t entry = 0;
    std::size_t row = 0;
    unsigned tick = 0;
};

// Ticks of entries[entry]'s section before its row `row` (0..rows).
std::uint64_t RowStartTick(const SongTimeline& timeline, std::size_t entry, std::size_t row);

// Ticks of the song before `position` (for the end, totalTicks).
std::uint64_t TickAtPosition(const SongTimeline& timeline, SongPosition position);
// The position `tick` ticks into the song; at or past totalTicks, the end.
SongPosition PositionAtTick(const SongTimeline& timeline, std::uint64_t tick);
// The first entry whose order index is `orderIndex` or later; entries.size()
// when there is none.
std::size_t EntryAtOrderIndex(const SongTimeline& timeline, std::size_t orderIndex);

// ---------------------------------------------------------------------------
// Player

struct SongPlayer {
    songfile::SongView song;  // the block must outlive the player, unchanged
    SongTimeline timeline;
    SongPosition position;    // the tick PlayTick plays next
    // Entries from this index of timeline.entries on are not played: the
    // song ends before them (for playing a part). entries.size() by default.
    std::size_t endEntry = 0;
    bool loopEntry = false;   // after its last row the entry plays again
    bool muted[songfile::kVoices] = {};       // a muted voice is silent in every row it plays
    bool paused = false;      // PlayTick plays nothing while set
    // The row at the position was reached by a seek, not by playing on to it
    // (a driver may then stop what sounds before it starts the row).
    bool jumped = false;
};

// A player at the start of `song`, its timeline measured.
SongPlayer MakeSongPlayer(const songfile::SongView& song);

// One row as the player sounds it.
struct RowStart {
    std::uint8_t periods[songfile::kVoices] = {};  // the row's periods as stored
    int rates[songfile::kVoices] = {};             // what to sound: RateForPeriod, kSilentRate when muted
    std::size_t orderIndex = 0;    // the order entry, from 0 ("Section")
    std::size_t rowIndex = 0;      // the row of its section, from 0 ("Note")
    std::uint16_t sectionOffset = 0;
    std::uint16_t duration = 0;    // ticks, >= 1
    bool jumped = false;           // reached by a seek (SongPlayer::jumped)
};

// What one PlayTick did.
struct PlayedTick {
    bool ended = false;       // nothing played: the song is over (or at endEntry)
    bool paused = false;      // nothing played: the player is paused
    bool rowStarted = false;  // this tick is the first of a row: sound `row`
    RowStart row;             // when rowStarted
};

// Plays one tick: when the position is at a row's first tick the row starts
// (rowStarted, with its rates); then the position moves on a tick, to the
// next row after the row's last tick, to the next entry after the entry's
// last row (or, with loopEntry, to its first row again), and to the end
// after the last entry. Nothing moves while paused or at the end.
PlayedTick PlayTick(SongPlayer& player);

// True when the position is at the end (or at endEntry).
bool AtEnd(const SongPlayer& player);

// The row at the position (which must not be the end) and its rates as
// PlayTick gives them, mutes applied.
RowStart CurrentRow(const SongPlayer& player);

// Moves to row `row` of entries[entry] (row clamped to the section's last,
// entry to the end), at its first tick, and marks it jumped.
void SeekTo(SongPlayer& player, std::size_t entry, std::size_t row = 0);
// Moves to `tick` ticks into the song (PositionAtTick), marked jumped.
void SeekToTick(SongPlayer& player, std::uint64_t tick);
// Moves to the end: PlayTick plays nothing more.
void SeekToEnd(SongPlayer& player);

// `rates` with every muted voice silent.
void ApplyMutes(const SongPlayer& player, int rates[songfile::kVoices]);

}  // namespace playback
