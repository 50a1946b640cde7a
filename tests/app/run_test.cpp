// Whole runs through app::Run with a recording sound library and a clock
// that only counts: the exact output from the banner to the shutdown, and
// the settings as the sound library receives them.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app.h"
#include "test_support.h"

namespace {

using test_support::Row;

// What the sound library was asked for. The library is a table of plain
// function pointers, so the record is global.
struct SoundRecord {
    std::vector<int> initRates;
    std::vector<std::string> loadedPaths;
    int stopAllCalls = 0;
    std::vector<int> pans;
    int closeCalls = 0;
};
SoundRecord g_sound;
char g_sampleToken;

signed char FakeInit(int mixrate, int, unsigned int) {
    g_sound.initRates.push_back(mixrate);
    return 1;
}
FSOUND_SAMPLE* FakeSampleLoad(int, const char* name, unsigned int, int, int) {
    g_sound.loadedPaths.push_back(name);
    return reinterpret_cast<FSOUND_SAMPLE*>(&g_sampleToken);
}
signed char FakeSampleSetDefaults(FSOUND_SAMPLE*, int, int, int, int) { return 1; }
void FakeSetPanSeperation(float) {}
signed char FakeStopSound(int channel) {
    if (channel == FSOUND_ALL) ++g_sound.stopAllCalls;
    return 1;
}
int FakePlaySoundEx(int, FSOUND_SAMPLE*, FSOUND_DSPUNIT*, signed char) { return 0; }
signed char FakeSetPan(int, int pan) {
    g_sound.pans.push_back(pan);
    return 1;
}
signed char FakeSetPaused(int, signed char) { return 1; }
float FakeGetCPUUsage() { return 0.25f; }
void FakeClose() { ++g_sound.closeCalls; }

const platform::SoundLibrary kFakeLibrary = {
    FakeInit,   FakeSampleLoad,  FakeSampleSetDefaults, FakeSetPanSeperation, FakeStopSound,
    FakePlaySoundEx, FakeSetPan, FakeSetPaused,         FakeGetCPUUsage,      FakeClose,
};

class CountingClock : public playback::Clock {
public:
    bool KeyPending() override { return false; }
    void SleepMs(unsigned milliseconds) override { sleptMs += milliseconds; }
    unsigned long sleptMs = 0;
};

const std::string kBanner =
    std::string("Fenk ") + FENK_VERSION + " - four-voice TI-83 Plus song player\n\n";

class RunTest : public ::testing::Test {
protected:
    void SetUp() override { g_sound = SoundRecord(); }

    // Runs the front end over `arguments` (program name first) and returns
    // everything it wrote.
    std::string Run(const std::vector<std::string>& arguments) {
        std::vector<const char*> argv;
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        std::FILE* out = std::tmpfile();
        EXPECT_NE(out, nullptr);
        if (out == nullptr) return "";
        app::Environment environment;
        environment.library = &kFakeLibrary;
        environment.clock = &clock;
        environment.out = out;
        status = app::Run(static_cast<int>(argv.size()), argv.data(), environment);
        std::string text;
        std::rewind(out);
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        std::fclose(out);
        return text;
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
    CountingClock clock;
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
    EXPECT_EQ(clock.sleptMs, 3u * 5 + 2500);
    EXPECT_EQ(g_sound.closeCalls, 1);
}

TEST_F(RunTest, DefaultSettingsReachTheSoundLibrary) {
    const std::string output = Run({"fenk", WriteTune()});
    EXPECT_NE(output.find("Loading sample 'square.wav'...Done.\n"), std::string::npos) << output;
    EXPECT_EQ(g_sound.initRates, std::vector<int>{32000});
    ASSERT_EQ(g_sound.loadedPaths.size(), 4u);
    // square.wav may be found beside the test program; either way it is the
    // one named square.wav.
    const std::string& loaded = g_sound.loadedPaths[0];
    EXPECT_EQ(loaded.substr(loaded.size() - 10), "square.wav");
    EXPECT_EQ(g_sound.stopAllCalls, 2) << "notes are stopped at every row";
    EXPECT_NE(g_sound.pans, std::vector<int>{}) << "stereo panning";
}

TEST_F(RunTest, SwitchesAndTheLastSamplePathReachTheSoundLibrary) {
    Run({"fenk", WriteTune(), "-l", "/fake/first.wav", "-Qxm", "/fake/last.wav"});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(g_sound.initRates, std::vector<int>{8000});
    EXPECT_EQ(g_sound.loadedPaths, std::vector<std::string>(4, "/fake/last.wav"));
    EXPECT_EQ(g_sound.stopAllCalls, 0) << "extended notes";
    EXPECT_EQ(g_sound.pans, std::vector<int>{}) << "mono";
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
    file.resize(songfile::kTiHeaderBytes + 11);
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
