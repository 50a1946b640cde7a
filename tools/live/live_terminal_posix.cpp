// The screen and keyboard on a POSIX terminal: the player's keyboard mode
// (non-canonical, no echo, restored at exit and on ending signals), the
// alternate screen and a hidden cursor.
#include <poll.h>
#include <time.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tools/live/live_system.h"
#include "platform/platform.h"

namespace live {

namespace {

bool g_screenTaken = false;

void LeaveScreen() { EndScreen(); }

}  // namespace

// The alternate screen with the cursor hidden, and the way back.
constexpr const char kEnterScreen[] = "\x1b[?1049h\x1b[?25l";
constexpr const char kLeaveScreen[] = "\x1b[?25h\x1b[?1049l";

void BeginScreen() {
    // Stopped by Ctrl+Z, the shell gets its own screen back; continued, the
    // screen is ours again (redrawn within a second).
    platform::SetTerminalHandoverText(kLeaveScreen, kEnterScreen);
    platform::BeginKeyboardPolling();
    WriteScreen(kEnterScreen);
    if (!g_screenTaken) std::atexit(LeaveScreen);
    g_screenTaken = true;
}

void EndScreen() {
    if (!g_screenTaken) return;
    g_screenTaken = false;
    WriteScreen(kLeaveScreen);
    platform::EndKeyboardPolling();
    platform::SetTerminalHandoverText(nullptr, nullptr);
}

namespace {

// The bytes waiting on standard input (FIONREAD); 0 when it cannot say.
int WaitingBytes() {
    int waiting = 0;
    return ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0 ? waiting : 0;
}

// FIONREAD and a read of what it counts: a read that cannot block, without
// making standard input (shared with the shell) non-blocking.
bool ReadWaitingBytes(std::string& bytes) {
    const int waiting = WaitingBytes();
    if (waiting == 0) return false;
    std::string more(static_cast<std::size_t>(waiting), '\0');
    const ssize_t got = read(STDIN_FILENO, &more[0], more.size());
    if (got <= 0) return false;
    bytes.append(more, 0, static_cast<std::size_t>(got));
    return true;
}

}  // namespace

std::vector<KeyPress> ReadKeys() {
    std::string bytes;
    if (!ReadWaitingBytes(bytes)) return {};
    // An arrow key's bytes may come in two reads (a slow link): the rest of
    // a sequence is waited for a moment.
    constexpr int kSequenceWaitMs = 30;
    for (int attempt = 0; attempt < 3 && EndsInsideEscape(bytes); ++attempt) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, kSequenceWaitMs) <= 0 || !ReadWaitingBytes(bytes)) break;
    }
    return ParseKeyBytes(bytes);
}

namespace {

// Cleared once standard input has shown that it brings no keys: poll calls
// it readable, yet nothing waits in it (the end of a pipe or a file,
// /dev/null), and waiting on it again would return at once every time.
bool g_inputMayBringKeys = true;

}  // namespace

void WaitForKeyOrChange(const FileWatch& watch, std::int64_t deadlineNs) {
    pollfd waited[2];
    nfds_t count = 0;
    const bool inputWaited = g_inputMayBringKeys;
    if (inputWaited) waited[count++] = {STDIN_FILENO, POLLIN, 0};
    if (watch.descriptor >= 0) waited[count++] = {watch.descriptor, POLLIN, 0};
    const std::int64_t left = deadlineNs - platform::MonotonicNanoseconds();
    if (left <= 0) return;
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(left / 1000000000);
    timeout.tv_nsec = static_cast<long>(left % 1000000000);
    // An interrupt ends the wait (EINTR) and is seen by the caller.
    if (ppoll(waited, count, &timeout, nullptr) <= 0) return;
    if (inputWaited && waited[0].revents != 0 && WaitingBytes() == 0) {
        g_inputMayBringKeys = false;
    }
}

ScreenSize GetScreenSize() {
    ScreenSize size;
    winsize window {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 && window.ws_row > 0) {
        size.columns = window.ws_col;
        size.rows = window.ws_row;
    }
    return size;
}

}  // namespace live
