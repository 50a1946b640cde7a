// The real fenk program on a pseudo-terminal, as a user at a console runs
// it: a key stops the song and stays unread, a key typed before playback
// stops it at the first row, Ctrl+C ends the program, and the terminal is
// left as it was every time.
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/platform/child_process.h"
#include "tests/app/program_helpers.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

// Output on a terminal: every line feed comes out as CR LF (ONLCR).
std::string OnTerminal(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The terminal settings a run must leave behind: the modes and the
// characters that non-canonical mode uses.
void ExpectSettingsAsBefore(int terminal, const termios& before) {
    termios after = {};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

// The key that stopped the song still waits in the input: it comes with the
// line that a line feed completes.
std::string PendingInput(const child_process::TerminalChild& child) {
    if (write(child.master, "\n", 1) != 1) return "write failed";
    std::string line;
    char byte = 0;
    while (line.find('\n') == std::string::npos &&
           child_process::ReadByte(child.slave, &byte, 2000)) {
        line += byte;
    }
    return line;
}

class FenkTerminalTest : public ::testing::Test {
protected:
    // A song whose rows last 65535 ticks (over five minutes): it ends
    // in time only when something stops it.
    void SetUp() override {
        test_support::SongParts song;
        song.title = "Drone";
        song.name = "DRONE";
        song.sections = {{Row(100, 0, 0, 0, 65535), Row(0, 100, 0, 0, 65535)}};
        song.order = {0};
        songPath = dir.Write("drone.8xp", test_support::SongFile(song));
        underWine = child_process::RunsUnderWine(child_process::ProgramCommand(FENK_PROGRAM));
        samplePath = dir.Write("voice.wav", program_helpers::SquareWav(800));
    }

    // Starts fenk on a terminal of the usual settings. `beforeFenk`, when
    // given, runs first in the child with its report descriptor; fenk
    // starts only when it returns true.
    child_process::TerminalChild StartFenk(
        const std::function<bool(int report)>& beforeFenk = nullptr) {
        std::vector<std::string> arguments = child_process::ProgramCommand(FENK_PROGRAM);
        arguments.insert(arguments.end(), {songPath, samplePath});
        std::vector<std::string> environment =
            child_process::EnvironmentWith(program_helpers::QuietAudio());
        // The child runs the body before StartOnTerminal returns, so the
        // references stay valid.
        return child_process::StartOnTerminal([&](int report) {
            if (beforeFenk && !beforeFenk(report)) return 2;
            std::vector<char*> argv = child_process::NullTerminated(arguments);
            std::vector<char*> envp = child_process::NullTerminated(environment);
            execve(argv[0], argv.data(), envp.data());
            return 127;
        });
    }

    // Starts fenk and reads what it prints up to its first status line.
    void StartPlaying(child_process::TerminalChild& child, std::string& output) {
        child = StartFenk();
        ASSERT_GT(child.pid, 0);
        // The "Section" of the status line is its last piece before the CPU.
        ASSERT_TRUE(ReadUntilShown(child.master, output, "%\r"))
            << program_helpers::WithoutCpuFigures(OnScreen(output));
    }

    // Everything up to the first row's status line, with the CPU masked.
    std::string UpToFirstStatusLine() const {
        return OnTerminal(test_support::Banner() +
                          "Loaded file DRONE ()\n"
                          "Song title:  Drone\n"
                          "Song artist: \n"
                          "Song album:  \n"
                          "Starting FMOD...Done.\n"
                          "Loading sample '" + samplePath + "'...Done.\n"
                          "Playing... (press any key to stop)\n") +
               "Note:000 Section:000=0012 CPU:#\r";
    }

    // Waits for fenk to end after a key, then checks all it printed (after
    // what `output` holds already), the terminal settings against `before`,
    // and that the key is still unread.
    void ExpectStoppedByKey(child_process::TerminalChild& child, std::string& output,
                            const termios& before) {
        const int status = child_process::WaitForExit(child.pid, 15000);
        ASSERT_NE(status, -1) << "the key did not stop the song";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ReadUntilShown(child.master, output, "Shutting down FMOD...Done.\r\n");
        std::string screen = program_helpers::WithoutCpuFigures(OnScreen(output));
        // Wine's console echoes the key where the cursor stands; Windows'
        // does not.
        if (underWine) screen = std::regex_replace(screen, std::regex("CPU:#\rk"), "CPU:#\r");
        EXPECT_EQ(screen,
                  UpToFirstStatusLine() + OnTerminal("\n\nShutting down FMOD...Done.\n"));
        ExpectSettingsAsBefore(child.master, before);
        // Wine's console takes what is typed off the terminal into its own
        // input, where the key stays (unseen from here).
        if (!underWine) {
            EXPECT_EQ(PendingInput(child), "k\n");
        }
    }

    // What the terminal shows of `raw`: Wine's CR LF line ends pass the
    // terminal's own CR insertion too.
    std::string OnScreen(const std::string& raw) const {
        if (!underWine) return raw;
        return std::regex_replace(child_process::ScreenText(raw, true), std::regex("\r\r\n"), "\r\n");
    }

    // Reads `fd` into `raw` until the screen shows `marker`, for 10 s at most.
    bool ReadUntilShown(int fd, std::string& raw, const std::string& marker) const {
        char byte = 0;
        while (OnScreen(raw).find(marker) == std::string::npos) {
            if (!child_process::ReadByte(fd, &byte)) return false;
            raw += byte;
        }
        return true;
    }

    test_support::TempDir dir;
    std::string songPath, samplePath;
    bool underWine = false;
};

TEST_F(FenkTerminalTest, KeyStopsTheSongAtOnceAndStaysUnread) {
    child_process::TerminalChild child;
    std::string output;
    ASSERT_NO_FATAL_FAILURE(StartPlaying(child, output));

    ASSERT_EQ(write(child.master, "k", 1), 1);
    // Without the key the row would last 327 s; the wait is the bound.
    ExpectStoppedByKey(child, output, child.initial);
    child_process::CloseTerminal(child);
}

// The key comes in while the terminal is still in its canonical mode, as
// when typed while the song loads: polling finds it at the first tick,
// after the first row has started and its status line is out.
TEST_F(FenkTerminalTest, KeyTypedBeforePlaybackStopsAtTheFirstRow) {
    // Without echo, so the typed key does not show among the output.
    termios quiet = {};
    {
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        tcgetattr(slave, &quiet);
        close(master);
        close(slave);
    }
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);

    // The child sets the terminal, then waits for the typed key to reach
    // the terminal's input before it starts fenk.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    auto child = StartFenk([&](int report) {
        close(go[1]);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        if (write(report, "s", 1) != 1) return false;
        char byte = 0;
        if (!child_process::ReadByte(go[0], &byte)) return false;
        close(go[0]);
        return true;
    });
    close(go[0]);
    ASSERT_GT(child.pid, 0);
    char byte = 0;
    ASSERT_TRUE(child_process::ReadByte(child.report, &byte));
    ASSERT_EQ(write(child.master, "k", 1), 1);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    close(go[1]);

    std::string output;
    ExpectStoppedByKey(child, output, quiet);
    child_process::CloseTerminal(child);
}

TEST_F(FenkTerminalTest, CtrlCEndsTheProgramAndLeavesTheTerminalAsItWas) {
    child_process::TerminalChild child;
    std::string output;
    ASSERT_NO_FATAL_FAILURE(StartPlaying(child, output));

    // The terminal turns the interrupt character into SIGINT for fenk.
    ASSERT_EQ(write(child.master, "\x03", 1), 1);
    const int status = child_process::WaitForExit(child.pid, 15000);
    if (underWine) {
        // Windows ends the program through its console handler: it exits.
        EXPECT_TRUE(status != -1 && WIFEXITED(status)) << status;
    } else {
        EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    }
    ExpectSettingsAsBefore(child.master, child.initial);
    child_process::CloseTerminal(child);
}

}  // namespace
