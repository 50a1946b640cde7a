// Extended notes ("x": no row stops what earlier rows started) with a
// looped sample over thousands of rows, on the offline path: every row
// starts four channels, so after eight rows all 32 are busy and each new
// note takes the oldest. Channels stay within the 32, in strict turn, and
// the heap does not grow; the mixing load is reported as a figure.
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fsound.h"
#include "fsound_offline.h"
#include "platform/platform.h"
#include "playback/playback.h"
#include "tests/support/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define HARDENING_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HARDENING_ASAN 1
#endif
#endif
#ifdef HARDENING_ASAN
// Declared here rather than through <sanitizer/allocator_interface.h>, which
// not every compiler installation ships; the ASan runtime always has it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using test_support::Row;

constexpr int kMixRate = 8000;
constexpr int kChannels = 32;
constexpr int kRows = 4000;

// Bytes the program holds on the heap right now (ASan's allocator when the
// build is sanitized, so that its quarantine does not count).
std::size_t HeapInUse() {
#ifdef HARDENING_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

double CpuSeconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The channel every FSOUND_PlaySoundEx handed back, in order.
std::vector<int> startedChannels;

int RecordingPlaySoundEx(int channel, FSOUND_SAMPLE* sample, FSOUND_DSPUNIT* dsp,
                         signed char paused) {
    const int result = FSOUND_PlaySoundEx(channel, sample, dsp, paused);
    startedChannels.push_back(result);
    return result;
}

// Sleeping mixes the frames of the time slept and measures the heap once
// per row start (a tick after each SetVoices, when the row is sounding).
class RenderingClock : public playback::Clock {
public:
    bool StopRequested() override { return false; }
    void SleepMs(unsigned milliseconds) override {
        const int frames = static_cast<int>(milliseconds) * kMixRate / 1000;
        buffer.resize(2 * static_cast<std::size_t>(frames));
        FSOUND_Offline_Render(buffer.data(), frames);
        lastPeak = 0.0f;
        for (float value : buffer) lastPeak = std::max(lastPeak, std::fabs(value));
        if (milliseconds == 5) {
            ++ticks;
            if (ticks == 500) heapAtRow500 = HeapInUse();
            heapPeakAfter500 = std::max(heapPeakAfter500, ticks >= 500 ? HeapInUse() : 0);
            if (ticks == 500) cpuAtRow500 = CpuSeconds();
        }
    }

    std::vector<float> buffer;
    int ticks = 0;
    float lastPeak = 0.0f;
    std::size_t heapAtRow500 = 0, heapPeakAfter500 = 0;
    double cpuAtRow500 = 0.0;
};

TEST(ExtendedNotes, ThousandsOfRowsStayWithin32ChannelsAndFlatMemory) {
    // Rows of one tick, four voices each, pitches walking so that no two
    // neighbouring rows are alike.
    test_support::SongParts song;
    song.title = "Pile";
    song.sections = {{}};
    for (int row = 0; row < kRows; ++row) {
        const int p = 20 + row % 200;
        song.sections[0].push_back(Row(p, p + 1, p + 2, p + 3, 1));
    }
    song.order = {0};
    const test_support::Bytes body = test_support::SongBody(song);
    const songfile::ParseResult parsed = songfile::ParseSong(body.data(), body.size());
    ASSERT_TRUE(parsed.ok());

    playback::SoundLibrary library = playback::FsoundLibrary();
    library.PlaySoundEx = RecordingPlaySoundEx;
    playback::PlaybackSettings settings;
    settings.stopNotesEachRow = false;
    settings.mixRate = kMixRate;
    playback::ToneOutput output = playback::MakeToneOutput(library, settings);

    ASSERT_TRUE(FSOUND_Offline_Enable(1));
    ASSERT_TRUE(playback::Start(output, kMixRate));
    const std::string square = platform::ResolveDataFile("square.wav");
    ASSERT_TRUE(playback::LoadVoiceSamples(output, square.c_str())) << square;
    startedChannels.clear();
    // Reserved now, so that the record itself does not grow the heap.
    startedChannels.reserve(4 * kRows);

    RenderingClock clock;
    playback::SilentPrinter printer;
    const double cpuBefore = CpuSeconds();
    playback::SongPlayer player = playback::MakeSongPlayer(parsed.value);
    EXPECT_EQ(playback::PlaySong(player, output, clock, printer), playback::PlayOutcome::Finished);
    const double cpuSeconds = CpuSeconds() - cpuBefore;
    const double cpuLastRows = CpuSeconds() - clock.cpuAtRow500;
    const float libraryLoad = playback::CpuUsage(output);
    playback::Shutdown(output);
    FSOUND_Offline_Enable(0);

    // Four starts a row, each on a channel of the 32: the first 32 take the
    // unused ones in order, every later one the oldest, which is the one
    // started 32 notes before.
    ASSERT_EQ(startedChannels.size(), static_cast<std::size_t>(4 * kRows));
    for (std::size_t i = 0; i < startedChannels.size(); ++i) {
        ASSERT_EQ(startedChannels[i], static_cast<int>(i % kChannels)) << "note " << i;
    }
    EXPECT_EQ(clock.ticks, kRows);
    // The looped voices still sound through the final wait.
    EXPECT_GT(clock.lastPeak, 0.05f);
    // From row 500 on (long after all 32 channels are busy) the heap stays
    // where it was: 14,000 notes later even a few bytes a note would show.
    EXPECT_LT(clock.heapPeakAfter500, clock.heapAtRow500 + (16u << 10))
        << "heap at row 500: " << clock.heapAtRow500 << " bytes, peak later "
        << clock.heapPeakAfter500;

    const double audioSeconds = kRows * 0.005 + 2.5;
    std::printf("[ figures  ] %d rows, %zu notes on 32 channels: %.2f s CPU for %.1f s of audio "
                "(%.1f%% of real time; rows 500 on: %.2f s), library load %.2f%%, heap %zu -> %zu bytes\n",
                kRows, startedChannels.size(), cpuSeconds, audioSeconds,
                100.0 * cpuSeconds / audioSeconds, cpuLastRows, static_cast<double>(libraryLoad),
                clock.heapAtRow500, clock.heapPeakAfter500);
}

}  // namespace
