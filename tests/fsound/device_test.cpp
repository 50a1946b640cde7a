// The device path through SDL's "disk" driver, which writes what it is
// given to a file: Init opens and Close shuts SDL's audio, the sound lands
// at the right pitch, and rows made at wall-clock moments last in the
// output as long as the time between their calls.
#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "fixtures.h"
#include "fsound.h"
#include "fsound_offline.h"

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

TEST_F(Device, EveryRowLastsAsLongAsTheTimeBetweenItsCalls) {
    ASSERT_EQ(mkfifo(capture.c_str(), 0600), 0);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    PacedReader card;
    card.Start(capture, kRate);
    if (!FSOUND_Init(kRate, 32, 0)) {
        close(open(capture.c_str(), O_WRONLY));  // let the reader's open return
        card.Finish();
        FAIL() << "Init failed";
    }
    const std::string path = dir.File("level.wav");
    WriteFile(path, WavBytes(LevelSpec(32)));  // a looped constant: its onset is one frame
    FSOUND_SAMPLE* level = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0);
    ASSERT_NE(level, nullptr);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(level, kRate, 255, 128, -1));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the clock locks

    // Rows of 1, 2, 5, 10 and 37 ticks of 5 ms, three times over, then one
    // to end the last; alternately left and right, so that each onset is
    // found on a side where the row before is not fading out.
    std::vector<int> ticks;
    for (int round = 0; round < 3; ++round) ticks.insert(ticks.end(), {1, 2, 5, 10, 37});
    ticks.push_back(10);
    std::vector<Clock::time_point> made;
    Clock::time_point next = Clock::now();
    for (std::size_t row = 0; row < ticks.size(); ++row) {
        std::this_thread::sleep_until(next);
        FSOUND_StopSound(FSOUND_ALL);
        const int channel = FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 1);
        FSOUND_SetPan(channel, row % 2 == 0 ? 0 : 255);
        made.push_back(Clock::now());  // the call that is heard comes next
        FSOUND_SetPaused(channel, 0);
        next += std::chrono::milliseconds(5 * ticks[row]);
    }
    // The last call is heard a latency (six blocks) and the pipe's length later.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FSOUND_Close();
    const std::vector<float> samples = card.Finish();

    std::vector<long> onsets;
    for (std::size_t row = 0; row < ticks.size(); ++row) {
        const std::size_t from = row == 0 ? 0 : static_cast<std::size_t>(onsets.back()) + 40;
        onsets.push_back(FirstAbove(Side(samples, static_cast<int>(row % 2)), 0.1, from));
        ASSERT_GE(onsets.back(), 0) << "row " << row << " not found in " << samples.size() / 2 << " frames";
    }
    double worstMs = 0.0;
    for (std::size_t row = 0; row + 1 < ticks.size(); ++row) {
        const double callsMs = std::chrono::duration<double, std::milli>(made[row + 1] - made[row]).count();
        const double soundMs = (onsets[row + 1] - onsets[row]) * 1e3 / kRate;
        worstMs = std::fmax(worstMs, std::fabs(soundMs - callsMs));
        EXPECT_NEAR(soundMs, callsMs, 1.0) << "row " << row << " of " << ticks[row] << " ticks";
    }
    std::printf("worst row-length error %.3f ms over %zu rows\n", worstMs, ticks.size() - 1);
}

}  // namespace
