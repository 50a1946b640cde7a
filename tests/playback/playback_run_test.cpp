// The playback run: its whole output, exit status and library calls.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/playback/playback_fakes.h"

namespace {

using playback_test::ExactBlock;
using playback_test::RecordingLibrary;
using playback_test::SongBlock;
using ::testing::ElementsAre;

// A path that exists nowhere, so it resolves to itself.
constexpr char kMissingSample[] = "no-such-dir/no-such-sample.wav";

// What a run of the one-row song prints up to the end of playing, and last.
constexpr char kPlayedLines[] =
    "Starting FMOD...Done.\n"
    "Loading sample 'no-such-dir/no-such-sample.wav'...Done.\n"
    "Playing... (press any key to stop)\n"
    "Note:000 Section:000=000D CPU:0.37%\r"
    "\n";
constexpr char kShutdownLine[] = "Shutting down FMOD...Done.\n";

struct PlaybackRunTest : playback_test::RecordingTest {
    playback::PlaybackSettings settings;
    SongBlock block;

    void SetUp() override {
        std::strcpy(settings.samplePath, kMissingSample);
        block.Word(13);
        block.Word(0);
        block.Row(4, 0, 0, 0, 3);  // offset 13
        block.EndRow();
    }

    int Run() {
        ExactBlock exact(block);
        playback::ToneOutput output = playback::MakeToneOutput(RecordingLibrary(), settings);
        playback::ConsolePrinter printer(out.file());
        playback::SongPlayer player = playback::MakeSongPlayer(exact.view);
        return playback::RunPlayback(player, settings, output, clock, printer).ExitStatus();
    }
};

TEST_F(PlaybackRunTest, FinishedSongPrintsEveryStageAndExitsZero) {
    settings.mixRate = 8000;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(out.Text(), std::string(kPlayedLines) + kShutdownLine);
    ASSERT_GE(log.calls.size(), 6u);
    EXPECT_EQ(log.calls.front(), "Init(8000,32,0)");
    EXPECT_EQ(log.calls[1], "SampleLoad(-1,no-such-dir/no-such-sample.wav,0x130,0,0)");
    EXPECT_EQ(log.calls.back(), "Close()");
    EXPECT_EQ(clock.tickSleeps, 3);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
}

TEST_F(PlaybackRunTest, KeyStopLeavesAnEmptyLineBeforeTheShutdown) {
    clock.keyAtPoll = 2;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(out.Text(), std::string(kPlayedLines) + "\n" + kShutdownLine);
    EXPECT_EQ(log.calls.back(), "Close()");
    EXPECT_TRUE(clock.otherSleeps.empty());
}

TEST_F(PlaybackRunTest, StartFailureEndsAtOnceWithStatusOne) {
    log.initResult = 0;
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(out.Text(), "Starting FMOD...Failed!\nError starting FMOD!");
    EXPECT_THAT(log.calls, ElementsAre("Init(32000,32,0)"));
    EXPECT_EQ(clock.polls, 0);
    EXPECT_EQ(clock.tickSleeps, 0);
    EXPECT_TRUE(clock.otherSleeps.empty());
}

TEST_F(PlaybackRunTest, LoadFailureWaitsThenShutsDownWithStatusOne) {
    log.failingLoads = {2};
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(out.Text(),
              "Starting FMOD...Done.\n"
              "Loading sample 'no-such-dir/no-such-sample.wav'...Failed!\n"
              "\n"
              "Shutting down FMOD...Done.\n");
    const std::string load = "SampleLoad(-1,no-such-dir/no-such-sample.wav,0x130,0,0)";
    EXPECT_THAT(log.calls,
                ElementsAre("Init(32000,32,0)", load, load, load, load, "Close()"));
    EXPECT_EQ(clock.polls, 0);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
}

TEST_F(PlaybackRunTest, LoadsTheResolvedSampleButShowsThePathAsGiven) {
    // A sample that exists only beside the test program, asked for by a
    // relative name from a folder where it does not exist.
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string name = "playback-run-test-sample.wav";
    ASSERT_FALSE(platform::ExecutableDirectory().empty());
    const fs::path besideProgram = fs::path(platform::ExecutableDirectory()) / name;
    std::ofstream(besideProgram) << "RIFF";
    const fs::path previous = fs::current_path(error);
    const fs::path elsewhere = fs::temp_directory_path(error) / "playback-run-test-cwd";
    fs::create_directories(elsewhere, error);
    fs::current_path(elsewhere, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_FALSE(fs::exists(name, error));

    std::strcpy(settings.samplePath, name.c_str());
    const int status = Run();

    fs::current_path(previous, error);
    fs::remove(elsewhere, error);
    EXPECT_EQ(status, 0);
    EXPECT_THAT(out.Text(), ::testing::HasSubstr("Loading sample '" + name + "'...Done.\n"));
    ASSERT_GE(log.calls.size(), 2u);
    const std::string prefix = "SampleLoad(-1,";
    const std::string& call = log.calls[1];
    ASSERT_EQ(call.rfind(prefix, 0), 0u) << call;
    const std::string loaded = call.substr(prefix.size(), call.find(",0x130") - prefix.size());
    EXPECT_NE(loaded, name);
    EXPECT_TRUE(fs::equivalent(loaded, besideProgram, error)) << loaded;
    fs::remove(besideProgram, error);
}

}  // namespace
