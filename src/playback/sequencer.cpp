// The sequencer: walks the order list and each listed section row by row,
// straight out of the song block, sounding each row and waiting out its
// duration in 5 ms ticks while it watches the keyboard.
#include <cassert>
#include <cstddef>

#include "playback.h"

namespace playback {
namespace {

constexpr unsigned kTickMilliseconds = 5;
constexpr unsigned kEndWaitMilliseconds = 2500;
constexpr std::size_t kOrderEntryBytes = 2;

void PrintStatusLine(std::FILE* out, int note, int section,
                     std::uint16_t sectionOffset, float cpuUsage) {
    // Three pieces; "\r" and no line feed so each row's line overwrites the
    // one before.
    std::fprintf(out, "Note:%03d Section:%03d=", note, section);
    std::fprintf(out, "%04X", static_cast<unsigned>(sectionOffset));
    std::fprintf(out, " CPU:%.02f%%\r", static_cast<double>(cpuUsage));
}

}  // namespace

bool SystemClock::KeyPending() { return platform::KeyPending(); }

std::int64_t NextSleepDeadline(std::int64_t previousDeadlineNs, std::int64_t nowNs, std::int64_t lengthNs) {
    if (previousDeadlineNs == 0 || nowNs - previousDeadlineNs > kLongestCatchUpNs) return nowNs + lengthNs;
    return previousDeadlineNs + lengthNs;
}

void SystemClock::SleepMs(unsigned milliseconds) {
    deadlineNs_ = NextSleepDeadline(deadlineNs_, platform::MonotonicNanoseconds(),
                                    static_cast<std::int64_t>(milliseconds) * 1000000);
    platform::SleepUntil(deadlineNs_);
}

PlayOutcome PlaySong(const songfile::SongView& song, ToneOutput& output,
                     Clock& clock, std::FILE* out) {
    assert(output.library != nullptr);
    // Every read goes through OrderEntryAt and RowAt, which end the list or
    // the section where the block ends, so a song whose offsets run past the
    // block is never read outside it.
    std::size_t orderPosition = song.orderList;
    for (int section = 0;; ++section, orderPosition += kOrderEntryBytes) {
        const std::uint16_t sectionOffset = songfile::OrderEntryAt(song, orderPosition);
        if (sectionOffset == 0) break;
        std::size_t rowPosition = sectionOffset;
        for (int note = 0;; ++note, rowPosition += songfile::kRowBytes) {
            const songfile::SongRow row = songfile::RowAt(song, rowPosition);
            if (row.duration == 0) break;
            int rates[4];
            for (int voice = 0; voice < 4; ++voice)
                rates[voice] = RateForPeriod(row.periods[voice]);
            SetVoices(output, rates);
            PrintStatusLine(out, note, section, sectionOffset, CpuUsage(output));
            for (unsigned tick = 0; tick < row.duration; ++tick) {
                if (clock.KeyPending()) {
                    std::fprintf(out, "\n");
                    return PlayOutcome::StoppedByKey;
                }
                clock.SleepMs(kTickMilliseconds);
            }
        }
    }
    // The last row's voices go on sounding through this wait; the keyboard
    // is not watched during it.
    clock.SleepMs(kEndWaitMilliseconds);
    return PlayOutcome::Finished;
}

}  // namespace playback
