// The POSIX platform layer: the keyboard test on every kind of standard
// input, the terminal's polling mode and its restoring on every way out,
// console buffering, sleeping through signals, and the data file lookup.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/platform/child_process.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace {

using child_process::ExitStatusOf;
using child_process::ReadByte;

constexpr int kNoKey = 0;
constexpr int kKey = 1;

// KeyPending in a child whose standard input is `fd`, or closed when fd < 0.
int KeyPendingWithInput(int fd) {
    return ExitStatusOf([fd] {
        if (fd < 0) {
            close(STDIN_FILENO);
        } else if (dup2(fd, STDIN_FILENO) < 0) {
            return 2;
        }
        return platform::KeyPending() ? kKey : kNoKey;
    });
}

int OpenFileHolding(const test_support::TempDir& dir, const std::string& name,
                    const std::string& text) {
    const std::string path = dir.Write(name, test_support::Text(text));
    return open(path.c_str(), O_RDONLY);
}

TEST(KeyPendingTest, PipeCountsOnlyBytesWaiting) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(KeyPendingWithInput(ends[0]), kNoKey) << "empty pipe, writer still there";

    ASSERT_EQ(write(ends[1], "k", 1), 1);
    EXPECT_EQ(KeyPendingWithInput(ends[0]), kKey);
    close(ends[1]);
    EXPECT_EQ(KeyPendingWithInput(ends[0]), kKey) << "a byte waiting before end of input";

    char byte = 0;
    ASSERT_EQ(read(ends[0], &byte, 1), 1) << "the key must be left unread";
    EXPECT_EQ(byte, 'k');
    EXPECT_EQ(KeyPendingWithInput(ends[0]), kNoKey) << "end of input";
    close(ends[0]);
}

TEST(KeyPendingTest, RegularFileCountsBytesAfterTheOffset) {
    test_support::TempDir dir;
    const int full = OpenFileHolding(dir, "keys.txt", "abc");
    ASSERT_GE(full, 0);
    EXPECT_EQ(KeyPendingWithInput(full), kKey);
    // The child's standard input shares this offset.
    ASSERT_EQ(lseek(full, 2, SEEK_SET), 2);
    EXPECT_EQ(KeyPendingWithInput(full), kKey) << "one byte left";
    ASSERT_EQ(lseek(full, 0, SEEK_END), 3);
    EXPECT_EQ(KeyPendingWithInput(full), kNoKey) << "at the end of the file";
    close(full);

    const int empty = OpenFileHolding(dir, "empty.txt", "");
    ASSERT_GE(empty, 0);
    EXPECT_EQ(KeyPendingWithInput(empty), kNoKey);
    close(empty);
}

TEST(KeyPendingTest, NullDeviceAndClosedInputAreNeverAKey) {
    const int null = open("/dev/null", O_RDONLY);
    ASSERT_GE(null, 0);
    EXPECT_EQ(KeyPendingWithInput(null), kNoKey);
    close(null);
    EXPECT_EQ(KeyPendingWithInput(-1), kNoKey);
}

// With standard input closed, the next file opened would become descriptor
// 0 and its bytes would look like keys; console set-up holds the place.
TEST(KeyPendingTest, FileOpenedAfterSetUpWithClosedInputIsNotInput) {
    test_support::TempDir dir;
    const std::string path = dir.Write("song.bin", test_support::Text("data"));
    const int status = ExitStatusOf([&path] {
        close(STDIN_FILENO);
        platform::SetUpConsoleOutput();
        const int song = open(path.c_str(), O_RDONLY);
        if (song == STDIN_FILENO) return 3;
        return platform::KeyPending() ? kKey : kNoKey;
    });
    EXPECT_EQ(status, kNoKey) << "3: the file took descriptor 0";
}

// ---------------------------------------------------------------------------
// Console output buffering

// The child writes a piece without a line feed, says so, and waits to be
// killed; what reached its standard output by then shows the buffering.
std::string OutputBeforeExit(int outputFd, int readFd) {
    int report[2];
    if (pipe(report) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        dup2(outputFd, STDOUT_FILENO);
        platform::SetUpConsoleOutput();
        std::printf("Starting FMOD...");
        if (write(report[1], "p", 1) != 1) _exit(2);
        for (;;) pause();
    }
    close(report[1]);
    char byte = 0;
    const bool printed = ReadByte(report[0], &byte);
    // A terminal passes output on with a little delay; gather it for a while.
    std::string seen = printed ? "" : "no report";
    while (printed && ReadByte(readFd, &byte, 200)) seen += byte;
    kill(pid, SIGKILL);
    child_process::WaitForExit(pid);
    close(report[0]);
    return seen;
}

TEST(ConsoleOutputTest, UnbufferedOnATerminalBufferedWhenRedirected) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(OutputBeforeExit(slave, master), "Starting FMOD...");
    close(master);
    close(slave);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(OutputBeforeExit(ends[1], ends[0]), "");
    close(ends[0]);
    close(ends[1]);
}

// ---------------------------------------------------------------------------
// Sleeping

volatile sig_atomic_t g_alarms = 0;
void CountAlarm(int) { g_alarms = g_alarms + 1; }

// One SIGALRM `milliseconds` from now, counted in g_alarms, with a handler
// without SA_RESTART, so that a sleep it interrupts returns early with
// EINTR; the previous handler is back when this goes.
class AlarmIn {
public:
    explicit AlarmIn(int milliseconds) {
        struct sigaction action = {};
        action.sa_handler = CountAlarm;
        sigemptyset(&action.sa_mask);
        armed_ = sigaction(SIGALRM, &action, &previous_) == 0;
        g_alarms = 0;
        itimerval timer = {};
        timer.it_value.tv_usec = milliseconds * 1000;
        armed_ = armed_ && setitimer(ITIMER_REAL, &timer, nullptr) == 0;
    }
    ~AlarmIn() { sigaction(SIGALRM, &previous_, nullptr); }
    bool Armed() const { return armed_; }

private:
    struct sigaction previous_ = {};
    bool armed_ = false;
};

TEST(SleepMsTest, SleepsTheFullTimeThroughASignal) {
    const AlarmIn alarm(50);
    ASSERT_TRUE(alarm.Armed());
    const auto start = std::chrono::steady_clock::now();
    platform::SleepMs(300);
    const auto slept = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);

    EXPECT_EQ(g_alarms, 1) << "the signal must have come during the sleep";
    EXPECT_GE(slept.count(), 299) << "the sleep must go on after the signal";
    EXPECT_LT(slept.count(), 5000);
}

TEST(SleepUntilTest, NeverWakesBeforeTheDeadlineEvenThroughASignalAndAPastOneReturnsAtOnce) {
    const std::int64_t deadline = platform::MonotonicNanoseconds() + 100000000;
    {
        const AlarmIn alarm(20);
        ASSERT_TRUE(alarm.Armed());
        platform::SleepUntil(deadline);
        EXPECT_GE(platform::MonotonicNanoseconds(), deadline);
        EXPECT_EQ(g_alarms, 1) << "the signal must have come during the sleep";
    }

    // A deadline long past does not sleep at all (generous: a loaded
    // machine may still take the CPU away for a while).
    const std::int64_t before = platform::MonotonicNanoseconds();
    platform::SleepUntil(deadline - 50000000);
    EXPECT_LT(platform::MonotonicNanoseconds() - before, 1000000000);
}

// ---------------------------------------------------------------------------
// Data files

TEST(DataFileTest, ExecutableDirectoryIsTheTestProgramsFolder) {
    const std::string directory = platform::ExecutableDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), '/');
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(directory, FENK_TEST_PROGRAM_DIR, error))
        << directory;
}

// The lookup order: as given (absolute, or from the current folder), then
// beside the executable. A folder of the name is not a data file.
TEST(DataFileTest, ResolveLooksInTheCurrentFolderThenBesideTheExecutable) {
    namespace fs = std::filesystem;
    test_support::TempDir current;
    const fs::path previousCurrent = fs::current_path();
    fs::current_path(current.Path());

    // A name of its own beside the executable, so parallel runs do not meet.
    const std::string folder = "resolve-test-" + std::to_string(getpid());
    const fs::path besideFolder = fs::path(platform::ExecutableDirectory()) / folder;
    fs::create_directories(besideFolder);
    std::ofstream(besideFolder / "beside.wav") << "x";
    std::ofstream(besideFolder / "both.wav") << "x";
    fs::create_directories(current.Path() / folder / "beside.wav");  // a folder
    std::ofstream(current.Path() / folder / "both.wav") << "x";

    const std::string both = folder + "/both.wav";
    const std::string beside = folder + "/beside.wav";
    const std::string nowhere = folder + "/nowhere.wav";
    EXPECT_EQ(platform::ResolveDataFile(both), both) << "the current folder comes first";
    EXPECT_EQ(platform::ResolveDataFile(beside), (besideFolder / "beside.wav").string());
    EXPECT_EQ(platform::ResolveDataFile(nowhere), nowhere);
    EXPECT_EQ(platform::ResolveDataFile("/no/such/fenk/sample.wav"), "/no/such/fenk/sample.wav");
    EXPECT_EQ(platform::ResolveDataFile(""), "");

    fs::current_path(previousCurrent);
    fs::remove_all(besideFolder);
}

// An installed tree under a prefix of its own (bin/ and share/fenk/ side by
// side, nowhere near the configured prefix): a relative path missing from
// the current folder is found beside the program first, then in
// ../share/fenk, sub-folders included; a folder of the name is passed over.
TEST(DataFileTest, ResolveFindsTheDataOfATreeInstalledUnderAnotherPrefix) {
    namespace fs = std::filesystem;
    test_support::TempDir dir;
    const fs::path bin = dir.Path() / "prefix" / "bin";
    const fs::path data = dir.Path() / "prefix" / "share" / "fenk";
    const fs::path current = dir.Path() / "elsewhere";
    for (const fs::path& folder :
         {bin / "folder.wav", data / "songs", data / "only-a-folder.wav", current}) {
        fs::create_directories(folder);
    }
    const fs::path probe = bin / "probe";
    std::error_code error;
    ASSERT_TRUE(fs::copy_file(FENK_RESOLVE_PROBE, probe, error)) << error.message();
    for (const fs::path& file : {data / "square.wav", data / "songs" / "tune.8xp",
                                 data / "both.wav", bin / "both.wav", data / "folder.wav"}) {
        std::ofstream(file) << "x";
    }

    const fs::path previousCurrent = fs::current_path();
    fs::current_path(current);
    const auto resolve = [&probe](const std::string& path) {
        const child_process::ProgramResult run = child_process::RunProgram({probe.string(), path});
        EXPECT_EQ(run.ExitStatus(), 0) << run.err;
        return fs::path(run.out.substr(0, run.out.find('\n')));
    };
    const auto same = [](const fs::path& found, const fs::path& expected) {
        std::error_code sameError;
        return fs::equivalent(found, expected, sameError);
    };
    EXPECT_PRED2(same, resolve("square.wav"), data / "square.wav");
    EXPECT_PRED2(same, resolve("songs/tune.8xp"), data / "songs" / "tune.8xp");
    EXPECT_PRED2(same, resolve("both.wav"), bin / "both.wav") << "beside the program comes first";
    EXPECT_PRED2(same, resolve("folder.wav"), data / "folder.wav")
        << "the folder beside the program is no data file";
    EXPECT_EQ(resolve("only-a-folder.wav"), fs::path("only-a-folder.wav"));
    EXPECT_EQ(resolve("nowhere.wav"), fs::path("nowhere.wav"));

    // Once the file is in the current folder, that one is taken as given.
    std::ofstream(current / "square.wav") << "x";
    EXPECT_EQ(resolve("square.wav"), fs::path("square.wav"));
    fs::current_path(previousCurrent);
}

// ---------------------------------------------------------------------------
// The terminal

constexpr tcflag_t kModeFlags = ICANON | ECHO;

tcflag_t ModeFlags(int terminal) {
    termios settings = {};
    if (tcgetattr(terminal, &settings) != 0) return ~tcflag_t{0};
    return settings.c_lflag & kModeFlags;
}

// The child begins polling and reports 'r'; then it runs `afterReady`.
child_process::TerminalChild StartPolling(const std::function<int(int)>& afterReady) {
    return child_process::StartOnTerminal([afterReady](int report) {
        platform::BeginKeyboardPolling();
        if (write(report, "r", 1) != 1) return 2;
        return afterReady(report);
    });
}

TEST(TerminalTest, PollingModeWhilePollingAndTheKeyIsLeftUnread) {
    auto child = StartPolling([](int report) {
        // Wait for the key as the sequencer does: test, sleep, test again.
        bool key = false;
        for (int tick = 0; tick < 2000 && !key; ++tick) {
            key = platform::KeyPending();
            if (!key) platform::SleepMs(5);
        }
        if (write(report, key ? "k" : "t", 1) != 1) return 2;
        platform::EndKeyboardPolling();
        if (write(report, "e", 1) != 1) return 2;
        // Canonical again: the key is read with the line it begins.
        char byte = 0;
        if (read(STDIN_FILENO, &byte, 1) != 1) return 3;
        return write(report, &byte, 1) == 1 ? 0 : 2;
    });
    ASSERT_GT(child.pid, 0);
    ASSERT_EQ(child.initial.c_lflag & kModeFlags, kModeFlags);

    char byte = 0;
    ASSERT_TRUE(ReadByte(child.report, &byte));
    EXPECT_EQ(byte, 'r');
    EXPECT_EQ(ModeFlags(child.master), 0u) << "non-canonical and no echo while polling";

    ASSERT_EQ(write(child.master, "q", 1), 1);
    ASSERT_TRUE(ReadByte(child.report, &byte));
    EXPECT_EQ(byte, 'k') << "the key was not seen";
    ASSERT_TRUE(ReadByte(child.report, &byte));
    EXPECT_EQ(byte, 'e');
    EXPECT_EQ(ModeFlags(child.master), kModeFlags) << "restored after polling";

    ASSERT_EQ(write(child.master, "\n", 1), 1);
    ASSERT_TRUE(ReadByte(child.report, &byte));
    EXPECT_EQ(byte, 'q') << "the key must still wait in the input";

    const int status = child_process::WaitForExit(child.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    child_process::CloseTerminal(child);
}

TEST(TerminalTest, RestoredWhenTheProgramCallsExit) {
    auto child = StartPolling([](int) {
        std::exit(7);
        return 0;
    });
    ASSERT_GT(child.pid, 0);
    const int status = child_process::WaitForExit(child.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
    EXPECT_EQ(ModeFlags(child.master), kModeFlags);
    child_process::CloseTerminal(child);
}

class EndingSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(EndingSignalTest, RestoredAndEndedByTheSignal) {
    const int signalNumber = GetParam();
    auto child = StartPolling([](int) {
        for (;;) pause();
        return 0;
    });
    ASSERT_GT(child.pid, 0);
    char byte = 0;
    ASSERT_TRUE(ReadByte(child.report, &byte));
    ASSERT_EQ(ModeFlags(child.master), 0u);

    kill(child.pid, signalNumber);
    const int status = child_process::WaitForExit(child.pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber)
        << "wait status " << status;
    EXPECT_EQ(ModeFlags(child.master), kModeFlags);
    child_process::CloseTerminal(child);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignalTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

// Job control needs a process group that is not orphaned, as under a shell:
// the session leader on the terminal starts the polling process in a
// foreground group of its own and reports its stops ('s') and its end.
TEST(TerminalTest, RestoredWhileStoppedAndSetAgainOnContinue) {
    auto child = child_process::StartOnTerminal([](int report) {
        int go[2];
        if (pipe(go) != 0) return 2;
        const pid_t player = fork();
        if (player == 0) {
            setpgid(0, 0);
            char byte = 0;
            if (!ReadByte(go[0], &byte)) _exit(2);
            platform::BeginKeyboardPolling();
            const pid_t self = getpid();
            if (write(report, &self, sizeof self) != sizeof self) _exit(2);
            for (;;) pause();
        }
        setpgid(player, player);
        tcsetpgrp(STDIN_FILENO, player);
        if (write(go[1], "g", 1) != 1) return 2;
        for (;;) {
            int status = 0;
            if (waitpid(player, &status, WUNTRACED) != player) return 2;
            if (WIFSTOPPED(status)) {
                if (write(report, "s", 1) != 1) return 2;
            } else {
                return WIFSIGNALED(status) ? 100 + WTERMSIG(status) : 2;
            }
        }
    });
    ASSERT_GT(child.pid, 0);
    pid_t player = -1;
    for (std::size_t i = 0; i < sizeof player; ++i) {
        ASSERT_TRUE(ReadByte(child.report, reinterpret_cast<char*>(&player) + i));
    }
    ASSERT_EQ(ModeFlags(child.master), 0u);

    kill(player, SIGTSTP);
    char byte = 0;
    ASSERT_TRUE(ReadByte(child.report, &byte));
    EXPECT_EQ(byte, 's');
    EXPECT_EQ(ModeFlags(child.master), kModeFlags) << "restored while stopped";

    kill(player, SIGCONT);
    // The continued process sets the mode again in its own time.
    bool setAgain = false;
    for (int wait = 0; wait < 1000 && !setAgain; ++wait) {
        setAgain = ModeFlags(child.master) == 0;
        if (!setAgain) usleep(5000);
    }
    EXPECT_TRUE(setAgain) << "polling mode after SIGCONT";

    kill(player, SIGTERM);
    const int status = child_process::WaitForExit(child.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 100 + SIGTERM);
    EXPECT_EQ(ModeFlags(child.master), kModeFlags);
    child_process::CloseTerminal(child);
}

// A job started in the background: the session leader keeps the terminal
// and the line typed there is its own, not a key for the player.
TEST(TerminalTest, BackgroundJobLeavesTheTerminalAloneAndSeesNoKey) {
    auto child = child_process::StartOnTerminal([](int report) {
        const pid_t player = fork();
        if (player == 0) {
            setpgid(0, 0);
            platform::BeginKeyboardPolling();
            if (write(report, "r", 1) != 1) _exit(2);
            // The parent types a whole line once it has seen 'r'.
            for (int tick = 0; tick < 100; ++tick) {
                if (platform::KeyPending()) _exit(1);
                platform::SleepMs(5);
            }
            platform::EndKeyboardPolling();
            _exit(0);
        }
        int status = 0;
        if (waitpid(player, &status, 0) != player) return 2;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
    });
    ASSERT_GT(child.pid, 0);
    char byte = 0;
    ASSERT_TRUE(ReadByte(child.report, &byte));
    EXPECT_EQ(ModeFlags(child.master), kModeFlags) << "a background job set the mode";
    ASSERT_EQ(write(child.master, "ls\n", 3), 3);

    const int status = child_process::WaitForExit(child.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "1: the line was a key";
    EXPECT_EQ(ModeFlags(child.master), kModeFlags);
    child_process::CloseTerminal(child);
}

}  // namespace
