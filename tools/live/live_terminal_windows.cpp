// The screen and keyboard on a Windows console: virtual-terminal output for
// the escape sequences, key events read from the console input, the
// alternate screen and a hidden cursor. A pipe or a file on standard input
// is read as bytes.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "tools/live/live_system.h"
#include "platform/platform.h"

namespace live {

namespace {

bool g_screenTaken = false;
DWORD g_previousOutputMode = 0;
bool g_outputModeSet = false;

void LeaveScreen() { EndScreen(); }

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void AddKeyEvent(const KEY_EVENT_RECORD& event, std::vector<KeyPress>& keys) {
    if (!event.bKeyDown) return;
    for (WORD repeat = 0; repeat < event.wRepeatCount; ++repeat) {
        switch (event.wVirtualKeyCode) {
            case VK_LEFT: keys.push_back({Key::Left, 0}); continue;
            case VK_RIGHT: keys.push_back({Key::Right, 0}); continue;
            case VK_HOME: keys.push_back({Key::Home, 0}); continue;
            case VK_ESCAPE: keys.push_back({Key::Escape, 0}); continue;
            case VK_SPACE: keys.push_back({Key::Space, 0}); continue;
            default: break;
        }
        const WCHAR c = event.uChar.UnicodeChar;
        if (c > 0x20 && c < 0x7F) keys.push_back({Key::Character, static_cast<char>(c)});
    }
}

std::vector<KeyPress> ReadConsoleKeys(HANDLE input) {
    std::vector<KeyPress> keys;
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(input, &count) || count == 0) return keys;
    std::vector<INPUT_RECORD> records(count);
    DWORD got = 0;
    if (!ReadConsoleInputW(input, records.data(), count, &got)) return keys;
    for (DWORD i = 0; i < got; ++i) {
        if (records[i].EventType == KEY_EVENT) AddKeyEvent(records[i].Event.KeyEvent, keys);
    }
    return keys;
}

std::vector<KeyPress> ReadByteKeys(HANDLE input) {
    DWORD waiting = 0;
    switch (GetFileType(input)) {
        case FILE_TYPE_PIPE:
            if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr)) return {};
            break;
        case FILE_TYPE_DISK: {
            LARGE_INTEGER size, offset, zero;
            zero.QuadPart = 0;
            if (!GetFileSizeEx(input, &size) || !SetFilePointerEx(input, zero, &offset, FILE_CURRENT))
                return {};
            const LONGLONG left = size.QuadPart - offset.QuadPart;
            waiting = left > 4096 ? 4096 : static_cast<DWORD>(left < 0 ? 0 : left);
            break;
        }
        default:
            return {};
    }
    if (waiting == 0) return {};
    std::string bytes(waiting, '\0');
    DWORD got = 0;
    if (!ReadFile(input, &bytes[0], waiting, &got, nullptr)) return {};
    bytes.resize(got);
    return ParseKeyBytes(bytes);
}

}  // namespace

void BeginScreen() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (IsConsole(output) && GetConsoleMode(output, &mode)) {
        g_previousOutputMode = mode;
        g_outputModeSet = SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING |
                                                     ENABLE_PROCESSED_OUTPUT) != 0;
    }
    WriteScreen("\x1b[?1049h\x1b[?25l");
    if (!g_screenTaken) std::atexit(LeaveScreen);
    g_screenTaken = true;
}

void EndScreen() {
    if (!g_screenTaken) return;
    g_screenTaken = false;
    WriteScreen("\x1b[?25h\x1b[?1049l");
    if (g_outputModeSet) SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), g_previousOutputMode);
    g_outputModeSet = false;
    // Keys typed while playing were ours; the prompt should not see them.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (IsConsole(input)) FlushConsoleInputBuffer(input);
}

std::vector<KeyPress> ReadKeys() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return {};
    if (IsConsole(input)) {
        // Wine's console hands typed keys over only while its input is waited on.
        WaitForSingleObject(input, 0);
        return ReadConsoleKeys(input);
    }
    return ReadByteKeys(input);
}

void WaitForKeyOrChange(const FileWatch&, std::int64_t deadlineNs) {
    // A console is waited on for at most 50 ms (a Ctrl+C is no input event,
    // so only the end of the wait lets the caller see it); a pipe or a file,
    // which cannot be waited on, is looked at every 5 ms. The song file is
    // polled here (no change notices).
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const bool console = IsConsole(input);
    const std::int64_t longestWaitNs = console ? 50000000 : 5000000;
    const std::int64_t now = platform::MonotonicNanoseconds();
    if (deadlineNs - now > longestWaitNs) deadlineNs = now + longestWaitNs;
    if (console) {
        const std::int64_t wholeMs = (deadlineNs - now) / 1000000;
        if (wholeMs > 0 && WaitForSingleObject(input, static_cast<DWORD>(wholeMs)) == WAIT_OBJECT_0) return;
    }
    platform::SleepUntil(deadlineNs);
}

ScreenSize GetScreenSize() {
    ScreenSize size;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        size.columns = info.srWindow.Right - info.srWindow.Left + 1;
        size.rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    }
    return size;
}

}  // namespace live
