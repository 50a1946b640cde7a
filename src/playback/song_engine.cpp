#include "song_engine.h"

#include <algorithm>
#include <cassert>
#include <map>

namespace playback {

int RateForPeriod(std::uint8_t period) {
    if (period == 0) return kSilentRate;
    return 1000000 / period;
}

namespace {

SectionTiming MeasureSection(const songfile::SongView& song, std::uint16_t offset) {
    SectionTiming section;
    section.offset = offset;
    std::uint64_t ticks = 0;
    section.rowStartTicks.push_back(0);
    // RowAt ends the section where a row does not fit in the block.
    for (std::size_t rowOffset = offset;; rowOffset += songfile::kRowBytes) {
        const songfile::SongRow row = songfile::RowAt(song, rowOffset);
        if (row.duration == 0) break;
        ticks += row.duration;
        section.rowStartTicks.push_back(ticks);
    }
    return section;
}

std::size_t EndEntry(const SongPlayer& player) {
    return std::min(player.endEntry, player.timeline.entries.size());
}

}  // namespace

SongTimeline MeasureSong(const songfile::SongView& song) {
    SongTimeline timeline;
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
            timeline.sections.push_back(MeasureSection(song, offset));
        }
        const SectionTiming& section = timeline.sections[known->second];
        if (section.Rows() == 0) continue;
        TimelineEntry entry;
        entry.orderIndex = index;
        entry.sectionOffset = offset;
        entry.section = known->second;
        entry.rows = section.Rows();
        entry.startTick = timeline.totalTicks;
        entry.ticks = section.Ticks();
        timeline.totalTicks += entry.ticks;
        timeline.rows += entry.rows;
        timeline.entries.push_back(entry);
    }
    return timeline;
}

std::uint64_t TickAtPosition(const SongTimeline& timeline, SongPosition position) {
    if (position.entry >= timeline.entries.size()) return timeline.totalTicks;
    const TimelineEntry& entry = timeline.entries[position.entry];
    const SectionTiming& section = timeline.sections[entry.section];
    const std::size_t row = std::min(position.row, entry.rows - 1);
    return entry.startTick + section.rowStartTicks[row] + position.tick;
}

SongPosition PositionAtTick(const SongTimeline& timeline, std::uint64_t tick) {
    SongPosition position;
    if (tick >= timeline.totalTicks) {
        position.entry = timeline.entries.size();
        return position;
    }
    // The last entry that starts at or before the tick, then its row alike.
    const auto entry = std::upper_bound(
        timeline.entries.begin(), timeline.entries.end(), tick,
        [](std::uint64_t value, const TimelineEntry& e) { return value < e.startTick; });
    position.entry = static_cast<std::size_t>(entry - timeline.entries.begin()) - 1;
    const TimelineEntry& found = timeline.entries[position.entry];
    const std::vector<std::uint64_t>& starts = timeline.sections[found.section].rowStartTicks;
    const std::uint64_t within = tick - found.startTick;
    const auto row = std::upper_bound(starts.begin(), starts.end(), within);
    position.row = static_cast<std::size_t>(row - starts.begin()) - 1;
    position.tick = static_cast<unsigned>(within - starts[position.row]);
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

void ApplyMutes(const SongPlayer& player, int rates[4]) {
    for (int voice = 0; voice < 4; ++voice)
        if (player.muted[voice]) rates[voice] = kSilentRate;
}

RowStart CurrentRow(const SongPlayer& player) {
    assert(!AtEnd(player));
    const TimelineEntry& entry = player.timeline.entries[player.position.entry];
    const songfile::SongRow row = songfile::RowAt(
        player.song, entry.sectionOffset + player.position.row * songfile::kRowBytes);
    RowStart start;
    for (int voice = 0; voice < 4; ++voice) {
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
    const RowStart row = CurrentRow(player);
    if (position.tick == 0) {
        played.rowStarted = true;
        played.row = row;
        player.jumped = false;
    }
    if (++position.tick < row.duration) return played;
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
