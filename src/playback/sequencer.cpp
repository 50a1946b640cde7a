// The sequencer: walks the order list and each listed section row by row,
// straight out of the song block, sounding each row and waiting out its
// duration in 5 ms ticks while it watches the keyboard.
#include <cassert>
#include <cstddef>

#include "playback.h"

namespace playback {

void ConsolePrinter::Message(const std::string& text) { std::fputs(text.c_str(), out_); }

void ConsolePrinter::Status(const RowStatus& status) {
    // Three pieces; "\r" and no line feed so each row's line overwrites the
    // one before.
    std::fprintf(out_, "Note:%03d Section:%03d=", status.note, status.section);
    std::fprintf(out_, "%04X", static_cast<unsigned>(status.sectionOffset));
    std::fprintf(out_, " CPU:%.02f%%\r", static_cast<double>(status.cpuUsage));
}

bool SystemClock::StopRequested() { return platform::KeyPending(); }

std::int64_t NextSleepDeadline(std::int64_t previousDeadlineNs, std::int64_t nowNs, std::int64_t lengthNs) {
    if (previousDeadlineNs == 0 || nowNs - previousDeadlineNs > kLongestCatchUpNs) return nowNs + lengthNs;
    return previousDeadlineNs + lengthNs;
}

std::int64_t SystemClock::RowStartNs() {
    deadlineNs_ = NextSleepDeadline(deadlineNs_, platform::MonotonicNanoseconds(), 0);
    return deadlineNs_;
}

void SystemClock::SleepMs(unsigned milliseconds) {
    deadlineNs_ = NextSleepDeadline(deadlineNs_, platform::MonotonicNanoseconds(),
                                    static_cast<std::int64_t>(milliseconds) * 1000000);
    platform::SleepUntil(deadlineNs_);
}

PlayOutcome PlaySong(const songfile::SongView& song, ToneOutput& output,
                     Clock& clock, RunPrinter& printer) {
    assert(output.library != nullptr);
    // The walk reads through OrderEntryAt and RowAt, which end the list or
    // the section where the block ends, so a song whose offsets run past the
    // block is never read outside it.
    const bool finished = songfile::WalkSong(song, [&](const songfile::WalkedRow& walked) {
        int rates[4];
        for (int voice = 0; voice < 4; ++voice) rates[voice] = RateForPeriod(walked.row.periods[voice]);
        SetVoices(output, rates, clock.RowStartNs());
        RowStatus status;
        status.note = static_cast<int>(walked.rowIndex);
        status.section = static_cast<int>(walked.orderIndex);
        status.sectionOffset = walked.sectionOffset;
        status.cpuUsage = CpuUsage(output);
        printer.Status(status);
        for (unsigned tick = 0; tick < walked.row.duration; ++tick) {
            if (clock.StopRequested()) {
                printer.Message("\n");
                return false;
            }
            clock.SleepMs(songfile::kTickMilliseconds);
        }
        return true;
    });
    if (!finished) return PlayOutcome::StoppedByKey;
    // The last row's voices go on sounding through this wait; the keyboard
    // is not watched during it.
    clock.SleepMs(songfile::kEndWaitMilliseconds);
    return PlayOutcome::Finished;
}

}  // namespace playback
