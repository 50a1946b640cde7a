// The real fenk program, run as a user runs it: every way the front end
// can end, with the exact standard output (banner included), nothing on
// standard error, and the exit status.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/child_process.h"
#include "tests/app/program_helpers.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Bytes;
using test_support::Row;
using test_support::Text;

using program_helpers::SquareWav;
using program_helpers::WithoutCpuFigures;

const std::string kBanner = test_support::Banner();

child_process::ProgramResult Fenk(std::vector<std::string> arguments,
                                  const std::vector<std::string>& environment =
                                      program_helpers::QuietAudio()) {
    std::vector<std::string> command = child_process::ProgramCommand(FENK_PROGRAM);
    arguments.insert(arguments.begin(), command.begin(), command.end());
    return child_process::RunProgram(arguments, environment);
}

void ExpectRun(const child_process::ProgramResult& run, const std::string& expectedOut,
               int expectedStatus) {
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.ExitStatus(), expectedStatus);
}

const std::string kNotASong = "This is not a valid Fenk music file!\n";

// Runs with the current folder set to `folder`, for paths typed relative.
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& folder)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

TEST(FenkProgramTest, WithoutArgumentsShowsTheUsage) {
    ExpectRun(Fenk({}),
              kBanner +
                  "Syntax: fenk song [sample] [-switches]\n"
                  "\t - song  \t= Filename of song you wish to play (with extension)\n"
                  "\t - sample\t= Sample WAV file (optional)\n"
                  "\t - switches\t= x: extended notes, m: mono, l: low quality\n",
              0);
}

TEST(FenkProgramTest, SongThatCannotBeOpenedIsNamedAsTyped) {
    test_support::TempDir dir;
    InFolder inside(dir.Path());
    std::filesystem::create_directory("folder.8xp");
    for (const std::string path : {"missing.8xp", "./no/such/../song.8xp", "100%s %d.8xp",
                                   "folder.8xp", "-x", "-"}) {
        SCOPED_TRACE(path);
        ExpectRun(Fenk({path, "-l"}), kBanner + "Error loading " + path + "!\n", 1);
    }
}

TEST(FenkProgramTest, FileThatIsNoTiProgramIsRejected) {
    test_support::TempDir dir;
    const Bytes signature = test_support::Join({Text("**TI83F*"), {0x1A, 0x0A, 0x00}});
    Bytes wrongDigit = signature;
    wrongDigit[5] = '2';  // "**TI82F*"
    Bytes shortOfLength(test_support::ProgramFile(Text("FENK1")));
    shortOfLength.resize(71);  // ends between the two bytes of L
    const std::vector<Bytes> files = {{}, Text("Hello, world"), wrongDigit,
                                      signature, shortOfLength};
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string path = dir.Write("file" + std::to_string(i) + ".8xp", files[i]);
        ExpectRun(Fenk({path}), kBanner + "Not a valid TI-83 Plus program file!\n", 1);
    }
}

TEST(FenkProgramTest, ProgramThatIsNoSongIsShownThenRejected) {
    test_support::TempDir dir;
    const std::string comment42 = "Forty-two characters of comment, no NUL.!!";
    ASSERT_EQ(comment42.size(), 42u);
    struct Case {
        std::string name, comment, shownAs;
        Bytes body;
    };
    const std::vector<Case> cases = {
        {"TUNE", "", "TUNE ()", Text(std::string("FENK2\0", 6))},
        {"ABCDEFGH", "made by hand", "ABCDEFGH (made by hand)", Text("FENK")},
        {"A", comment42, "A (" + comment42 + ")", {}},
        // The title has no NUL inside the block.
        {"NONUL", "x", "NONUL (x)", Text(std::string("FENK1\0Title", 11))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shownAs);
        const std::string path =
            dir.Write(c.name + ".8xp", test_support::ProgramFile(c.body, c.name, c.comment));
        ExpectRun(Fenk({path, "-x"}), kBanner + "Loaded file " + c.shownAs + "\n" + kNotASong, 1);
    }
}

TEST(FenkProgramTest, TruncatedDataIsWarnedAboutRightAfterTheLoadedLine) {
    test_support::TempDir dir;
    test_support::SongParts song;
    song.title = "A rather long title";
    Bytes file = test_support::SongFile(song);
    const std::size_t declared = test_support::SongBody(song).size() + 2;
    file.resize(songfile::kTiHeader.size + 12);  // inside the title
    const std::string path = dir.Write("cut.8xp", file);
    ExpectRun(Fenk({path}),
              kBanner + "Loaded file SONG ()\nWarning: the song data is truncated (12 of " +
                  std::to_string(declared) + " bytes)\n" + kNotASong,
              1);
}

TEST(FenkProgramTest, SongPathBeginningWithDashIsStillTheSongPath) {
    test_support::TempDir dir;
    InFolder inside(dir.Path());
    dir.Write("-l.8xp", test_support::ProgramFile(Text("NOSONG"), "DASH"));
    ExpectRun(Fenk({"-l.8xp", "-m"}), kBanner + "Loaded file DASH ()\n" + kNotASong, 1);
}

TEST(FenkProgramTest, GoodSongGoesOnToThePlaybackRun) {
    test_support::TempDir dir;
    test_support::SongParts song;
    song.title = "Scale";
    song.artist = "Fenk";
    song.album = "Tests";
    song.name = "SCALE";
    song.comment = "two rows";
    song.sections = {{Row(100, 0, 0, 0, 2), Row(0, 0, 0, 80, 2)}};
    song.order = {0};
    const std::string songPath = dir.Write("scale.8xp", test_support::SongFile(song));
    const std::string samplePath = dir.Write("voice.wav", SquareWav(800));

    // Header (6), texts with their NULs (6 + 5 + 6), order list (4): the
    // section is at 27 = 0x001B.
    const child_process::ProgramResult run = Fenk({songPath, "-lxm", samplePath});
    EXPECT_EQ(WithoutCpuFigures(run.out),
              kBanner +
                  "Loaded file SCALE (two rows)\n"
                  "Song title:  Scale\n"
                  "Song artist: Fenk\n"
                  "Song album:  Tests\n"
                  "Starting FMOD...Done.\n"
                  "Loading sample '" + samplePath + "'...Done.\n"
                  "Playing... (press any key to stop)\n"
                  "Note:000 Section:000=001B CPU:#\r"
                  "Note:001 Section:000=001B CPU:#\r"
                  "\n"
                  "Shutting down FMOD...Done.\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.ExitStatus(), 0);
}

// The sound libraries print nothing of their own: not SDL's disk driver
// ("You are using the SDL disk i/o audio driver!"), nor ALSA on a machine
// without a card ("ALSA lib ..."), where the start fails with fenk's own
// words. FSOUND_LIBRARY_LOG brings their lines back.
TEST(FenkProgramTest, SoundLibrariesKeepStandardErrorQuiet) {
    test_support::TempDir dir;
    test_support::SongParts song;
    song.sections = {{Row(100, 0, 0, 0, 1)}};
    song.order = {0};
    const std::string songPath = dir.Write("one.8xp", test_support::SongFile(song));
    const std::string device = "SDL_DISKAUDIOFILE=" + dir.File("device.raw");
    const child_process::ProgramResult disk = Fenk({songPath, "-l"}, {"SDL_AUDIODRIVER=disk", device});
    EXPECT_EQ(disk.ExitStatus(), 0);
    EXPECT_EQ(disk.err, "");
    const child_process::ProgramResult loud =
        Fenk({songPath, "-l"}, {"SDL_AUDIODRIVER=disk", device, "FSOUND_LIBRARY_LOG=1"});
    EXPECT_NE(loud.err.find("disk"), std::string::npos) << loud.err;

    const child_process::ProgramResult alsa = Fenk({songPath}, {"SDL_AUDIODRIVER=alsa"});
    EXPECT_EQ(alsa.err, "");
    if (alsa.ExitStatus() == 1) {  // no card here, as on a build machine
        EXPECT_NE(alsa.out.find("Starting FMOD...Failed!\nError starting FMOD!"), std::string::npos);
    }
}

}  // namespace
