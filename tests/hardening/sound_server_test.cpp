// The sound server vanishes while a song plays: fenk, on a terminal and
// through PulseAudio (fsound's own output and SDL's driver alike), goes on
// timing the song and ends it normally, with the usual closing messages,
// exit status 0 and the terminal as it was. And with no server at all, the
// own output gives way to SDL, unless it alone was asked for.
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/child_process.h"
#include "tests/hardening/hardening_helpers.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

// Plays an eight-row song on a terminal through a private server with
// `environment` added, kills the server at the second row and checks that
// the song plays out and ends as usual.
void ExpectSongOutlivesTheServer(const std::vector<std::string>& environment) {
    test_support::TempDir dir;
    hardening::PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(dir.File("pulse"), &why)) GTEST_SKIP() << why;

    // Eight rows of 60 ticks: 2.4 s of song, then the 2.5 s wait.
    test_support::SongParts song;
    song.title = "Vanish";
    song.name = "VANISH";
    song.sections = {{}};
    for (int row = 0; row < 8; ++row) song.sections[0].push_back(Row(100 + row, 80, 60, 40, 60));
    song.order = {0};
    const std::string songPath = dir.Write("vanish.8xp", test_support::SongFile(song));

    std::vector<std::string> arguments = {FENK_PROGRAM, songPath};
    std::vector<std::string> added = {"SDL_AUDIODRIVER=pulseaudio", "PULSE_SERVER=" + pulse.Server()};
    added.insert(added.end(), environment.begin(), environment.end());
    std::vector<std::string> childEnvironment = child_process::EnvironmentWith(added);
    child_process::TerminalChild child = child_process::StartOnTerminal([&](int) {
        std::vector<char*> argv = child_process::NullTerminated(arguments);
        std::vector<char*> envp = child_process::NullTerminated(childEnvironment);
        execve(argv[0], argv.data(), envp.data());
        return 127;
    });
    ASSERT_GT(child.pid, 0);

    // Wait for the second row, so the device has been playing a while.
    std::string output;
    ASSERT_TRUE(child_process::ReadUntilContains(child.master, output, "Note:001", 15000))
        << output;
    const auto killedAt = std::chrono::steady_clock::now();
    pulse.Kill();

    // The rest of the song takes about 4.5 s; a hang runs into the limit.
    const int status = child_process::WaitForExit(child.pid, 30000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killedAt).count();
    ASSERT_NE(status, -1) << "fenk hung after the sound server died; output:\n" << output;
    child_process::ReadUntilContains(child.master, output, "Shutting down FMOD...Done.\r\n", 2000);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    // Every row still got its status line, and the run closed as usual.
    EXPECT_NE(output.find("Note:007 Section:000="), std::string::npos) << output;
    const std::string closing = "\r\nShutting down FMOD...Done.\r\n";
    ASSERT_GE(output.size(), closing.size());
    EXPECT_EQ(output.substr(output.size() - closing.size()), closing) << output;
    // Timing went on by the clock, not by a device that no longer plays.
    EXPECT_GT(seconds, 2.0) << "the song was cut short";
    std::printf("[ figures  ] after the kill the song ran on for %.2f s (about 4.5 s due)\n", seconds);

    termios after = {};
    ASSERT_EQ(tcgetattr(child.master, &after), 0);
    EXPECT_EQ(after.c_lflag, child.initial.c_lflag);
    EXPECT_EQ(after.c_iflag, child.initial.c_iflag);
    EXPECT_EQ(after.c_cc[VMIN], child.initial.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], child.initial.c_cc[VTIME]);
    child_process::CloseTerminal(child);
}

TEST(SoundServerFault, ServerKilledMidSongTheSongPlaysOutAndEndsNormally) {
    {
        SCOPED_TRACE("fsound's own PulseAudio output");
        ExpectSongOutlivesTheServer({});
    }
    {
        SCOPED_TRACE("SDL's pulseaudio driver");
        ExpectSongOutlivesTheServer({"FENK_AUDIO=sdl"});
    }
}

// No server answers at the address: the own output gives way to SDL
// (here its dummy driver, as SDL_AUDIODRIVER's list names it after the
// server), so the song plays; FENK_AUDIO=pulse asks for the own output
// alone, and then the library does not start.
TEST(SoundServerFault, WithoutAServerSdlPlaysUnlessPulseAudioAloneWasAsked) {
    test_support::TempDir dir;
    test_support::SongParts song;
    song.title = "Nobody";
    song.name = "NOBODY";
    song.sections = {{Row(100, 80, 60, 40, 2)}};
    song.order = {0};
    const std::string songPath = dir.Write("nobody.8xp", test_support::SongFile(song));
    const std::vector<std::string> noServer = {"PULSE_SERVER=unix:" + dir.File("nothing-here"),
                                               "SDL_AUDIODRIVER=pulseaudio,dummy"};

    const child_process::ProgramResult fallback = child_process::RunProgram({FENK_PROGRAM, songPath}, noServer);
    EXPECT_EQ(fallback.ExitStatus(), 0) << fallback.out << fallback.err;
    EXPECT_NE(fallback.out.find("Starting FMOD...Done."), std::string::npos) << fallback.out;
    EXPECT_EQ(fallback.err, "") << "nothing from the sound libraries";

    std::vector<std::string> pulseAlone = noServer;
    pulseAlone.push_back("FENK_AUDIO=pulse");
    const child_process::ProgramResult refused = child_process::RunProgram({FENK_PROGRAM, songPath}, pulseAlone);
    EXPECT_EQ(refused.ExitStatus(), 1);
    EXPECT_NE(refused.out.find("Starting FMOD...Failed!\nError starting FMOD!"), std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.err, "") << "nothing from the sound libraries";
}

}  // namespace
