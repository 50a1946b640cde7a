// The FSOUND calls heard through offline rendering: pitch, side and level,
// pan law and separation, fades on stop and steal, pause, channel choice,
// one-shots, clipping, timing at the render position, and failing calls.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/fsound/fixtures.h"
#include "fsound.h"
#include "fsound_errors.h"
#include "fsound_offline.h"
#include "fsound_timing.h"

using namespace fsound_test;

namespace {

constexpr int kRate = 32000;
constexpr int kRamp = 32;  // fades and gain changes: 1 ms at 32000 Hz
constexpr double kHalf = 0.5;
constexpr double kNoClick = 1.5 * kHalf / kRamp;  // largest step of a 1 ms fade of +0.5
const double kQuarterPi = std::atan(1.0);

class Offline : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FSOUND_Offline_Enable(1)); }
    void TearDown() override { FSOUND_Close(); }

    std::vector<float> Render(int frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        EXPECT_EQ(FSOUND_Offline_Render(out.data(), frames), frames);
        return out;
    }
    std::vector<float> Left(int frames) { return Side(Render(frames), 0); }

    FSOUND_SAMPLE* Load(const WavSpec& spec) {
        const std::string path = dir.File(std::to_string(files++) + ".wav");
        WriteFile(path, WavBytes(spec));
        FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0);
        EXPECT_NE(sample, nullptr);
        if (sample != nullptr) {
            EXPECT_TRUE(FSOUND_Sample_SetDefaults(sample, kRate, 255, 0, -1));
        }
        return sample;
    }
    // A looped constant (+0.5 by default): a steady level at any rate.
    FSOUND_SAMPLE* Level(std::int16_t value = 16384) { return Load(LevelSpec(32, value)); }

    int Play(FSOUND_SAMPLE* sample, int volume, int pan, int priority = -1) {
        EXPECT_TRUE(FSOUND_Sample_SetDefaults(sample, -1, volume, pan, priority));
        return FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0);
    }

    TempDir dir;
    int files = 0;
};

std::vector<float> From(const std::vector<float>& mono, std::size_t first) {
    return std::vector<float>(mono.begin() + static_cast<long>(first), mono.end());
}

TEST_F(Offline, InitRangesAndEveryCallOutsideAStartedLibraryFailsQuietly) {
    for (auto [rate, channels] : {std::pair{3999, 32}, {65536, 32}, {32000, 0}, {32000, 257}}) {
        EXPECT_FALSE(FSOUND_Init(rate, channels, 0)) << rate << " Hz, " << channels << " channels";
    }
    // Each call fails, and says it is because the library is not started.
    auto expectAllFail = [&](FSOUND_SAMPLE* stale) {
        std::vector<float> buffer(64);
        const auto notStarted = [](const char* call) {
            EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_UNINITIALIZED) << call;
        };
        EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, FENK_SQUARE_WAV, 0x130, 0, 0), nullptr);
        notStarted("Sample_Load");
        EXPECT_FALSE(FSOUND_Sample_SetDefaults(stale, 1000, 1, 2, 3));
        notStarted("Sample_SetDefaults");
        EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, stale, nullptr, 0), -1);
        notStarted("PlaySoundEx");
        EXPECT_FALSE(FSOUND_StopSound(FSOUND_ALL));
        notStarted("StopSound");
        EXPECT_FALSE(FSOUND_SetPan(0, 128));
        notStarted("SetPan");
        EXPECT_FALSE(FSOUND_SetPaused(0, 0));
        notStarted("SetPaused");
        FSOUND_Sample_SetDefaults(nullptr, 1, 1, 1, 1);
        FSOUND_SetPanSeperation(0.5f);
        notStarted("SetPanSeperation");
        EXPECT_FALSE(FSOUND_Timing_SetCallTime(1));
        notStarted("Timing_SetCallTime");
        EXPECT_EQ(FSOUND_GetCPUUsage(), 0.0f);
        EXPECT_EQ(FSOUND_Offline_Render(buffer.data(), 32), 0);
        notStarted("Offline_Render");
        FSOUND_Close();
    };
    expectAllFail(nullptr);
    for (int rate : {4000, 65535}) {
        ASSERT_TRUE(FSOUND_Init(rate, 256, 0)) << rate;
        FSOUND_Close();
    }
    ASSERT_TRUE(FSOUND_Init(kRate, 1, 0));
    FSOUND_SAMPLE* level = Level();
    ASSERT_EQ(Play(level, 255, 0), 0);
    EXPECT_FALSE(FSOUND_Init(8000, 4, 0)) << "already started";
    EXPECT_FALSE(FSOUND_Offline_Enable(0)) << "the output cannot change while started";
    EXPECT_NEAR(Left(100).back(), kHalf, 0.01) << "the failed Init left it playing";
    FSOUND_Close();
    expectAllFail(level);
    // A handle from before Close means nothing to the next start.
    ASSERT_TRUE(FSOUND_Init(kRate, 4, 0));
    EXPECT_FALSE(FSOUND_Sample_SetDefaults(level, 1000, -1, -1, -1));
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 0), -1);
    EXPECT_EQ(MaxAbs(Render(64)), 0.0) << "nothing sounds after Close";
}

TEST_F(Offline, PitchIsTheRateOverTheLoopLength) {
    // square.wav: 32 frames a cycle, so period p sounds 1e6 / (32 p) Hz.
    for (int mixRate : {32000, 8000}) {
        ASSERT_TRUE(FSOUND_Init(mixRate, 32, 0));
        FSOUND_SAMPLE* square = FSOUND_Sample_Load(FSOUND_FREE, FENK_SQUARE_WAV, 0x130, 0, 0);
        ASSERT_NE(square, nullptr);
        for (int period : {3, 7, 13, 29, 61}) {
            const double expected = (1000000 / period) / 32.0;
            if (expected >= mixRate / 2.0) continue;
            FSOUND_StopSound(FSOUND_ALL);
            ASSERT_TRUE(FSOUND_Sample_SetDefaults(square, 1000000 / period, 255, 0, -1));
            ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, square, nullptr, 0), 0);
            const double measured = CyclesPerFrame(From(Left(mixRate / 4), 64)) * mixRate;
            EXPECT_NEAR(measured, expected, expected * 2e-3) << "period " << period << " at " << mixRate;
        }
        FSOUND_Close();
    }
}

TEST_F(Offline, LevelIsVolumeOver255PannedByConstantPowerAndDrawnInBySeparation) {
    ASSERT_TRUE(FSOUND_Init(kRate, 32, 0));
    FSOUND_SAMPLE* level = Level();
    struct Case {
        float separation;
        int pan;
        int volume;
        double left;  // gains on the sample's +0.5
        double right;
    };
    // Positions -1 .. 0 .. +1 for pans 0 .. 128 .. 255, gains sin((1 -/+ x) pi/4).
    const double toward = kQuarterPi * 64 / 127.0;
    for (const Case& c : {Case{1, 0, 63, 63 / 255.0, 0}, Case{1, 255, 255, 0, 1}, Case{1, 0, 255, 1, 0},
                          Case{1, 128, 255, std::sqrt(0.5), std::sqrt(0.5)},
                          Case{1, 64, 255, std::sin(3 * kQuarterPi / 2), std::sin(kQuarterPi / 2)},
                          Case{1, 192, 255, std::sin(kQuarterPi - toward), std::sin(kQuarterPi + toward)},
                          Case{0, 0, 255, std::sqrt(0.5), std::sqrt(0.5)},
                          Case{0.5f, 0, 255, std::sin(3 * kQuarterPi / 2), std::sin(kQuarterPi / 2)},
                          Case{-3, 255, 255, std::sqrt(0.5), std::sqrt(0.5)}, Case{7, 255, 255, 0, 1}}) {
        FSOUND_StopSound(FSOUND_ALL);
        FSOUND_SetPanSeperation(1.0f);
        Render(2 * kRamp);
        ASSERT_GE(Play(level, c.volume, c.pan), 0);
        Render(100);
        // Changed while the channel sounds: it moves there in a ramp.
        FSOUND_SetPanSeperation(c.separation);
        const std::vector<float> out = Render(300);
        const auto left = Side(out, 0), right = Side(out, 1);
        const std::string what = "pan " + std::to_string(c.pan) + " separation " + std::to_string(c.separation);
        EXPECT_NEAR(Rms(From(left, 2 * kRamp)), kHalf * c.left, 3e-3) << what;
        EXPECT_NEAR(Rms(From(right, 2 * kRamp)), kHalf * c.right, 3e-3) << what;
        if (c.right == 0) {
            EXPECT_LT(MaxAbs(right), 1e-6) << what << ": the other side stays silent";
        }
        EXPECT_LT(std::fmax(MaxStep(left), MaxStep(right)), kNoClick) << what;
    }
    // STEREOPAN: full level on both sides, whatever the separation.
    ASSERT_TRUE(FSOUND_SetPan(FSOUND_ALL, FSOUND_STEREOPAN));
    const std::vector<float> out = Render(200);
    EXPECT_NEAR(Rms(Side(out, 0, 100)), kHalf, 3e-3);
    EXPECT_NEAR(Rms(Side(out, 1, 100)), kHalf, 3e-3);
}

TEST_F(Offline, StoppedStolenAndReplacedSoundsFadeOutOverAMillisecond) {
    ASSERT_TRUE(FSOUND_Init(kRate, 1, 0));
    FSOUND_SAMPLE* level = Level();
    FSOUND_SAMPLE* other = Level();
    auto expectFade = [](const std::vector<float>& side, const char* what) {
        EXPECT_GT(side[0], 0.9 * kHalf) << what << ": not a cut";
        EXPECT_GT(side[kRamp / 2], 0.3 * kHalf) << what;
        EXPECT_EQ(MaxAbs(From(side, kRamp)), 0.0) << what << ": silent after 1 ms";
        EXPECT_LT(MaxStep(side), kNoClick) << what;
    };
    ASSERT_EQ(Play(level, 255, 0), 0);
    Render(500);
    ASSERT_TRUE(FSOUND_StopSound(0));
    expectFade(Left(300), "stop");

    ASSERT_EQ(Play(level, 255, 0), 0);
    Render(300);
    ASSERT_EQ(Play(other, 255, 255), 0) << "the only channel is stolen";
    std::vector<float> out = Render(200);
    expectFade(Side(out, 0), "steal");
    EXPECT_NEAR(Side(out, 1)[0], kHalf, 0.01) << "the new note starts at once";

    ASSERT_TRUE(FSOUND_Sample_SetDefaults(level, -1, -1, 0, -1));
    ASSERT_EQ(FSOUND_PlaySoundEx(0, level, nullptr, 0), 0);
    out = Render(200);
    expectFade(Side(out, 1), "replace on a named channel");

    FSOUND_Close();
    ASSERT_TRUE(FSOUND_Init(kRate, 8, 0));
    level = Level();
    for (int pan : {0, 64, 128, 200, 255}) ASSERT_GE(Play(level, 60, pan), 0);
    Render(100);
    ASSERT_TRUE(FSOUND_StopSound(FSOUND_ALL));
    EXPECT_EQ(MaxAbs(From(Render(300), 2 * 2 * kRamp)), 0.0);
    EXPECT_FALSE(FSOUND_StopSound(8));
    EXPECT_FALSE(FSOUND_StopSound(-2));
}

TEST_F(Offline, PausedNotesStaySilentHoldTheirPlaceAndResume) {
    ASSERT_TRUE(FSOUND_Init(kRate, 4, 0));
    FSOUND_SAMPLE* shot = Load(LevelSpec(200, 16384, false));  // a 200-frame one-shot
    int channel = FSOUND_PlaySoundEx(FSOUND_FREE, shot, nullptr, 1);
    ASSERT_GE(channel, 0);
    EXPECT_EQ(MaxAbs(Render(1000)), 0.0) << "started paused";
    ASSERT_TRUE(FSOUND_SetPaused(channel, 0));
    std::vector<float> left = Left(400);
    EXPECT_GT(left[0], 0.3 * kHalf) << "a note not yet heard starts without a fade-in";
    EXPECT_NEAR(Rms(std::vector<float>(left.begin() + 20, left.begin() + 180)), kHalf, 0.01);
    // Its end rings briefly through the band limiting; a note that went on,
    // or started late, would sound at full level here.
    EXPECT_LT(MaxAbs(From(left, 216)), 0.02 * kHalf) << "200 frames from its first";

    FSOUND_SAMPLE* longer = Load(LevelSpec(400, 16384, false));
    channel = FSOUND_PlaySoundEx(FSOUND_FREE, longer, nullptr, 0);
    Render(100);
    ASSERT_TRUE(FSOUND_SetPaused(channel, 1));
    left = Left(300);
    EXPECT_LT(MaxStep(left), kNoClick) << "pausing fades out";
    EXPECT_EQ(MaxAbs(From(left, kRamp)), 0.0);
    ASSERT_TRUE(FSOUND_SetPaused(channel, 0));
    left = Left(500);
    EXPECT_LT(MaxStep(std::vector<float>(left.begin(), left.begin() + 100)), kNoClick) << "resuming fades in";
    long sounding = 0;  // 400 frames less 100 before the pause and 32 fading out
    for (float value : left) sounding += value > 0.01f;
    EXPECT_NEAR(sounding, 400 - 100 - kRamp, 10) << "it went on from where it paused";
    EXPECT_TRUE(FSOUND_SetPaused(FSOUND_ALL, 1));
    EXPECT_FALSE(FSOUND_SetPaused(4, 0));
}

TEST_F(Offline, FreeChannelsFirstThenTheLowestPriorityOldestButNeverAHigherOne) {
    ASSERT_TRUE(FSOUND_Init(kRate, 32, 0));
    FSOUND_SAMPLE* common = Level();
    FSOUND_SAMPLE* minor = Level();
    FSOUND_SAMPLE* least = Level();
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(common, -1, 10, 128, 128));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(minor, -1, 10, 128, 10));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(least, -1, 10, 128, 0));
    for (int expected = 0; expected < 32; ++expected) {
        FSOUND_SAMPLE* sample = (expected == 9 || expected == 5) ? minor : common;
        ASSERT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0), expected);
    }
    Render(100);
    for (int expected : {5, 9, 0, 1}) EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, common, nullptr, 0), expected);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, least, nullptr, 0), -1) << "every channel outranks it";
    EXPECT_EQ(FSOUND_PlaySoundEx(3, least, nullptr, 0), 3) << "a named channel is taken anyway";
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, minor, nullptr, 0), 3);
    ASSERT_TRUE(FSOUND_StopSound(17));
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, least, nullptr, 0), 17) << "a stopped channel is free at once";
    for (int bad : {32, -2}) EXPECT_EQ(FSOUND_PlaySoundEx(bad, common, nullptr, 0), -1);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, nullptr, nullptr, 0), -1);
    const std::vector<float> out = Render(200);
    EXPECT_NEAR(Side(out, 0).back() + Side(out, 1).back(), 32 * 2 * std::sqrt(0.5) * kHalf * 10 / 255, 5e-3)
        << "thirty-two notes heard";
}

TEST_F(Offline, AOneShotThatHasPlayedOutFreesItsChannel) {
    ASSERT_TRUE(FSOUND_Init(kRate, 2, 0));
    FSOUND_SAMPLE* shot = Load(LevelSpec(100, 16384, false));
    FSOUND_SAMPLE* looped = Level();
    ASSERT_EQ(Play(shot, 255, 0, 255), 0);
    ASSERT_EQ(Play(looped, 255, 255, 0), 1);
    Render(50);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, looped, nullptr, 0), 1) << "channel 0 still sounds, 1 ranks lower";
    const std::vector<float> left = Left(1000);
    EXPECT_NEAR(Rms(std::vector<float>(left.begin(), left.begin() + 30)), kHalf, 0.01);
    EXPECT_LT(MaxAbs(From(left, 66)), 0.02 * kHalf) << "100 frames, then nothing";
    EXPECT_FALSE(FSOUND_SetPan(0, 128)) << "nothing left on channel 0";
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, looped, nullptr, 0), 0) << "the played-out channel is free";
}

TEST_F(Offline, CallsTakeEffectAtTheRenderPositionFrameForFrame) {
    ASSERT_TRUE(FSOUND_Init(kRate, 32, 0));
    FSOUND_SAMPLE* level = Level();
    // Rows of 1, 2, 5, 10 and 37 ticks of 5 ms (160 frames), made as the
    // player makes them, alternately left and right.
    const int ticks[] = {1, 2, 5, 10, 37, 1};
    std::vector<float> out;
    for (int row = 0; row < 6; ++row) {
        FSOUND_StopSound(FSOUND_ALL);
        const int channel = FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 1);
        FSOUND_SetPan(channel, row % 2 == 0 ? 0 : 255);
        FSOUND_SetPaused(channel, 0);
        for (int tick = 0; tick < ticks[row]; ++tick) {
            const std::vector<float> block = Render(160);
            out.insert(out.end(), block.begin(), block.end());
        }
    }
    long start = 0, previous = 0;
    for (int row = 0; row < 6; ++row) {
        // Searched from where the same side's previous row has faded out.
        const auto from = static_cast<std::size_t>(row == 0 ? 0 : previous + kRamp);
        EXPECT_EQ(FirstAbove(Side(out, row % 2), 0.1, from), start) << "row " << row;
        previous = start;
        start += ticks[row] * 160;
    }
}

TEST_F(Offline, TheMixIsClippedNeverWrappedAndItsCostMeasured) {
    ASSERT_TRUE(FSOUND_Init(kRate, 32, 0));
    EXPECT_EQ(FSOUND_GetCPUUsage(), 0.0f);
    FSOUND_SAMPLE* high = Level(29491);  // +0.9
    FSOUND_SAMPLE* low = Level(-29491);
    for (int voice = 0; voice < 16; ++voice) ASSERT_GE(Play(voice % 2 ? low : high, 255, voice % 2 ? 255 : 0), 0);
    for (int block = 0; block < 100; ++block) {
        const std::vector<float> out = Render(320);
        for (float value : Side(out, 0)) ASSERT_EQ(value, 1.0f);
        for (float value : Side(out, 1)) ASSERT_EQ(value, -1.0f);
    }
    const float usage = FSOUND_GetCPUUsage();
    std::printf("CPU usage mixing 16 voices offline: %.4f %%\n", usage);
    EXPECT_GT(usage, 0.0f);
    EXPECT_LE(usage, 100.0f);
}

TEST_F(Offline, SetDefaultsAndSetPanRefuseValuesOutOfRangeAndChangeNothing) {
    ASSERT_TRUE(FSOUND_Init(kRate, 4, 0));
    FSOUND_SAMPLE* level = Level();
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(level, kRate, 51, 0, 7));
    for (const auto& bad : std::vector<std::vector<int>>{{0, -1, -1, -1}, {-2, -1, -1, -1},
                                                         {10000001, -1, -1, -1}, {-1, 256, -1, -1},
                                                         {-1, -1, 256, -1}, {-1, -1, -1, 256},
                                                         {-1, -1, -1, -5}, {-1, 300, 255, -1}}) {
        EXPECT_FALSE(FSOUND_Sample_SetDefaults(level, bad[0], bad[1], bad[2], bad[3]));
    }
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM);
    EXPECT_FALSE(FSOUND_Sample_SetDefaults(nullptr, 1000, 1, 1, 1));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(level, -1, -1, -1, -1));
    ASSERT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 0), 0);
    EXPECT_FALSE(FSOUND_SetPan(1, 255)) << "never used";
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM);
    for (int bad : {256, -2}) EXPECT_FALSE(FSOUND_SetPan(0, bad));
    EXPECT_FALSE(FSOUND_SetPan(4, 255));
    EXPECT_EQ(FSOUND_PlaySoundEx(7, level, nullptr, 0), -1);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM);
    const std::vector<float> out = Render(200);
    EXPECT_NEAR(Rms(Side(out, 0)), kHalf * 51 / 255, 1e-3) << "volume and pan as first set";
    EXPECT_LT(MaxAbs(Side(out, 1)), 1e-6);
}

}  // namespace
