// The platform layer in the browser: the page owns the keyboard and the
// screen, and time is the audio's own (the module never waits), so there
// is no console to set up, no key to test, no sleep and no data folder.
#include <ctime>

#include "platform/platform.h"

namespace platform {

void SetUpConsoleOutput() {}
void BeginKeyboardPolling() {}
void SetTerminalHandoverText(const char*, const char*) {}
void EndKeyboardPolling() {}
bool KeyPending() { return false; }
void SleepMs(unsigned) {}
void SleepUntil(std::int64_t) {}
KeyWatch SleepUntilWatchingKeys(std::int64_t) { return KeyWatch::NotWatched; }

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Files are handed to the module as bytes; a path is only a name.
std::string ResolveDataFile(const std::string& path) { return path; }
std::string ExecutableDirectory() { return std::string(); }

}  // namespace platform
