// The sequencer: steps the song engine tick by tick, sounding each row as
// it starts and waiting out every tick while it watches the keyboard.
#include <cassert>
#include <cstddef>

#include "playback/playback.h"

namespace playback {

void ConsolePrinter::Message(const std::string& text) { std::fputs(text.c_str(), out_); }

void ConsolePrinter::Status(const RowStatus& status) {
    // One call, so that a terminal (unbuffered) gets the line in one write;
    // "\r" and no line feed so each row's line overwrites the one before.
    std::fprintf(out_, "Note:%03d Section:%03d=%04X CPU:%.02f%%\r", status.note, status.section,
                 static_cast<unsigned>(status.sectionOffset), static_cast<double>(status.cpuUsage));
}

bool SystemClock::StopRequested() {
    // A sleep that watched the input has done the tick's key test.
    if (lastWatch_ != platform::KeyWatch::NotWatched) return lastWatch_ == platform::KeyWatch::Key;
    return platform::KeyPending();
}

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
    lastWatch_ = platform::SleepUntilWatchingKeys(deadlineNs_);
}

PlayOutcome PlaySong(SongPlayer& player, ToneOutput& output, Clock& clock, RunPrinter& printer) {
    assert(output.library != nullptr);
    assert(!player.paused);  // a paused player would never end
    for (;;) {
        const PlayedTick played = PlayTick(player);
        if (played.ended) break;
        if (played.rowStarted) {
            SetVoices(output, played.row.rates, clock.RowStartNs());
            RowStatus status;
            status.note = static_cast<int>(played.row.rowIndex);
            status.section = static_cast<int>(played.row.orderIndex);
            status.sectionOffset = played.row.sectionOffset;
            status.cpuUsage = CpuUsage(output);
            printer.Status(status);
        }
        if (clock.StopRequested()) {
            printer.Message("\n");
            return PlayOutcome::StoppedByKey;
        }
        clock.SleepMs(songfile::kTickMilliseconds);
    }
    // The last row's voices go on sounding through this wait; the keyboard
    // is not watched during it.
    clock.SleepMs(kEndWaitMilliseconds);
    return PlayOutcome::Finished;
}

}  // namespace playback
