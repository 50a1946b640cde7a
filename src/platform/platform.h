// The player's contact with the operating system: console output, the
// keyboard test, sleeping and finding installed data files.
//
// The per-OS parts live in one file per OS (platform_posix.cpp,
// platform_windows.cpp); this header is the same on every OS.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// ---------------------------------------------------------------------------
// Console

// Makes standard output unbuffered when it is a terminal, so that every
// piece of output (a status line ending in "\r" included) is on the screen
// at once; leaves it fully buffered when redirected. On POSIX it also opens
// /dev/null on standard input, output or error when the parent left one
// closed, so that no file opened later takes its place (and is taken for
// keyboard input). Call once, first, before any output.
void SetUpConsoleOutput();

// Prepares the keyboard for KeyPending for the rest of the run: on a POSIX
// terminal, non-canonical no-echo mode, restored by EndKeyboardPolling, at
// exit, and on SIGINT, SIGTERM, SIGHUP (restore, then end by the signal) and
// across SIGTSTP/SIGCONT. The mode is set only while the program is the
// terminal's foreground job: a job in the background leaves the terminal
// alone and sets the mode when continued in the foreground. Does nothing
// when standard input is not a terminal.
void BeginKeyboardPolling();
// Text for standard output when the terminal is handed back to the shell
// by a stop (Ctrl+Z) and when it is taken again on continuing: a program
// that draws a screen of its own leaves and re-enters it there. Both are
// written from the signal handler, so they must stay valid (string
// literals); null (the default) writes nothing. POSIX terminals only.
void SetTerminalHandoverText(const char* whenStopped, const char* whenContinued);

// Restores the terminal as BeginKeyboardPolling found it (TCSANOW, so that
// bytes typed stay unread). Safe to call when nothing was changed.
void EndKeyboardPolling();

// True when a key press waits in the console input; returns at once and
// leaves the key unread. On a pipe or a file, bytes waiting count as a key;
// end of input, /dev/null or a closed standard input is never a key. On a
// POSIX terminal after BeginKeyboardPolling, nothing counts while the
// program runs in the background (the terminal belongs to another job).
bool KeyPending();

// How SleepUntilWatchingKeys went: whether it watched the console input
// meanwhile, and whether a key (as KeyPending counts one) came.
enum class KeyWatch {
    NotWatched,  // it only slept: ask KeyPending
    NoKey,       // it watched, and no key came
    Key,         // it watched, and a key waits (left unread)
};

// Sleeps as SleepUntil does, and on a POSIX terminal (while the program is
// its foreground job after BeginKeyboardPolling), a pipe, a FIFO or a
// socket waits for a key in the same system call, so that a tick's sleep
// and its key test cost one call: a key that comes during the sleep is
// noted and the rest of the sleep slept. Standard input that cannot bring
// keys (a regular file, /dev/null, a terminal of another job, Windows'
// console) is not watched.
KeyWatch SleepUntilWatchingKeys(std::int64_t deadlineNs);

// Sleeps for `milliseconds` ms, resuming after an interruption by a signal
// with the time that remained. On Windows the timer period is set to 1 ms at
// the first call (until exit), so that short sleeps are not stretched.
void SleepMs(unsigned milliseconds);

// The monotonic clock, in ns from an arbitrary start; never goes back.
std::int64_t MonotonicNanoseconds();

// Sleeps until MonotonicNanoseconds() reaches `deadlineNs` (returns at once
// when it has passed), resuming after an interruption by a signal. Waking
// is late by the system's timer granularity only (tens of microseconds on
// Linux; up to about a millisecond on Windows, with the timer period of
// SleepMs), and the lateness does not add up over a series of deadlines.
void SleepUntil(std::int64_t deadlineNs);

// ---------------------------------------------------------------------------
// Data files

// Where a data file named on the command line is looked for: `path` itself
// when it is absolute or exists from the current directory; otherwise the
// same relative path beside the executable, then in share/fenk beside the
// executable's folder (<executable's folder>/../share/fenk, where a tree
// installed or unpacked under any prefix keeps its data), then in the
// installed data directory (<prefix>/share/fenk, fixed at build time), then
// in the packages' (/usr/share/fenk unless configured otherwise).
// Returns the first that exists and is not a directory, or `path` unchanged
// when none does (an empty path stays empty).
std::string ResolveDataFile(const std::string& path);

// The folder of the running executable, without a trailing separator; empty
// when the OS does not say.
std::string ExecutableDirectory();

}  // namespace platform
