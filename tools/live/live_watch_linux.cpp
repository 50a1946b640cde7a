// Watching the song file with inotify. The folder is watched, not the file:
// an editor that saves by writing a new file and renaming it over the old
// one leaves a watch on the old file's inode behind.
#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "tools/live/live_system.h"

namespace live {

namespace {

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

std::string NameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

FileWatch StartWatching(const std::string& path) {
    FileWatch watch;
    watch.path = path;
    TakeFileStamp(watch);
    const int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0) return watch;  // polled instead
    if (inotify_add_watch(descriptor, FolderOf(path).c_str(),
                          IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MODIFY) < 0) {
        close(descriptor);
        return watch;
    }
    watch.descriptor = descriptor;
    return watch;
}

bool FileChanged(FileWatch& watch) {
    if (watch.descriptor < 0) return PolledFileChanged(watch);
    const std::string name = NameOf(watch.path);
    bool changed = false;
    alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t got = read(watch.descriptor, buffer, sizeof buffer);
        if (got <= 0) break;  // EAGAIN: nothing more now
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* eventName = buffer + at + sizeof(inotify_event);
            if (event.len > 0 && name == eventName) changed = true;
            if ((event.mask & IN_Q_OVERFLOW) != 0) changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    return changed;
}

void StopWatching(FileWatch& watch) {
    if (watch.descriptor >= 0) close(watch.descriptor);
    watch.descriptor = -1;
}

}  // namespace live
