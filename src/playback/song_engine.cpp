#include "playback/song_engine.h"

#include <algorithm>
#include <cassert>
#include <map>

namespace playback {

int RateForPeriod(std::uint8_t period) {
    if (period == 0) return kSilentRate;
    return songfile::PeriodRate(period);
}

namespace {

// The ticks and the rows from an offset's row to the end of its section: a
// row of duration 0, or one that does not fit in the block, ends every
// section that reaches it (songfile::RowAt). Filled as sections are
// measured, each row read once however many sections overlap it.
struct ToEnd {
    static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
    std::vector<std::uint64_t> ticks;
    std::vector<std::uint32_t> rows;  // kUnknown: not measured yet
};

ToEnd StartToEnd(const songfile::SongView& song) {
    ToEnd toEnd;
    toEnd.ticks.assign(song.length + songfile::kRowBytes, 0);
    toEnd.rows.assign(song.length + songfile::kRowBytes, ToEnd::kUnknown);
    // Past the block's end no row fits.
    std::fill(toEnd.rows.begin() + static_cast<std::ptrdiff_t>(song.length), toEnd.rows.end(), 0);
    return toEnd;
}

SectionTiming MeasureSection(const songfile::SongView& song, ToEnd& toEnd, std::uint16_t offset) {
    SectionTiming section;
    section.offset = offset;
    if (offset >= song.length) return section;  // outside the block: no rows
    // Forward to the section's end or to a row measured before, then back.
    std::vector<std::pair<std::size_t, std::uint16_t>> unmeasured;  // offset, duration
    std::size_t at = offset;
    while (toEnd.rows[at] == ToEnd::kUnknown) {
        const std::uint16_t duration = songfile::RowAt(song, at).duration;
        if (duration == 0) {
            toEnd.rows[at] = 0;
            break;
        }
        unmeasured.emplace_back(at, duration);
        at += songfile::kRowBytes;
    }
    for (auto row = unmeasured.rbegin(); row != unmeasured.rend(); ++row) {
        const std::size_t next = row->first + songfile::kRowBytes;
        toEnd.ticks[row->first] = row->second + toEnd.ticks[next];
        toEnd.rows[row->first] = 1 + toEnd.rows[next];
    }
    section.rows = toEnd.rows[offset];
    section.ticks = toEnd.ticks[offset];
    return section;
}

std::size_t EndEntry(const SongPlayer& player) {
    return std::min(player.endEntry, player.timeline.entries.size());
}

}  // namespace

SongTimeline MeasureSong(const songfile::SongView& song) {
    SongTimeline timeline;
    ToEnd toEnd = StartToEnd(song);
    std::map<std::uint16_t, std::size_t> sectionByOffset;
    for (std::size_t index = 0;; ++index) {
        const std::uint16_t offset =
            songfile::OrderEntryAt(song, song.orderList + index * songfile::kOrderEntryBytes);
        if (offset == 0) {
            timeline.orderCount = index;
            break;
        }
        auto known = sectionByOffset.find(offset);
        if (known == sectionByOffset.end()) {
            known = sectionByOffset.emplace(offset, timeline.sections.size()).first;
            timeline.sections.push_back(MeasureSection(song, toEnd, offset));
        }
        const SectionTiming& section = timeline.sections[known->second];
        if (section.rows == 0) continue;
        TimelineEntry entry;
        entry.orderIndex = index;
        entry.sectionOffset = offset;
        entry.rows = section.rows;
        entry.startTick = timeline.totalTicks;
        entry.ticks = section.ticks;
        timeline.totalTicks += entry.ticks;
        timeline.rows += entry.rows;
        timeline.entries.push_back(entry);
    }
    timeline.ticksToEnd = std::move(toEnd.ticks);
    return timeline;
}

std::uint64_t RowStartTick(const SongTimeline& timeline, std::size_t entry, std::size_t row) {
    const TimelineEntry& found = timeline.entries[entry];
    assert(row <= found.rows);
    const std::vector<std::uint64_t>& toEnd = timeline.ticksToEnd;
    return toEnd[found.sectionOffset] - toEnd[found.sectionOffset + row * songfile::kRowBytes];
}

std::uint64_t TickAtPosition(const SongTimeline& timeline, SongPosition position) {
    if (position.entry >= timeline.entries.size()) return timeline.totalTicks;
    const TimelineEntry& entry = timeline.entries[position.entry];
    const std::size_t row = std::min(position.row, entry.rows - 1);
    return entry.startTick + RowStartTick(timeline, position.entry, row) + position.tick;
}

SongPosition PositionAtTick(const SongTimeline& timeline, std::uint64_t tick) {
    SongPosition position;
    if (tick >= timeline.totalTicks) {
        position.entry = timeline.entries.size();
        return position;
    }
    // The last entry that starts at or before the tick, then its row alike:
    // the rows' start ticks grow with the row.
    const auto entry = std::upper_bound(
        timeline.entries.begin(), timeline.entries.end(), tick,
        [](std::uint64_t value, const TimelineEntry& e) { return value < e.startTick; });
    position.entry = static_cast<std::size_t>(entry - timeline.entries.begin()) - 1;
    const TimelineEntry& found = timeline.entries[position.entry];
    const std::uint64_t within = tick - found.startTick;
    std::size_t low = 0, high = found.rows;  // the row is in [low, high)
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (RowStartTick(timeline, position.entry, middle) <= within) {
            low = middle;
        } else {
            high = middle;
        }
    }
    position.row = low;
    position.tick = static_cast<unsigned>(within - RowStartTick(timeline, position.entry, low));
    return position;
}

std::size_t EntryAtOrderIndex(const SongTimeline& timeline, std::size_t orderIndex) {
    const auto entry = std::lower_bound(
        timeline.entries.begin(), timeline.entries.end(), orderIndex,
        [](const TimelineEntry& e, std::size_t value) { return e.orderIndex < value; });
    return static_cast<std::size_t>(entry - timeline.entries.begin());
}

SongPlayer MakeSongPlayer(const songfile::SongView& song) {
    SongPlayer player;
    player.song = song;
    player.timeline = MeasureSong(song);
    player.endEntry = player.timeline.entries.size();
    return player;
}

bool AtEnd(const SongPlayer& player) { return player.position.entry >= EndEntry(player); }

void ApplyMutes(const SongPlayer& player, int rates[songfile::kVoices]) {
    for (int voice = 0; voice < songfile::kVoices; ++voice)
        if (player.muted[voice]) rates[voice] = kSilentRate;
}

RowStart CurrentRow(const SongPlayer& player) {
    assert(!AtEnd(player));
    const TimelineEntry& entry = player.timeline.entries[player.position.entry];
    const songfile::SongRow row = songfile::RowAt(
        player.song, entry.sectionOffset + player.position.row * songfile::kRowBytes);
    RowStart start;
    for (int voice = 0; voice < songfile::kVoices; ++voice) {
        start.periods[voice] = row.periods[voice];
        start.rates[voice] = RateForPeriod(row.periods[voice]);
    }
    ApplyMutes(player, start.rates);
    start.orderIndex = entry.orderIndex;
    start.rowIndex = player.position.row;
    start.sectionOffset = entry.sectionOffset;
    start.duration = row.duration;
    start.jumped = player.jumped;
    return start;
}

PlayedTick PlayTick(SongPlayer& player) {
    PlayedTick played;
    if (AtEnd(player)) {
        played.ended = true;
        return played;
    }
    if (player.paused) {
        played.paused = true;
        return played;
    }
    SongPosition& position = player.position;
    // The row is read whole only where it starts; its other ticks need its
    // length alone, which the timeline holds.
    std::uint64_t duration = 0;
    if (position.tick == 0) {
        played.rowStarted = true;
        played.row = CurrentRow(player);
        player.jumped = false;
        duration = played.row.duration;
    } else {
        duration = RowStartTick(player.timeline, position.entry, position.row + 1) -
                   RowStartTick(player.timeline, position.entry, position.row);
    }
    if (++position.tick < duration) return played;
    position.tick = 0;
    const TimelineEntry& entry = player.timeline.entries[position.entry];
    if (++position.row < entry.rows) return played;
    position.row = 0;
    if (!player.loopEntry) ++position.entry;
    return played;
}

void SeekTo(SongPlayer& player, std::size_t entry, std::size_t row) {
    const std::size_t entries = player.timeline.entries.size();
    player.position = SongPosition{};
    player.position.entry = std::min(entry, entries);
    if (player.position.entry < entries)
        player.position.row = std::min(row, player.timeline.entries[player.position.entry].rows - 1);
    player.jumped = true;
}

void SeekToTick(SongPlayer& player, std::uint64_t tick) {
    player.position = PositionAtTick(player.timeline, tick);
    player.jumped = true;
}

void SeekToEnd(SongPlayer& player) { SeekTo(player, player.timeline.entries.size()); }

}  // namespace playback
