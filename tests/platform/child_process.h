// Child processes for the platform and front-end tests: a body run in a
// forked child with its own standard input, output or terminal, and
// reports read back from it with a time limit.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

namespace child_process {

// Runs `body` in a forked child and returns its exit status, or -1 when the
// child did not exit normally (killed by a signal).
int ExitStatusOf(const std::function<int()>& body);

// Waits until `fd` holds a byte to read, up to `timeoutMs` ms, and reads
// one. False on timeout or end of input.
bool ReadByte(int fd, char* byte, int timeoutMs = 10000);

// Reads from `fd` into `text` until `text` contains `marker`, up to
// `timeoutMs` ms. False on timeout or end of input.
bool ReadUntilContains(int fd, std::string& text, const std::string& marker,
                       int timeoutMs = 10000);

// Reads whatever `fd` holds right now, without waiting (fd is non-blocking
// for the call).
std::string ReadAvailable(int fd);

// Waits for `pid` to end, up to `timeoutMs` ms; kills it with SIGKILL when
// it does not. Returns the raw wait status, or -1 when it had to be killed.
int WaitForExit(pid_t pid, int timeoutMs = 10000);

// The default action for SIGINT, SIGTERM, SIGHUP and SIGTSTP, whatever the
// test runner inherited (a background job of a script ignores SIGINT).
void ResetSignalsToDefault();

// What a program run by RunProgram left behind.
struct ProgramResult {
    std::string out;     // everything it wrote to standard output
    std::string err;     // everything it wrote to standard error
    int waitStatus = -1; // raw wait status; -1 when it had to be killed
    // The exit status, or -1 when it did not exit normally.
    int ExitStatus() const;
};

// Runs the program `arguments[0]` with `arguments` (argv[0] included) and
// standard input from /dev/null (a program run under Wine: its CRLF line
// ends read as "\n"), in the test's environment with
// `environment` ("NAME=value" entries) added or replaced, and the ending
// signals at their default action. Kills it after `timeoutMs` ms.
ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment = {},
                         int timeoutMs = 30000);

// The command (without arguments) that runs the program built at
// `builtPath`: the path itself; or, when the environment variable
// FENK_TEST_WINDOWS_BIN names the bin folder of a Windows build, the .exe
// of the same name there, run by Wine (FENK_TEST_WINE, by default
// /usr/bin/wine). The same tests then check the Windows programs.
std::vector<std::string> ProgramCommand(const std::string& builtPath);

// True when `command` runs a Windows program under Wine. Its redirected
// output has the Windows line ends, which RunProgram folds back to "\n".
bool RunsUnderWine(const std::vector<std::string>& command);

// What a terminal shows of the output `raw` of a program run on it. Under
// Wine (`underWine`), the console draws its screen on the terminal with
// escape sequences: the cursor hidden and shown around each character, a
// blank written as "erase, move right"; these are turned back into the
// text (its line ends are Wine's: CR LF). Otherwise `raw` is returned as it
// is.
std::string ScreenText(const std::string& raw, bool underWine);

// The test's environment with `changes` ("NAME=value") added or replaced.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes);

// Pointers to the strings, ended by a null pointer, for exec and spawn.
std::vector<char*> NullTerminated(std::vector<std::string>& strings);

// A pseudo-terminal with a child process on its slave side, in a session of
// its own with the terminal as its controlling terminal (foreground).
struct TerminalChild {
    pid_t pid = -1;
    int master = -1;  // our side of the terminal
    int slave = -1;   // kept open here so the terminal outlives the child
    int report = -1;  // read end of the child's report pipe
    termios initial = {};  // the terminal's settings before the child ran
};

// Opens a terminal (with the usual canonical, echoing settings), forks, and
// runs `body(reportFd)` in the child with standard input, output
// and error on the terminal; the child exits with body's result.
// `pid` is -1 on failure.
TerminalChild StartOnTerminal(const std::function<int(int reportFd)>& body);

// Closes the descriptors of a finished child.
void CloseTerminal(TerminalChild& child);

}  // namespace child_process
