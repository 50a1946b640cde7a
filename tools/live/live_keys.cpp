// The OS-independent parts of live_system.h: terminal key sequences, the
// screen's output, and polling a file's time and size.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tools/live/live_system.h"
#include "platform/platform.h"

namespace live {

std::vector<KeyPress> ParseKeyBytes(const std::string& bytes) {
    std::vector<KeyPress> keys;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[at]);
        if (c != 0x1B) {
            if (c == ' ') {
                keys.push_back({Key::Space, 0});
            } else if (c > 0x20 && c < 0x7F) {
                keys.push_back({Key::Character, static_cast<char>(c)});
            }
            ++at;
            continue;
        }
        // ESC: alone, or the start of a CSI (ESC [) or SS3 (ESC O) sequence.
        if (at + 1 >= bytes.size() || bytes[at + 1] == '\x1B') {
            keys.push_back({Key::Escape, 0});
            ++at;
            continue;
        }
        const char introducer = bytes[at + 1];
        if (introducer != '[' && introducer != 'O') {
            // ESC and a key: Alt with that key, which means nothing here.
            at += 2;
            continue;
        }
        // Parameters, then one final byte in 0x40..0x7E.
        std::size_t end = at + 2;
        while (end < bytes.size() && (bytes[end] < 0x40 || bytes[end] > 0x7E)) ++end;
        if (end >= bytes.size()) break;  // cut short: dropped
        const std::string parameters = bytes.substr(at + 2, end - at - 2);
        const char final = bytes[end];
        if (parameters.empty() && final == 'C') keys.push_back({Key::Right, 0});
        if (parameters.empty() && final == 'D') keys.push_back({Key::Left, 0});
        if ((parameters.empty() && final == 'H') ||
            (final == '~' && (parameters == "1" || parameters == "7"))) {
            keys.push_back({Key::Home, 0});
        }
        at = end + 1;
    }
    return keys;
}

bool EndsInsideEscape(const std::string& bytes) {
    const std::size_t escape = bytes.rfind('\x1B');
    if (escape == std::string::npos) return false;
    if (escape + 1 == bytes.size()) return true;
    const char introducer = bytes[escape + 1];
    if (introducer != '[' && introducer != 'O') return false;
    for (std::size_t at = escape + 2; at < bytes.size(); ++at) {
        if (bytes[at] >= 0x40 && bytes[at] <= 0x7E) return false;
    }
    return true;
}

void WriteScreen(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void TakeFileStamp(FileWatch& watch) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::u8path(watch.path);
    const auto modified = std::filesystem::last_write_time(path, error);
    watch.exists = !error;
    watch.modified = error ? 0 : static_cast<std::int64_t>(modified.time_since_epoch().count());
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    watch.size = error ? 0 : size;
}

namespace {

constexpr std::int64_t kPollIntervalNs = 250000000;

}  // namespace

std::int64_t NextFileLookNs(const FileWatch& watch) {
    return watch.descriptor >= 0 ? 0 : watch.lastPollNs + kPollIntervalNs;
}

bool PolledFileChanged(FileWatch& watch) {
    const std::int64_t now = platform::MonotonicNanoseconds();
    if (now - watch.lastPollNs < kPollIntervalNs) return false;
    watch.lastPollNs = now;
    const FileWatch before = watch;
    TakeFileStamp(watch);
    return watch.exists != before.exists || watch.modified != before.modified ||
           watch.size != before.size;
}

}  // namespace live
