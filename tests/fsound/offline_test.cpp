// The FSOUND calls heard through offline rendering: pitch, side and level,
// pan law and separation, stop and steal fades, pause, channel choice,
// one-shots, clipping, timing at the render position, and the calls'
// failures.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fixtures.h"
#include "fsound.h"
#include "fsound_offline.h"

using namespace fsound_test;

namespace {

constexpr int kRate = 32000;
constexpr int kRamp = 32;          // fade length at 32000 Hz: 1 ms
constexpr double kHalf = 16384.0 / 32768.0;
const double kCentre = std::sqrt(0.5);

class Offline : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FSOUND_Offline_Enable(1)); }
    void TearDown() override { FSOUND_Close(); }

    void Start(int rate = kRate, int channels = 32) { ASSERT_TRUE(FSOUND_Init(rate, channels, 0)); }

    std::vector<float> Render(int frames) {
        std::vector<float> out(2 * static_cast<std::size_t>(frames));
        EXPECT_EQ(FSOUND_Offline_Render(out.data(), frames), frames);
        return out;
    }

    FSOUND_SAMPLE* Load(const WavSpec& spec, unsigned int mode = 0x130) {
        const std::string path = dir.File("s" + std::to_string(files++) + ".wav");
        WriteFile(path, WavBytes(spec));
        return FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), mode, 0, 0);
    }

    // A looped constant +0.5 (or `value`): every rate gives a steady level.
    FSOUND_SAMPLE* LoadLevel(std::int16_t value = 16384) {
        WavSpec spec;
        spec.frames = Constant(32, value);
        spec.loopLastFrame = 31;
        FSOUND_SAMPLE* sample = Load(spec);
        EXPECT_NE(sample, nullptr);
        if (sample) {
            EXPECT_TRUE(FSOUND_Sample_SetDefaults(sample, kRate, 255, 128, 128));
        }
        return sample;
    }

    // Starts `sample` at volume and pan, returns the channel.
    int Play(FSOUND_SAMPLE* sample, int volume, int pan) {
        EXPECT_TRUE(FSOUND_Sample_SetDefaults(sample, -1, volume, pan, -1));
        return FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0);
    }

    TempDir dir;
    int files = 0;
};

TEST_F(Offline, InitAcceptsOnlyRatesAndChannelCountsInRange) {
    EXPECT_FALSE(FSOUND_Init(3999, 32, 0));
    EXPECT_FALSE(FSOUND_Init(65536, 32, 0));
    EXPECT_FALSE(FSOUND_Init(32000, 0, 0));
    EXPECT_FALSE(FSOUND_Init(32000, 257, 0));
    EXPECT_EQ(FSOUND_Offline_Render(std::vector<float>(2).data(), 1), 0) << "a failed Init starts nothing";
    for (int rate : {4000, 8000, 65535}) {
        ASSERT_TRUE(FSOUND_Init(rate, 256, 0)) << rate;
        FSOUND_Close();
    }
    ASSERT_TRUE(FSOUND_Init(32000, 1, 0));
}

TEST_F(Offline, SecondInitFailsAndLeavesTheLibraryPlaying) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    ASSERT_GE(Play(level, 255, 0), 0);
    EXPECT_FALSE(FSOUND_Init(8000, 4, 0));
    EXPECT_FALSE(FSOUND_Offline_Enable(0)) << "the output cannot change while started";
    const std::vector<float> out = Render(100);
    EXPECT_NEAR(Side(out, 0).back(), kHalf, 0.01);
}

TEST_F(Offline, CallsBeforeInitAndAfterCloseFailQuietly) {
    const std::string path = dir.File("level.wav");
    WavSpec spec;
    spec.frames = Constant(32, 16384);
    WriteFile(path, WavBytes(spec));
    std::vector<float> buffer(64);

    auto expectAllFail = [&](FSOUND_SAMPLE* stale) {
        EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0), nullptr);
        EXPECT_FALSE(FSOUND_Sample_SetDefaults(stale, 1000, 1, 2, 3));
        EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, stale, nullptr, 0), -1);
        EXPECT_FALSE(FSOUND_StopSound(FSOUND_ALL));
        EXPECT_FALSE(FSOUND_StopSound(0));
        EXPECT_FALSE(FSOUND_SetPan(0, 128));
        EXPECT_FALSE(FSOUND_SetPaused(0, 0));
        FSOUND_SetPanSeperation(0.5f);
        EXPECT_EQ(FSOUND_GetCPUUsage(), 0.0f);
        EXPECT_EQ(FSOUND_Offline_Render(buffer.data(), 32), 0);
        EXPECT_EQ(FSOUND_Offline_DecodedFileCount(), 0);
        FSOUND_Close();
    };
    expectAllFail(nullptr);

    Start();
    FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), 0x130, 0, 0);
    ASSERT_NE(sample, nullptr);
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0), 0);
    Render(64);
    FSOUND_Close();
    expectAllFail(sample);

    // A handle from before Close means nothing to the next start.
    Start();
    EXPECT_FALSE(FSOUND_Sample_SetDefaults(sample, 1000, -1, -1, -1));
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0), -1);
    const std::vector<float> out = Render(64);
    EXPECT_EQ(MaxAbs(out), 0.0) << "nothing sounds after Close";
}

TEST_F(Offline, PitchIsTheRateOverTheLoopLength) {
    // square.wav: 32 frames per cycle, so period p sounds 1e6 / (32 p) Hz.
    for (int mixRate : {32000, 8000}) {
        Start(mixRate);
        FSOUND_SAMPLE* square = FSOUND_Sample_Load(FSOUND_FREE, FENK_SQUARE_WAV, 0x130, 0, 0);
        ASSERT_NE(square, nullptr);
        for (int period : {3, 7, 13, 29, 61}) {
            const double frequency = 1e6 / (32.0 * period);
            if (frequency >= mixRate / 2.0) continue;
            FSOUND_StopSound(FSOUND_ALL);
            ASSERT_TRUE(FSOUND_Sample_SetDefaults(square, 1000000 / period, 255, 0, -1));
            ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, square, nullptr, 0), 0);
            const std::vector<float> left = Side(Render(mixRate / 4), 0, 64);
            const double measured = CyclesPerFrame(left) * mixRate;
            const double expected = (1000000 / period) / 32.0;
            EXPECT_NEAR(measured, expected, expected * 2e-3) << "period " << period << " at " << mixRate;
        }
        FSOUND_Close();
    }
}

TEST_F(Offline, HardPanGivesVolumeOver255OfTheSampleOnItsSideOnly) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    for (int pan : {0, 255}) {
        for (int volume : {63, 255}) {
            FSOUND_StopSound(FSOUND_ALL);
            Render(2 * kRamp);
            ASSERT_GE(Play(level, volume, pan), 0);
            const std::vector<float> out = Render(400);
            const int side = pan == 0 ? 0 : 1;
            const std::vector<float> own = Side(out, side, 100);
            EXPECT_NEAR(Rms(own), kHalf * volume / 255.0, 5e-3 * kHalf) << "pan " << pan << " volume " << volume;
            EXPECT_LT(MaxAbs(Side(out, 1 - side)), 1e-6) << "the other side stays silent";
        }
    }
}

TEST_F(Offline, PanLawIsConstantPowerWithTheCentreAt128) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    struct Case {
        int pan;
        double left;
        double right;
    };
    // position -1 .. 0 .. +1 for 0 .. 128 .. 255; gains sin((1 -/+ x) pi/4)
    const double pi = std::acos(-1.0);
    for (const Case& c : {Case{128, kCentre, kCentre}, Case{64, std::sin(3 * pi / 8), std::sin(pi / 8)},
                          Case{192, std::sin(pi / 4 - pi / 4 * 64 / 127.0), std::sin(pi / 4 + pi / 4 * 64 / 127.0)}}) {
        FSOUND_StopSound(FSOUND_ALL);
        Render(2 * kRamp);
        ASSERT_GE(Play(level, 255, c.pan), 0);
        const std::vector<float> out = Render(300);
        const double left = Rms(Side(out, 0, 100));
        const double right = Rms(Side(out, 1, 100));
        EXPECT_NEAR(left, kHalf * c.left, 5e-3 * kHalf) << "pan " << c.pan;
        EXPECT_NEAR(right, kHalf * c.right, 5e-3 * kHalf) << "pan " << c.pan;
        EXPECT_NEAR(left * left + right * right, kHalf * kHalf, 1e-2 * kHalf * kHalf) << "pan " << c.pan;
    }
}

TEST_F(Offline, SeparationDrawsEveryPanTowardTheCentre) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    ASSERT_GE(Play(level, 255, 0), 0);
    const double pi = std::acos(-1.0);
    struct Case {
        float separation;
        double left;
        double right;
    };
    // Changed while the channel sounds: it moves there (within a fade).
    for (const Case& c : {Case{0.0f, kCentre, kCentre}, Case{0.5f, std::sin(3 * pi / 8), std::sin(pi / 8)},
                          Case{1.0f, 1.0, 0.0}, Case{-3.0f, kCentre, kCentre}, Case{7.0f, 1.0, 0.0}}) {
        FSOUND_SetPanSeperation(c.separation);
        const std::vector<float> out = Render(200);
        EXPECT_NEAR(Rms(Side(out, 0, 2 * kRamp)), kHalf * c.left, 3e-3) << c.separation;
        EXPECT_NEAR(Rms(Side(out, 1, 2 * kRamp)), kHalf * c.right, 3e-3) << c.separation;
        EXPECT_LT(MaxStep(Side(out, 0)), 0.05 * kHalf) << "the move is a ramp, not a step";
    }
    // STEREOPAN: full level on both sides, whatever the separation.
    FSOUND_SetPanSeperation(0.0f);
    ASSERT_TRUE(FSOUND_SetPan(0, FSOUND_STEREOPAN));
    const std::vector<float> out = Render(200);
    EXPECT_NEAR(Rms(Side(out, 0, 100)), kHalf, 2e-3);
    EXPECT_NEAR(Rms(Side(out, 1, 100)), kHalf, 2e-3);
}

TEST_F(Offline, StopFadesOutOverAMillisecondWithoutAClick) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    const int channel = Play(level, 255, 0);
    ASSERT_GE(channel, 0);
    Render(500);
    ASSERT_TRUE(FSOUND_StopSound(channel));
    const std::vector<float> left = Side(Render(300), 0);
    EXPECT_GT(left[0], 0.9 * kHalf) << "the stop is not a cut";
    EXPECT_GT(left[kRamp / 2], 0.3 * kHalf);
    EXPECT_EQ(MaxAbs(std::vector<float>(left.begin() + kRamp, left.end())), 0.0) << "silent after 1 ms";
    EXPECT_LT(MaxStep(left), 1.5 * kHalf / kRamp);

    // FSOUND_ALL stops every channel.
    for (int pan : {0, 64, 128, 200, 255}) ASSERT_GE(Play(level, 60, pan), 0);
    EXPECT_GT(MaxAbs(Render(100)), 0.1);
    ASSERT_TRUE(FSOUND_StopSound(FSOUND_ALL));
    const std::vector<float> out = Render(300);
    EXPECT_EQ(MaxAbs(std::vector<float>(out.begin() + 2 * kRamp, out.end())), 0.0);
    EXPECT_FALSE(FSOUND_StopSound(32));
    EXPECT_FALSE(FSOUND_StopSound(-2));
}

TEST_F(Offline, PausedStartStaysSilentUntilResumedThenPlaysFromTheStart) {
    Start();
    WavSpec spec;  // a one-shot of 200 frames at the output rate
    spec.frames = Constant(200, 16384);
    FSOUND_SAMPLE* shot = Load(spec);
    ASSERT_NE(shot, nullptr);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(shot, kRate, 255, 0, -1));
    const int channel = FSOUND_PlaySoundEx(FSOUND_FREE, shot, nullptr, 1);
    ASSERT_GE(channel, 0);
    EXPECT_EQ(MaxAbs(Render(1000)), 0.0);
    ASSERT_TRUE(FSOUND_SetPaused(channel, 0));
    const std::vector<float> left = Side(Render(400), 0);
    EXPECT_GT(left[0], 0.3 * kHalf) << "a note not yet heard starts without a fade-in";
    EXPECT_NEAR(Rms(std::vector<float>(left.begin() + 20, left.begin() + 180)), kHalf, 0.01);
    // A one-shot's end rings briefly through the band limiting; a note that
    // went on, or started late, would sound at full level here.
    EXPECT_LT(MaxAbs(std::vector<float>(left.begin() + 216, left.end())), 0.02 * kHalf)
        << "200 frames from the first: the pause held the start";
}

TEST_F(Offline, PauseFadesOutHoldsThePlaceAndResumes) {
    Start();
    WavSpec spec;
    spec.frames = Constant(400, 16384);
    FSOUND_SAMPLE* shot = Load(spec);
    ASSERT_NE(shot, nullptr);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(shot, kRate, 255, 0, -1));
    const int channel = FSOUND_PlaySoundEx(FSOUND_FREE, shot, nullptr, 0);
    std::vector<float> heard = Side(Render(100), 0);
    ASSERT_TRUE(FSOUND_SetPaused(channel, 1));
    const std::vector<float> paused = Side(Render(300), 0);
    EXPECT_LT(MaxStep(paused), 1.5 * kHalf / kRamp);
    EXPECT_EQ(MaxAbs(std::vector<float>(paused.begin() + kRamp, paused.end())), 0.0);
    ASSERT_TRUE(FSOUND_SetPaused(channel, 0));
    const std::vector<float> resumed = Side(Render(500), 0);
    EXPECT_LT(MaxStep(std::vector<float>(resumed.begin(), resumed.begin() + 100)), 1.5 * kHalf / kRamp)
        << "resuming a heard note ramps up";
    // 100 frames, a 32-frame fade, then the rest of the 400: the place held.
    long sounding = 0;
    for (float value : resumed) sounding += value > 0.01f;
    EXPECT_NEAR(sounding, 400 - 100 - kRamp, 10);
    EXPECT_TRUE(FSOUND_SetPaused(FSOUND_ALL, 1));
    EXPECT_FALSE(FSOUND_SetPaused(32, 0));
}

TEST_F(Offline, AllBusyStealsTheLowestPriorityOldestFirstButNeverAHigherOne) {
    Start(kRate, 32);
    FSOUND_SAMPLE* common = LoadLevel();
    FSOUND_SAMPLE* minor = LoadLevel();
    FSOUND_SAMPLE* least = LoadLevel();
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(common, -1, 10, -1, 128));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(minor, -1, 10, -1, 10));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(least, -1, 10, -1, 0));
    for (int expected = 0; expected < 32; ++expected) {
        FSOUND_SAMPLE* sample = (expected == 9 || expected == 5) ? minor : common;
        ASSERT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, sample, nullptr, 0), expected);
    }
    Render(100);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, common, nullptr, 0), 5);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, common, nullptr, 0), 9);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, common, nullptr, 0), 0) << "then the oldest";
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, common, nullptr, 0), 1);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, least, nullptr, 0), -1) << "every channel outranks it";
    // An explicit channel replaces what plays there; bad numbers fail.
    EXPECT_EQ(FSOUND_PlaySoundEx(3, least, nullptr, 0), 3);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, minor, nullptr, 0), 3);
    EXPECT_EQ(FSOUND_PlaySoundEx(32, common, nullptr, 0), -1);
    EXPECT_EQ(FSOUND_PlaySoundEx(-2, common, nullptr, 0), -1);
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, nullptr, nullptr, 0), -1);
    // A stopped channel is free at once.
    ASSERT_TRUE(FSOUND_StopSound(17));
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, least, nullptr, 0), 17);
    // Thirty-two notes of 10/255 at +0.5: the sum is heard.
    const std::vector<float> out = Render(200);
    EXPECT_NEAR(Side(out, 0).back() + Side(out, 1).back(), 32 * 2 * kCentre * kHalf * 10 / 255.0, 5e-3);
}

TEST_F(Offline, StolenAndReplacedChannelsFadeOut) {
    Start(kRate, 1);
    FSOUND_SAMPLE* leftLevel = LoadLevel();
    FSOUND_SAMPLE* rightLevel = LoadLevel();
    ASSERT_EQ(Play(leftLevel, 255, 0), 0);
    Render(300);
    ASSERT_EQ(Play(rightLevel, 255, 255), 0) << "the only channel is stolen";
    std::vector<float> out = Render(200);
    EXPECT_GT(Side(out, 0)[0], 0.9 * kHalf);
    EXPECT_LT(MaxStep(Side(out, 0)), 1.5 * kHalf / kRamp);
    EXPECT_EQ(MaxAbs(Side(out, 0, kRamp)), 0.0);
    EXPECT_NEAR(Side(out, 1)[0], kHalf, 0.01) << "the new note starts at once";

    ASSERT_TRUE(FSOUND_Sample_SetDefaults(leftLevel, -1, -1, 0, -1));
    ASSERT_EQ(FSOUND_PlaySoundEx(0, leftLevel, nullptr, 0), 0);
    out = Render(200);
    EXPECT_LT(MaxStep(Side(out, 1)), 1.5 * kHalf / kRamp);
    EXPECT_EQ(MaxAbs(Side(out, 1, kRamp)), 0.0);
    EXPECT_NEAR(Rms(Side(out, 0, kRamp)), kHalf, 0.01);
}

TEST_F(Offline, AOneShotEndsAndFreesItsChannel) {
    Start(kRate, 2);
    WavSpec spec;
    spec.frames = Constant(100, 16384);
    FSOUND_SAMPLE* shot = Load(spec);
    FSOUND_SAMPLE* looped = LoadLevel();
    ASSERT_NE(shot, nullptr);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(shot, kRate, 255, 0, 255));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(looped, kRate, 255, 255, 0));
    ASSERT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, shot, nullptr, 0), 0);
    ASSERT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, looped, nullptr, 0), 1);
    Render(50);
    // Still sounding: the low-priority loop on 1 is taken, not channel 0.
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, looped, nullptr, 0), 1);
    const std::vector<float> left = Side(Render(1000), 0);
    EXPECT_NEAR(Rms(std::vector<float>(left.begin(), left.begin() + 30)), kHalf, 0.01);
    EXPECT_LT(MaxAbs(std::vector<float>(left.begin() + 66, left.end())), 0.02 * kHalf) << "100 frames, then nothing";
    EXPECT_FALSE(FSOUND_SetPan(0, 128)) << "nothing left on channel 0";
    EXPECT_EQ(FSOUND_PlaySoundEx(FSOUND_FREE, looped, nullptr, 0), 0) << "the played-out channel is free";
}

TEST_F(Offline, CallsTakeEffectAtTheRenderPositionFrameForFrame) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    // Rows of 1, 2, 5, 10 and 37 ticks of 5 ms (160 frames), alternately on
    // the left and the right, made as the player makes them.
    const int ticks[] = {1, 2, 5, 10, 37, 1};
    std::vector<float> out;
    int row = 0;
    for (int rowTicks : ticks) {
        FSOUND_StopSound(FSOUND_ALL);
        const int channel = FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 1);
        ASSERT_GE(channel, 0);
        FSOUND_SetPan(channel, row % 2 == 0 ? 0 : 255);
        FSOUND_SetPaused(channel, 0);
        for (int tick = 0; tick < rowTicks; ++tick) {
            const std::vector<float> block = Render(160);
            out.insert(out.end(), block.begin(), block.end());
        }
        ++row;
    }
    // Each onset exactly where its calls were made; searched from where the
    // same side's previous row has faded out.
    long start = 0;
    long previous = 0;
    row = 0;
    for (int rowTicks : ticks) {
        const std::vector<float> side = Side(out, row % 2);
        EXPECT_EQ(FirstAbove(side, 0.1, static_cast<std::size_t>(row == 0 ? 0 : previous + kRamp)), start)
            << "row " << row;
        previous = start;
        start += rowTicks * 160;
        ++row;
    }
}

TEST_F(Offline, TheMixIsClippedNeverWrapped) {
    Start();
    FSOUND_SAMPLE* high = LoadLevel(29491);   // +0.9
    FSOUND_SAMPLE* low = LoadLevel(-29491);   // -0.9
    for (int voice = 0; voice < 6; ++voice) ASSERT_GE(Play(high, 255, 0), 0);
    for (int voice = 0; voice < 6; ++voice) ASSERT_GE(Play(low, 255, 255), 0);
    const std::vector<float> out = Render(200);
    for (float value : Side(out, 0)) ASSERT_EQ(value, 1.0f);
    for (float value : Side(out, 1)) ASSERT_EQ(value, -1.0f);
}

TEST_F(Offline, CpuUsageIsAShareOfTheAudioProduced) {
    Start();
    EXPECT_EQ(FSOUND_GetCPUUsage(), 0.0f);
    FSOUND_SAMPLE* square = FSOUND_Sample_Load(FSOUND_FREE, FENK_SQUARE_WAV, 0x130, 0, 0);
    ASSERT_NE(square, nullptr);
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(square, 1000000 / 7, 8, 128, -1));
    for (int voice = 0; voice < 32; ++voice) ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, square, nullptr, 0), 0);
    for (int block = 0; block < 100; ++block) Render(320);
    const float usage = FSOUND_GetCPUUsage();
    std::printf("CPU usage mixing 32 voices offline: %.4f %%\n", usage);
    EXPECT_GT(usage, 0.0f);
    EXPECT_LE(usage, 100.0f);
}

TEST_F(Offline, SetDefaultsKeepsWithMinusOneAndRefusesValuesOutOfRange) {
    Start();
    FSOUND_SAMPLE* level = LoadLevel();
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(level, kRate, 51, 0, 7));
    for (const auto& bad : std::vector<std::vector<int>>{
             {0, -1, -1, -1}, {-2, -1, -1, -1}, {10000001, -1, -1, -1}, {-1, 256, -1, -1}, {-1, -2, -1, -1},
             {-1, -1, 256, -1}, {-1, -1, -1, 256}, {-1, -1, -1, -5}, {-1, 300, 255, -1}}) {
        EXPECT_FALSE(FSOUND_Sample_SetDefaults(level, bad[0], bad[1], bad[2], bad[3]));
    }
    EXPECT_FALSE(FSOUND_Sample_SetDefaults(nullptr, 1000, 1, 1, 1));
    ASSERT_TRUE(FSOUND_Sample_SetDefaults(level, -1, -1, -1, -1));
    ASSERT_GE(FSOUND_PlaySoundEx(FSOUND_FREE, level, nullptr, 0), 0);
    const std::vector<float> out = Render(200);
    EXPECT_NEAR(Rms(Side(out, 0)), kHalf * 51 / 255.0, 1e-3) << "volume and pan as first set";
    EXPECT_LT(MaxAbs(Side(out, 1)), 1e-6);
}

TEST_F(Offline, SetPanOnEveryChannelAndOnlyOnChannelsThatHoldASound) {
    Start(kRate, 4);
    FSOUND_SAMPLE* level = LoadLevel();
    ASSERT_GE(Play(level, 128, 0), 0);
    ASSERT_GE(Play(level, 128, 0), 0);
    EXPECT_FALSE(FSOUND_SetPan(2, 255)) << "never used";
    EXPECT_FALSE(FSOUND_SetPan(4, 255));
    EXPECT_FALSE(FSOUND_SetPan(0, 256));
    EXPECT_FALSE(FSOUND_SetPan(0, -2));
    ASSERT_TRUE(FSOUND_SetPan(FSOUND_ALL, 255));
    const std::vector<float> out = Render(200);
    EXPECT_LT(MaxAbs(Side(out, 0, 100)), 1e-6);
    EXPECT_NEAR(Rms(Side(out, 1, 100)), 2 * kHalf * 128 / 255.0, 5e-3);
}

}  // namespace
