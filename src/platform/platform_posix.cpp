// The console, the keyboard test, sleeping and the executable's folder on
// Linux and other POSIX systems.
//
// The keyboard state below is shared with signal handlers, so it is kept in
// plain globals of types a handler may touch, and the handlers make only
// async-signal-safe calls (tcsetattr, sigaction, sigprocmask, raise, ...).
#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace platform {
namespace {

// The terminal settings BeginKeyboardPolling found, and the polling mode it
// sets. Written before the handlers are installed, read-only afterwards.
termios g_savedTerminal;
termios g_pollingTerminal;
// Nonzero from BeginKeyboardPolling (on a terminal) until EndKeyboardPolling.
volatile sig_atomic_t g_polling = 0;
// Nonzero while the terminal is in polling mode.
volatile sig_atomic_t g_terminalChanged = 0;

// The signals that end the program, and the dispositions they had before.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];
struct sigaction g_previousEnding[kEndingSignalCount];
bool g_endingInstalled[kEndingSignalCount] = {};
struct sigaction g_previousStop;
struct sigaction g_previousContinue;
bool g_stopInstalled = false;

bool g_atExitRegistered = false;

// SetTerminalHandoverText's texts and their lengths (strlen is not
// async-signal-safe).
const char* g_stoppedText = nullptr;
std::size_t g_stoppedLength = 0;
const char* g_continuedText = nullptr;
std::size_t g_continuedLength = 0;

void WriteFromHandler(const char* text, std::size_t length) {
    if (text != nullptr && length > 0 && write(STDOUT_FILENO, text, length) < 0) {
        // Nothing to be done about it in a handler.
    }
}

// A background process that changes its terminal's settings is stopped by
// SIGTTOU unless it blocks that signal; blocking it lets a restore always go
// through, even from a job that was sent to the background.
void SetTerminal(const termios& settings) {
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGTTOU);
    sigprocmask(SIG_BLOCK, &block, &previous);
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void RestoreTerminal() {
    if (g_terminalChanged) {
        SetTerminal(g_savedTerminal);
        g_terminalChanged = 0;
    }
}

// Polling mode only while we own the terminal: a job started in the
// background leaves it alone and takes it over when brought to the
// foreground (SIGCONT).
// True when it changed the terminal.
bool ApplyPollingTerminal() {
    if (g_polling && !g_terminalChanged && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        SetTerminal(g_pollingTerminal);
        g_terminalChanged = 1;
        return true;
    }
    return false;
}

void OnEndingSignal(int signalNumber) {
    RestoreTerminal();
    // SA_RESETHAND has put the default action back; the signal stays blocked
    // until this handler returns and then ends the process as usual.
    raise(signalNumber);
}

void OnStopSignal(int) {
    const int savedErrno = errno;
    if (g_terminalChanged) WriteFromHandler(g_stoppedText, g_stoppedLength);
    RestoreTerminal();

    struct sigaction stopDefault = {};
    stopDefault.sa_handler = SIG_DFL;
    sigemptyset(&stopDefault.sa_mask);
    struct sigaction ours;
    sigaction(SIGTSTP, &stopDefault, &ours);

    sigset_t unblock, previous;
    sigemptyset(&unblock);
    sigaddset(&unblock, SIGTSTP);
    raise(SIGTSTP);  // pending until unblocked just below
    sigprocmask(SIG_UNBLOCK, &unblock, &previous);
    // Stopped here; SIGCONT resumes at this point.
    sigprocmask(SIG_SETMASK, &previous, nullptr);

    sigaction(SIGTSTP, &ours, nullptr);
    if (ApplyPollingTerminal()) WriteFromHandler(g_continuedText, g_continuedLength);
    errno = savedErrno;
}

void OnContinueSignal(int) {
    const int savedErrno = errno;
    // Also covers a stop by SIGSTOP, which cannot be caught.
    if (ApplyPollingTerminal()) WriteFromHandler(g_continuedText, g_continuedLength);
    errno = savedErrno;
}

void InstallHandlers() {
    for (int i = 0; i < kEndingSignalCount; ++i) {
        struct sigaction current;
        if (sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
        // A signal ignored by whoever started us (nohup, a background job of
        // a script) stays ignored.
        if (current.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = OnEndingSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        g_endingInstalled[i] =
            sigaction(kEndingSignals[i], &action, &g_previousEnding[i]) == 0;
    }

    struct sigaction currentStop;
    if (sigaction(SIGTSTP, nullptr, &currentStop) == 0 &&
        currentStop.sa_handler != SIG_IGN) {
        struct sigaction stop = {};
        stop.sa_handler = OnStopSignal;
        sigemptyset(&stop.sa_mask);
        stop.sa_flags = SA_RESTART;
        struct sigaction resume = {};
        resume.sa_handler = OnContinueSignal;
        sigemptyset(&resume.sa_mask);
        resume.sa_flags = SA_RESTART;
        g_stopInstalled = sigaction(SIGTSTP, &stop, &g_previousStop) == 0;
        if (g_stopInstalled) sigaction(SIGCONT, &resume, &g_previousContinue);
    }
}

void RemoveHandlers() {
    for (int i = 0; i < kEndingSignalCount; ++i) {
        if (g_endingInstalled[i]) {
            sigaction(kEndingSignals[i], &g_previousEnding[i], nullptr);
            g_endingInstalled[i] = false;
        }
    }
    if (g_stopInstalled) {
        sigaction(SIGTSTP, &g_previousStop, nullptr);
        sigaction(SIGCONT, &g_previousContinue, nullptr);
        g_stopInstalled = false;
    }
}

void EndKeyboardPollingAtExit() { EndKeyboardPolling(); }

// Set once standard input has shown it brings no keys, now or later: it
// cannot say how many bytes wait (/dev/null, a closed input), or it is a
// pipe at its end.
volatile sig_atomic_t g_inputNeverAKey = 0;

// Whether a wait can watch standard input for keys: a terminal while it is
// ours, a pipe, a FIFO or a socket. A regular file is always readable and
// keeps the key test of each tick; so does whatever fstat cannot name.
bool InputCanBeWatched() {
    if (g_inputNeverAKey) return false;
    if (g_polling && !g_terminalChanged) return false;
    struct stat input {};
    static const bool watchable = fstat(STDIN_FILENO, &input) == 0 &&
                                  (S_ISFIFO(input.st_mode) || S_ISSOCK(input.st_mode) ||
                                   (S_ISCHR(input.st_mode) && isatty(STDIN_FILENO)));
    return watchable;
}

}  // namespace

void SetUpConsoleOutput() {
    // A descriptor 0, 1 or 2 that the parent left closed would be taken by
    // the next file we open (the song, the sample), which the keyboard test
    // would then take for input; /dev/null holds the place instead.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
    if (isatty(STDOUT_FILENO)) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    }
}

void SetTerminalHandoverText(const char* whenStopped, const char* whenContinued) {
    g_stoppedText = whenStopped;
    g_stoppedLength = whenStopped == nullptr ? 0 : std::strlen(whenStopped);
    g_continuedText = whenContinued;
    g_continuedLength = whenContinued == nullptr ? 0 : std::strlen(whenContinued);
}

void BeginKeyboardPolling() {
    if (g_polling || !isatty(STDIN_FILENO)) return;
    if (tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return;
    g_pollingTerminal = g_savedTerminal;
    // Non-canonical: a single byte is readable at once, without Enter.
    g_pollingTerminal.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    g_pollingTerminal.c_cc[VMIN] = 1;
    g_pollingTerminal.c_cc[VTIME] = 0;

    if (!g_atExitRegistered) {
        g_atExitRegistered = std::atexit(EndKeyboardPollingAtExit) == 0;
    }
    // The handlers must be in place before the terminal changes, so that no
    // signal can end the program between the two with the terminal changed.
    InstallHandlers();
    g_polling = 1;
    ApplyPollingTerminal();
}

void EndKeyboardPolling() {
    if (!g_polling) return;
    // In this order a signal arriving in between can neither re-apply the
    // polling mode (SIGCONT) nor end the program with it still set: its
    // handler is still in place and restores the terminal itself.
    g_polling = 0;
    RestoreTerminal();
    RemoveHandlers();
}

bool KeyPending() {
    // Polling a terminal that another job owns (we were started or put in
    // the background): what is typed there is meant for that job.
    if (g_polling && !g_terminalChanged) return false;
    if (g_inputNeverAKey) return false;

    // One system call a tick (the tick's cost is mostly its system calls):
    // FIONREAD says how many bytes wait in a terminal, a pipe, a FIFO or a
    // socket (0 at the end of a pipe whose writer is gone), and how many are
    // left in a regular file (an int: a multiple of 4 GiB left reads as 0).
    // /dev/null and other devices that cannot say, and a closed standard
    // input, fail it: never a key, now or later, so it is not asked again.
    int waiting = 0;
    if (ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0) {
        if (errno == ENOTTY || errno == EINVAL || errno == EBADF) g_inputNeverAKey = 1;
        return false;
    }
    return waiting != 0;
}

KeyWatch SleepUntilWatchingKeys(std::int64_t deadlineNs) {
    if (!InputCanBeWatched()) {
        SleepUntil(deadlineNs);
        return KeyWatch::NotWatched;
    }
    for (;;) {
        const std::int64_t left = deadlineNs - MonotonicNanoseconds();
        if (left <= 0) return KeyWatch::NoKey;
        timespec timeout{};
        timeout.tv_sec = static_cast<time_t>(left / 1000000000LL);
        timeout.tv_nsec = static_cast<long>(left % 1000000000LL);
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = ppoll(&input, 1, &timeout, nullptr);
        if (ready == 0) return KeyWatch::NoKey;
        if (ready < 0) {
            if (errno == EINTR) continue;  // a signal (SIGCONT): the rest of the wait
            SleepUntil(deadlineNs);
            return KeyWatch::NotWatched;
        }
        const bool key = KeyPending();
        // Readable with nothing waiting: the end of a pipe whose writer has
        // gone, readable at once from now on. (A terminal of another job
        // says the same, for that job's keys: watched again once ours.)
        if (!key && !isatty(STDIN_FILENO)) g_inputNeverAKey = 1;
        SleepUntil(deadlineNs);
        return key ? KeyWatch::Key : KeyWatch::NoKey;
    }
}

void SleepMs(unsigned milliseconds) {
    timespec remaining;
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    timespec request = remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void SleepUntil(std::int64_t deadlineNs) {
    if (deadlineNs <= 0) return;
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(deadlineNs / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(deadlineNs % 1000000000LL);
    // An absolute deadline needs no recomputing after a signal; unlike
    // nanosleep, clock_nanosleep returns the error instead of setting errno.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::string ExecutableDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return std::string();
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            if (slash == std::string::npos) return std::string();
            if (slash == 0) return "/";
            return path.substr(0, slash);
        }
        // readlink fills the buffer without telling whether it was cut.
        if (buffer.size() >= 65536) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
