// The tone output's exact calls into the sound library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/playback/playback_fakes.h"

namespace {

using playback_test::LibraryLog;
using playback_test::RecordingLibrary;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct ToneOutputTest : playback_test::RecordingTest {
    playback::PlaybackSettings settings;

    playback::ToneOutput Loaded() { return LoadedToneOutput(settings); }
};

TEST_F(ToneOutputTest, StartAsksForThirtyTwoChannelsAndTrustsAnyNonZeroResult) {
    playback::ToneOutput output = playback::MakeToneOutput(RecordingLibrary(), settings);
    log.initResult = -1;  // non-zero, though negative
    EXPECT_TRUE(playback::Start(output, 32000));
    log.initResult = 0;
    EXPECT_FALSE(playback::Start(output, 8000));
    EXPECT_THAT(log.calls, ElementsAre("Init(32000,32,0)", "Init(8000,32,0)"));
}

TEST_F(ToneOutputTest, LoadsFourCopiesAndHandsThemToVoicesInOrder) {
    playback::ToneOutput output = playback::MakeToneOutput(RecordingLibrary(), settings);
    ASSERT_TRUE(playback::LoadVoiceSamples(output, "dir/tone.wav"));
    EXPECT_THAT(log.calls, ElementsAre("SampleLoad(-1,dir/tone.wav,0x130,0,0)",
                                       "SampleLoad(-1,dir/tone.wav,0x130,0,0)",
                                       "SampleLoad(-1,dir/tone.wav,0x130,0,0)",
                                       "SampleLoad(-1,dir/tone.wav,0x130,0,0)"));
    for (int voice = 0; voice < 4; ++voice) EXPECT_NE(output.samples[voice], nullptr);
    EXPECT_NE(output.samples[0], output.samples[3]);
}

TEST_F(ToneOutputTest, AnyFailedLoadFailsAllButEveryLoadIsStillMade) {
    for (int failing : {0, 3}) {
        LibraryLog failingLog;
        failingLog.failingLoads = {failing};
        log = failingLog;
        playback::ToneOutput output = playback::MakeToneOutput(RecordingLibrary(), settings);
        EXPECT_FALSE(playback::LoadVoiceSamples(output, "square.wav")) << failing;
        EXPECT_EQ(log.calls.size(), 4u) << failing;
        // Nothing half-loaded is handed out.
        for (FSOUND_SAMPLE* sample : output.samples) EXPECT_EQ(sample, nullptr);
    }
}

TEST_F(ToneOutputTest, StereoRowStopsAllThenStartsEachVoicePausedPannedAndResumed) {
    playback::ToneOutput output = Loaded();
    const int rates[4] = {1000000, 333333, 142857, 3921};
    playback::SetVoices(output, rates);
    EXPECT_THAT(log.calls, ElementsAre(
        "StopSound(-3)",
        "SetDefaults(S0,1000000,63,128,-1)", "SetDefaults(S1,333333,63,128,-1)",
        "SetDefaults(S2,142857,63,128,-1)", "SetDefaults(S3,3921,63,128,-1)",
        "SetPanSeperation(1.000)",
        "PlaySoundEx(-1,S0,null,1)->10", "SetPan(10,0)", "SetPaused(10,0)",
        "PlaySoundEx(-1,S1,null,1)->11", "SetPan(11,0)", "SetPaused(11,0)",
        "PlaySoundEx(-1,S2,null,1)->12", "SetPan(12,255)", "SetPaused(12,0)",
        "PlaySoundEx(-1,S3,null,1)->13", "SetPan(13,255)", "SetPaused(13,0)"));
}

TEST_F(ToneOutputTest, MonoLeavesChannelsAtTheCentredDefaultPan) {
    settings.stereoPanning = false;
    playback::ToneOutput output = Loaded();
    const int rates[4] = {4000, 4000, 5000, 5000};
    playback::SetVoices(output, rates);
    EXPECT_THAT(log.calls, ElementsAre(
        "StopSound(-3)",
        "SetDefaults(S0,4000,63,128,-1)", "SetDefaults(S1,4000,63,128,-1)",
        "SetDefaults(S2,5000,63,128,-1)", "SetDefaults(S3,5000,63,128,-1)",
        "SetPanSeperation(1.000)",
        "PlaySoundEx(-1,S0,null,1)->10", "SetPaused(10,0)",
        "PlaySoundEx(-1,S1,null,1)->11", "SetPaused(11,0)",
        "PlaySoundEx(-1,S2,null,1)->12", "SetPaused(12,0)",
        "PlaySoundEx(-1,S3,null,1)->13", "SetPaused(13,0)"));
}

TEST_F(ToneOutputTest, ExtendedNotesNeverStopAndSilentVoicesAreNotStarted) {
    settings.stopNotesEachRow = false;
    playback::ToneOutput output = Loaded();
    const int rates[4] = {playback::kSilentRate, 500000, playback::kSilentRate, 3921};
    playback::SetVoices(output, rates);
    // The silent voices' samples still get their defaults, with rate -1.
    EXPECT_THAT(log.calls, ElementsAre(
        "SetDefaults(S0,-1,63,128,-1)", "SetDefaults(S1,500000,63,128,-1)",
        "SetDefaults(S2,-1,63,128,-1)", "SetDefaults(S3,3921,63,128,-1)",
        "SetPanSeperation(1.000)",
        "PlaySoundEx(-1,S1,null,1)->10", "SetPan(10,0)", "SetPaused(10,0)",
        "PlaySoundEx(-1,S3,null,1)->11", "SetPan(11,255)", "SetPaused(11,0)"));
}

TEST_F(ToneOutputTest, AllSilentRowStartsNothing) {
    const std::vector<std::string> defaults = {
        "SetDefaults(S0,-1,63,128,-1)", "SetDefaults(S1,-1,63,128,-1)",
        "SetDefaults(S2,-1,63,128,-1)", "SetDefaults(S3,-1,63,128,-1)",
        "SetPanSeperation(1.000)"};
    const int rates[4] = {-1, -1, -1, -1};

    playback::ToneOutput stopping = Loaded();
    playback::SetVoices(stopping, rates);
    std::vector<std::string> expected = {"StopSound(-3)"};
    expected.insert(expected.end(), defaults.begin(), defaults.end());
    EXPECT_THAT(log.calls, ElementsAreArray(expected));

    log.calls.clear();
    stopping.stopNotesEachRow = false;
    playback::SetVoices(stopping, rates);
    EXPECT_THAT(log.calls, ElementsAreArray(defaults));
}

TEST_F(ToneOutputTest, CpuUsageAndShutdownPassStraightThrough) {
    playback::ToneOutput output = Loaded();
    log.cpuUsage = 42.25f;
    EXPECT_FLOAT_EQ(playback::CpuUsage(output), 42.25f);
    playback::Shutdown(output);
    EXPECT_THAT(log.calls, ElementsAre("GetCPUUsage()", "Close()"));
    for (FSOUND_SAMPLE* sample : output.samples) EXPECT_EQ(sample, nullptr);
}

}  // namespace
