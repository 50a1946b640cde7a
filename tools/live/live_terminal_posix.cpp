// The screen and keyboard on a POSIX terminal: the player's keyboard mode
// (non-canonical, no echo, restored at exit and on ending signals), the
// alternate screen and a hidden cursor.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "live_system.h"
#include "platform.h"

namespace live {

namespace {

bool g_screenTaken = false;

void LeaveScreen() { EndScreen(); }

}  // namespace

void BeginScreen() {
    platform::BeginKeyboardPolling();
    WriteScreen("\x1b[?1049h\x1b[?25l");
    if (!g_screenTaken) std::atexit(LeaveScreen);
    g_screenTaken = true;
}

void EndScreen() {
    if (!g_screenTaken) return;
    g_screenTaken = false;
    WriteScreen("\x1b[?25h\x1b[?1049l");
    platform::EndKeyboardPolling();
}

std::vector<KeyPress> ReadKeys() {
    // FIONREAD and a read of what it counts: a read that cannot block
    // without making standard input (shared with the shell) non-blocking.
    int waiting = 0;
    if (ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0 || waiting <= 0) return {};
    std::string bytes(static_cast<std::size_t>(waiting), '\0');
    const ssize_t got = read(STDIN_FILENO, &bytes[0], bytes.size());
    if (got <= 0) return {};
    bytes.resize(static_cast<std::size_t>(got));
    return ParseKeyBytes(bytes);
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
