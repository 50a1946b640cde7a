// What fenk-live needs of the system beyond the player's platform layer: a
// screen redrawn in place, keys read and consumed, and a watch on the song
// file. One file per OS (live_terminal_posix.cpp, live_terminal_windows.cpp;
// live_watch_linux.cpp, live_watch_poll.cpp) behind this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compose/live_session.h"

namespace live {

// ---------------------------------------------------------------------------
// Keys

// The keys in `bytes` as a terminal sends them: ESC [ C and ESC O C (Right),
// ESC [ D / ESC O D (Left), ESC [ H, ESC O H, ESC [ 1 ~, ESC [ 7 ~ (Home), a
// lone ESC (Escape: at the end of `bytes`, or before another ESC). Other
// escape sequences and control bytes are dropped.
std::vector<KeyPress> ParseKeyBytes(const std::string& bytes);
// True when `bytes` ends inside an escape sequence (an ESC, or ESC [ and
// parameters without the final byte): the rest may still be on its way,
// and a lone ESC read too early would be taken for the Escape key.
bool EndsInsideEscape(const std::string& bytes);

// ---------------------------------------------------------------------------
// Screen and keyboard

// Takes the terminal: keys are read one by one without echo (through
// platform::BeginKeyboardPolling on POSIX; the console's input and
// virtual-terminal modes on Windows), the alternate screen is shown and the
// cursor hidden. EndScreen puts all of it back; it is safe to call twice.
void BeginScreen();
void EndScreen();

// What has been typed since the last call, consumed; never waits. On a pipe
// or a file on standard input its bytes are read as keys.
std::vector<KeyPress> ReadKeys();

struct ScreenSize {
    int columns = 80;
    int rows = 24;
};

// The terminal's size; 80 x 24 when standard output is no terminal.
ScreenSize GetScreenSize();

// Writes `text` to standard output at once.
void WriteScreen(const std::string& text);

// ---------------------------------------------------------------------------
// Watching the song file

// A watch on one file: it reports a change when the file is written,
// replaced (an editor's save by rename) or removed and put back.
struct FileWatch {
    std::string path;
    int descriptor = -1;  // inotify's, on Linux; -1 when polling
    // For polling: what the file looked like, and when it was last looked at.
    std::int64_t modified = 0;
    std::uintmax_t size = 0;
    bool exists = false;
    std::int64_t lastPollNs = 0;
};

FileWatch StartWatching(const std::string& path);
// True when the file changed since the previous call; never waits. Polling
// looks at the file at most four times a second.
bool FileChanged(FileWatch& watch);
void StopWatching(FileWatch& watch);

// Polling, for a system without change notices: the file's time and size,
// looked at no more often than every 250 ms.
bool PolledFileChanged(FileWatch& watch);
// When FileChanged next looks at a polled file (ns on the monotonic clock);
// 0 for a file watched by change notices.
std::int64_t NextFileLookNs(const FileWatch& watch);

// ---------------------------------------------------------------------------
// Waiting

// Waits until a key is typed, the watched file changes (where the system
// gives change notices), an interrupt arrives, or the monotonic clock
// reaches deadlineNs (platform::MonotonicNanoseconds), whichever comes
// first; at once when one of them is so already. Reads nothing. Standard
// input that can bring no key (at its end, /dev/null) is not waited on.
void WaitForKeyOrChange(const FileWatch& watch, std::int64_t deadlineNs);
void TakeFileStamp(FileWatch& watch);

}  // namespace live
