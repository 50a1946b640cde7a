// Whole runs through app::Run with the playback tests' recording sound
// library and fake clock: the exact output from the banner to the shutdown,
// and the settings as the sound library receives them.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/app.h"
#include "tests/playback/playback_fakes.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;
using ::testing::ElementsAre;
using ::testing::EndsWith;

const std::string kBanner = test_support::Banner();

class RunTest : public playback_test::RecordingTest {
protected:
    void SetUp() override { log.cpuUsage = 0.25f; }

    // Runs the front end over `arguments` (program name first) and returns
    // everything it wrote.
    std::string Run(const std::vector<std::string>& arguments) {
        std::vector<const char*> argv;
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        app::Environment environment;
        environment.library = &playback_test::RecordingLibrary();
        environment.clock = &clock;
        environment.out = out.file();
        status = app::Run(static_cast<int>(argv.size()), argv.data(), environment);
        return out.Text();
    }

    // The sound library calls whose text begins with `prefix`.
    std::vector<std::string> Calls(const std::string& prefix) const {
        std::vector<std::string> calls;
        for (const std::string& call : log.calls)
            if (call.rfind(prefix, 0) == 0) calls.push_back(call);
        return calls;
    }

    // A song of one section of two rows, in a file named "TUNE".
    std::string WriteTune() {
        test_support::SongParts song;
        song.title = "Ode";
        song.artist = "Beethoven";
        song.album = "Demos";
        song.sections = {{Row(100, 0, 0, 0, 2), Row(50, 50, 200, 0, 1)}};
        song.order = {0};
        song.name = "TUNE";
        song.comment = "a tune";
        return dir.Write("tune.8xp", test_support::SongFile(song));
    }

    test_support::TempDir dir;
    int status = -1;
};

TEST_F(RunTest, GoodSongFromBannerToShutdown) {
    const std::string output = Run({"fenk", WriteTune(), "/fake/voice.wav"});
    // The section follows the header (6), the texts with their NULs (4 + 10
    // + 6) and the order list with its end entry (4): offset 30 = 0x001E.
    EXPECT_EQ(output, kBanner +
                          "Loaded file TUNE (a tune)\n"
                          "Song title:  Ode\n"
                          "Song artist: Beethoven\n"
                          "Song album:  Demos\n"
                          "Starting FMOD...Done.\n"
                          "Loading sample '/fake/voice.wav'...Done.\n"
                          "Playing... (press any key to stop)\n"
                          "Note:000 Section:000=001E CPU:0.25%\r"
                          "Note:001 Section:000=001E CPU:0.25%\r"
                          "\n"
                          "Shutting down FMOD...Done.\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(clock.tickSleeps, 3);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
    EXPECT_THAT(Calls("Close("), ElementsAre("Close()"));
}

TEST_F(RunTest, DefaultSettingsReachTheSoundLibrary) {
    const std::string output = Run({"fenk", WriteTune()});
    EXPECT_NE(output.find("Loading sample 'square.wav'...Done.\n"), std::string::npos) << output;
    EXPECT_THAT(Calls("Init("), ElementsAre("Init(32000,32,0)"));
    // square.wav may be found beside the test program; either way it is the
    // one named square.wav.
    EXPECT_THAT(Calls("SampleLoad("), ElementsAre(EndsWith("square.wav,0x130,0,0)"),
                                                  EndsWith("square.wav,0x130,0,0)"),
                                                  EndsWith("square.wav,0x130,0,0)"),
                                                  EndsWith("square.wav,0x130,0,0)")));
    EXPECT_EQ(Calls("StopSound(-3)").size(), 2u) << "notes are stopped at every row";
    EXPECT_FALSE(Calls("SetPan(").empty()) << "stereo panning";
}

TEST_F(RunTest, SwitchesAndTheLastSamplePathReachTheSoundLibrary) {
    Run({"fenk", WriteTune(), "-l", "/fake/first.wav", "-Qxm", "/fake/last.wav"});
    EXPECT_EQ(status, 0);
    EXPECT_THAT(Calls("Init("), ElementsAre("Init(8000,32,0)"));
    EXPECT_EQ(Calls("SampleLoad("),
              std::vector<std::string>(4, "SampleLoad(-1,/fake/last.wav,0x130,0,0)"));
    EXPECT_TRUE(Calls("StopSound(").empty()) << "extended notes";
    EXPECT_TRUE(Calls("SetPan(").empty()) << "mono";
}

// A file cut inside the order list still holds a song: its list ends where
// the data ends, so it plays nothing, after the warning.
TEST_F(RunTest, TruncatedSongIsWarnedAboutAndStillPlayed) {
    test_support::SongParts song;
    song.title = "T";
    song.sections = {{Row(100, 100, 100, 100, 1)}};
    song.order = {0};
    test_support::Bytes file = test_support::SongFile(song);
    const std::size_t declared = test_support::SongBody(song).size() + 2;
    // Header (74) + "FENK1", 0, "T", 0, 0, 0 (10) + one byte of the order list.
    file.resize(songfile::kTiHeader.size + 11);
    const std::string path = dir.Write("cut.8xp", file);

    const std::string output = Run({"fenk", path, "/fake/voice.wav"});
    EXPECT_EQ(output, kBanner + "Loaded file SONG ()\n" +
                          "Warning: the song data is truncated (11 of " +
                          std::to_string(declared) + " bytes)\n" +
                          "Song title:  T\n"
                          "Song artist: \n"
                          "Song album:  \n"
                          "Starting FMOD...Done.\n"
                          "Loading sample '/fake/voice.wav'...Done.\n"
                          "Playing... (press any key to stop)\n"
                          "\n"
                          "Shutting down FMOD...Done.\n");
    EXPECT_EQ(status, 0);
}

}  // namespace
