// The console, the keyboard test, sleeping and the executable's folder on
// Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

std::string Utf8(const std::wstring& wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length,
                        nullptr, nullptr);
    return text;
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

// A modifier or lock key pressed alone does not stop the song, even though
// the console reports it as a key-down (right Ctrl and Alt even as extended).
bool IsModifierKey(WORD virtualKey) {
    switch (virtualKey) {
        case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT:
        case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL:
        case VK_MENU: case VK_LMENU: case VK_RMENU:
        case VK_LWIN: case VK_RWIN:
        case VK_CAPITAL: case VK_NUMLOCK: case VK_SCROLL:
            return true;
        default:
            return false;
    }
}

// Keys that yield no character but are keys in their own right: the
// navigation block, the arrows and the function keys, also from the keypad.
bool IsExtendedKey(WORD virtualKey, DWORD controlKeyState) {
    if (controlKeyState & ENHANCED_KEY) return true;
    if (virtualKey >= VK_PRIOR && virtualKey <= VK_DOWN) return true;  // PgUp..Down
    if (virtualKey >= VK_F1 && virtualKey <= VK_F24) return true;
    switch (virtualKey) {
        case VK_INSERT: case VK_DELETE: case VK_CLEAR: case VK_HELP:
        case VK_SELECT: case VK_PRINT: case VK_EXECUTE: case VK_SNAPSHOT:
        case VK_PAUSE: case VK_APPS:
            return true;
        default:
            return false;
    }
}

bool CountsAsKey(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT) return false;
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (!key.bKeyDown || IsModifierKey(key.wVirtualKeyCode)) return false;
    return key.uChar.AsciiChar != 0 || IsExtendedKey(key.wVirtualKeyCode, key.dwControlKeyState);
}

bool ConsoleKeyPending(HANDLE input) {
    // Wine's console on a terminal hands over what was typed only while the
    // input handle is waited on; a wait that returns at once costs nothing
    // on Windows and never takes an event away.
    WaitForSingleObject(input, 0);
    DWORD eventCount = 0;
    if (!GetNumberOfConsoleInputEvents(input, &eventCount) || eventCount == 0) return false;
    std::vector<INPUT_RECORD> records(eventCount);
    DWORD peeked = 0;
    if (!PeekConsoleInputA(input, records.data(), eventCount, &peeked)) return false;
    for (DWORD i = 0; i < peeked; ++i) {
        if (CountsAsKey(records[i])) return true;
    }
    return false;
}

bool FileHasBytesLeft(HANDLE input) {
    LARGE_INTEGER size, offset, zero;
    zero.QuadPart = 0;
    if (!GetFileSizeEx(input, &size)) return false;
    if (!SetFilePointerEx(input, zero, &offset, FILE_CURRENT)) return false;
    return size.QuadPart > offset.QuadPart;
}

bool g_timerPeriodSet = false;

void EndTimerPeriod() { timeEndPeriod(1); }

// The console's output code page before ours; 0 while unchanged. The code
// page belongs to the console, not to the process: the prompt that started
// us would keep ours if it were not put back.
UINT g_previousOutputCodePage = 0;

void RestoreOutputCodePage() {
    if (g_previousOutputCodePage != 0) SetConsoleOutputCP(g_previousOutputCodePage);
}

// Ctrl+C, Ctrl+Break and closing the window end the program as the system
// does by default (the next handler); the console's code page is put back
// first.
BOOL WINAPI RestoreConsoleOnEnd(DWORD) {
    RestoreOutputCodePage();
    return FALSE;
}

}  // namespace

void SetUpConsoleOutput() {
    SetConsoleCtrlHandler(RestoreConsoleOnEnd, TRUE);
    if (IsConsole(GetStdHandle(STD_OUTPUT_HANDLE))) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        // Every text the program holds is UTF-8 (paths from the command line
        // included, as the program asks for UTF-8 as its code page), so the
        // console shows UTF-8 while it runs.
        const UINT previous = GetConsoleOutputCP();
        if (previous != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
            g_previousOutputCodePage = previous;
            std::atexit(RestoreOutputCodePage);
        }
    } else {
        std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
    }
}

// The console's key events are read by KeyPending as they are, whatever the
// input mode, and nothing is echoed until a program reads it: nothing to set.
// (Wine's console on a terminal echoes keys as they come, whatever the mode.)
void BeginKeyboardPolling() {}
// A console program is not stopped by the shell: nothing to hand over.
void SetTerminalHandoverText(const char*, const char*) {}
void EndKeyboardPolling() {}

bool KeyPending() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
    switch (GetFileType(input)) {
        case FILE_TYPE_CHAR: {
            // The NUL device is a character device too, but not a console.
            DWORD mode = 0;
            return GetConsoleMode(input, &mode) != 0 && ConsoleKeyPending(input);
        }
        case FILE_TYPE_PIPE: {
            DWORD waiting = 0;
            return PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr) != 0 &&
                   waiting > 0;
        }
        case FILE_TYPE_DISK:
            return FileHasBytesLeft(input);
        default:
            return false;
    }
}

void SleepMs(unsigned milliseconds) {
    // The default timer period of about 15.6 ms would stretch every 5 ms
    // tick threefold; 1 ms holds from the first sleep to the end.
    if (!g_timerPeriodSet) {
        g_timerPeriodSet = timeBeginPeriod(1) == TIMERR_NOERROR;
        if (g_timerPeriodSet) std::atexit(EndTimerPeriod);
    }
    Sleep(milliseconds);
}

std::int64_t MonotonicNanoseconds() {
    static const std::int64_t ticksPerSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<std::int64_t>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::int64_t ticks = now.QuadPart;
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return ticks / ticksPerSecond * 1000000000LL + ticks % ticksPerSecond * 1000000000LL / ticksPerSecond;
}

void SleepUntil(std::int64_t deadlineNs) {
    const std::int64_t remainingNs = deadlineNs - MonotonicNanoseconds();
    if (remainingNs <= 0) return;
    // Sleep takes whole milliseconds; rounding to the nearest keeps a series
    // of deadlines on time on average, since each one is absolute.
    SleepMs(static_cast<unsigned>((remainingNs + 500000) / 1000000));
}

// The console's input is not waited on here: each tick tests it (KeyPending).
KeyWatch SleepUntilWatchingKeys(std::int64_t deadlineNs) {
    SleepUntil(deadlineNs);
    return KeyWatch::NotWatched;
}

std::string ExecutableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string();
        // A cut name fills the whole buffer.
        if (length < buffer.size()) {
            const std::string path = Utf8(std::wstring(buffer.data(), length));
            const std::size_t separator = path.find_last_of("\\/");
            if (separator == std::string::npos) return std::string();
            // "C:" alone would mean the current folder of drive C.
            if (separator == 2 && path[1] == ':') return path.substr(0, 3);
            return path.substr(0, separator);
        }
        if (buffer.size() >= 32768) return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
