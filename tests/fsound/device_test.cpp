// The device path through SDL's "disk" driver, which writes what it is
// given to a file: Init opens and Close shuts SDL's audio, the sound lands
// at the right pitch, and rows whose calls are given the moments they were
// meant for last their length to the frame, however late the calls come.
#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "tests/fsound/fixtures.h"
#include "fsound.h"
#include "fsound_offline.h"
#include "fsound_timing.h"

using namespace fsound_test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 32000;

std::vector<float> AsFloats(const std::vector<unsigned char>& bytes) {
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

class Device : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FSOUND_Offline_Enable(0));
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    }
    void TearDown() override { FSOUND_Close(); }

    TempDir dir;
    std::string capture = dir.File("capture.raw");
};

TEST_F(Device, InitOpensSdlAudioAndCloseShutsItWithNoDeviceNothingStaysOpen) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(FSOUND_Init(kRate, 32, 0));
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, FENK_SQUARE_WAV, 0x130, 0, 0), nullptr) << "not started";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    ASSERT_TRUE(FSOUND_Init(kRate, 32, 0));
    EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    FSOUND_Close();
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

TEST_F(Device, TheSquareSoundsAtItsRateOverThirtyTwo) {
    ASSERT_TRUE(FSOUND_Init(kRate, 32, 0));
    FSOUND_SAMPLE* square = FSOUND_Sample_Load(FSOUND_FREE, FENK_SQUARE_WAV, 0x130, 0, 0);
    ASSERT_NE(square, nullptr);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(square, 1000000 / 50, 255, 0, -1));  // 625 Hz
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, square, nullptr, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const float usage = FSOUND_GetCPUUsage();
    FSOUND_Close();
    std::printf("CPU usage, one voice on the disk driver: %.4f %%\n", usage);
    EXPECT_GT(usage, 0.0f);
    EXPECT_LE(usage, 100.0f);

    const std::vector<float> samples = AsFloats(ReadFile(capture));
    const std::vector<float> left = Side(samples, 0);
    const long onset = FirstAbove(left, 0.1);
    ASSERT_GE(onset, 0) << "nothing sounded in " << left.size() << " frames";
    ASSERT_GT(left.size(), static_cast<std::size_t>(onset) + kRate / 5) << "at least 200 ms of it";
    const std::vector<float> tone(left.begin() + onset + 64, left.end());
    EXPECT_NEAR(CyclesPerFrame(tone) * kRate, 625.0, 625.0 * 2e-3);
    EXPECT_NEAR(Rms(tone), 0.5, 0.02) << "a square of +-0.5, hard left at full volume";
    EXPECT_LT(MaxAbs(Side(samples, 1)), 1e-6);
}

// Plays the sound card for the disk driver: reads its output from a FIFO at
// exactly `rate` frames per second of the monotonic clock, so the frames are
// a timeline of known pace. (The driver's own pacing, a sleep of a whole
// number of milliseconds per block, runs several percent slow and wanders on
// a busy machine; with SDL_DISKAUDIODELAY=0 it waits only on the FIFO, as a
// driver waits on a sound card. It writes 4096 bytes at a time (its stdio
// buffer), so the callbacks follow the reader's 4 ms reads in steps.)
struct PacedReader {
    void Start(const std::string& path, int rate) {
        thread = std::thread([this, path, rate] {
            const int descriptor = open(path.c_str(), O_RDONLY);  // meets the driver's open
            if (descriptor < 0) return;
            fcntl(descriptor, F_SETPIPE_SZ, 4096);
            const auto period = std::chrono::nanoseconds(1000000000LL * 128 / rate);
            const auto start = Clock::now();
            std::vector<unsigned char> chunk(128 * 2 * sizeof(float));
            for (long reads = 1;; ++reads) {
                std::this_thread::sleep_until(start + reads * period);
                for (std::size_t got = 0; got < chunk.size();) {
                    const ssize_t count = read(descriptor, chunk.data() + got, chunk.size() - got);
                    if (count <= 0) {
                        close(descriptor);
                        return;
                    }
                    data.insert(data.end(), chunk.data() + got, chunk.data() + got + count);
                    got += static_cast<std::size_t>(count);
                }
            }
        });
    }
    std::vector<float> Finish() {
        if (thread.joinable()) thread.join();
        return AsFloats(data);
    }
    std::thread thread;
    std::vector<unsigned char> data;
};

// Plays rows of 1 to 37 ticks of 5 ms with calls given the moment each row
// was meant to start, made up to `latestWakeMs` late at random, and
// returns each row's length in the output, in frames. With `busyCores`,
// that many threads keep the machine's cores busy meanwhile.
std::vector<long> RowLengthsInFrames(const std::string& capture, const std::string& samplePath,
                                     const std::vector<int>& ticks, int latestWakeMs, int busyCores) {
    std::vector<long> lengths;
    PacedReader card;
    card.Start(capture, kRate);
    if (!FSOUND_Init(kRate, 32, 0)) {
        close(open(capture.c_str(), O_WRONLY));  // let the reader's open return
        card.Finish();
        ADD_FAILURE() << "Init failed";
        return lengths;
    }
    FSOUND_SAMPLE* level = FSOUND_Sample_Load(FSOUND_FREE, samplePath.c_str(), FSOUND_16BITS | FSOUND_MONO, 0, 0);
    EXPECT_NE(level, nullptr);
    EXPECT_TRUE(FSOUND_Sample_SetDefaults(level, kRate, 255, 128, -1));
    std::atomic<bool> busy{true};
    std::vector<std::thread> load;
    for (int core = 0; core < busyCores; ++core) {
        load.emplace_back([&busy] {
            volatile std::uint64_t spin = 0;
            while (busy.load(std::memory_order_relaxed)) ++spin;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the clock settles

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> lateness(0, latestWakeMs * 1000);
    // The library's moments are on the monotonic clock, steady_clock's here.
    std::int64_t start =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count() + 20000000;
    for (std::size_t row = 0; row < ticks.size(); ++row) {
        // Woken late, as a busy machine wakes a sleeper.
        std::this_thread::sleep_until(Clock::time_point(std::chrono::nanoseconds(start)) +
                                      std::chrono::microseconds(lateness(random)));
        EXPECT_TRUE(FSOUND_Timing_SetCallTime(start));
        FSOUND_StopSound(FSOUND_ALL);
        // Alternately left and right, so that each onset is found on a side
        // where the row before is not fading out.
        const int channel = FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 1);
        FSOUND_SetPan(channel, row % 2 == 0 ? 0 : 255);
        FSOUND_SetPaused(channel, 0);
        FSOUND_Timing_SetCallTime(0);
        start += 5000000LL * ticks[row];
    }
    // The last call is heard a latency (80 ms) and the pipe's length later.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    busy = false;
    for (std::thread& thread : load) thread.join();
    FSOUND_Close();
    const std::vector<float> samples = card.Finish();

    std::vector<long> onsets;
    for (std::size_t row = 0; row < ticks.size(); ++row) {
        const std::size_t from = row == 0 ? 0 : static_cast<std::size_t>(onsets.back()) + 40;
        onsets.push_back(FirstAbove(Side(samples, static_cast<int>(row % 2)), 0.1, from));
        if (onsets.back() < 0) {
            ADD_FAILURE() << "row " << row << " not found in " << samples.size() / 2 << " frames";
            return lengths;
        }
        if (row > 0) lengths.push_back(onsets[row] - onsets[row - 1]);
    }
    return lengths;
}

// Each row lasts its ticks to the frame (160 frames a tick at 32000 Hz),
// however late the calls of each row were made, on a quiet and on a busy
// machine.
TEST_F(Device, RowsMeantForAMomentLastTheirTicksToTheFrameHoweverLateTheirCallsCome) {
    ASSERT_EQ(mkfifo(capture.c_str(), 0600), 0);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    const std::string path = dir.File("level.wav");
    WriteFile(path, WavBytes(LevelSpec(32)));  // a looped constant: its onset is one frame
    std::vector<int> ticks;
    for (int round = 0; round < 3; ++round) ticks.insert(ticks.end(), {1, 2, 5, 10, 37, 3});
    ticks.push_back(10);
    const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    for (const int busyCores : {0, static_cast<int>(cores)}) {
        SCOPED_TRACE(busyCores == 0 ? "quiet" : "every core busy");
        unlink(capture.c_str());
        ASSERT_EQ(mkfifo(capture.c_str(), 0600), 0);
        const std::vector<long> lengths = RowLengthsInFrames(capture, path, ticks, 20, busyCores);
        ASSERT_EQ(lengths.size(), ticks.size() - 1);
        long worst = 0;
        for (std::size_t row = 0; row < lengths.size(); ++row) {
            const long error = lengths[row] - 160L * ticks[row];
            if (std::labs(error) > std::labs(worst)) worst = error;
            EXPECT_LE(std::labs(error), 1) << "row " << row << " of " << ticks[row] << " ticks";
        }
        std::printf("%s: worst row-length error %ld frames (%.3f ms) over %zu rows\n",
                    busyCores == 0 ? "quiet" : "busy", worst, worst * 1e3 / kRate, lengths.size());
    }
}

}  // namespace
