// The POSIX half of tool_support.h: temporary files, rename, terminal test.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>

#include "tools/common/tool_support.h"
#include "tools/common/tool_support_os.h"

namespace tools {

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void CloseDescriptor(PendingFile& file) {
    if (file.descriptor >= 0) {
        close(file.descriptor);
        file.descriptor = -1;
    }
}

}  // namespace

fenk::Result<PendingFile> BeginPendingFile(const std::string& finalPath) {
    // The temporary name starts with the final name so that a file left
    // behind by a killed run says what it was meant to be.
    std::string pattern = finalPath + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        return fenk::Failed<PendingFile>(fenk::Failure::Failed, "cannot create a file in '" +
                                                                    FolderOf(finalPath) + "': " +
                                                                    std::strerror(errno));
    }
    // mkstemp makes the file private (0600); give it the permissions an
    // ordinary new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    PendingFile file;
    file.finalPath = finalPath;
    file.temporaryPath = name.data();
    file.descriptor = descriptor;
    return fenk::Succeeded(std::move(file));
}

long WriteSome(int descriptor, const void* bytes, std::size_t size) {
    for (;;) {
        const ssize_t written = write(descriptor, bytes, size);
        if (written >= 0 || errno != EINTR) return written;
    }
}

void StartWritingBack(PendingFile& file) {
    constexpr off_t kWriteBackBytes = off_t{8} << 20;
    const off_t end = lseek(file.descriptor, 0, SEEK_CUR);
    if (end < 0 || end - file.writtenBackTo < kWriteBackBytes) return;
#if defined(SYNC_FILE_RANGE_WRITE)
    sync_file_range(file.descriptor, file.writtenBackTo, end - file.writtenBackTo, SYNC_FILE_RANGE_WRITE);
#endif
    file.writtenBackTo = end;
}

fenk::Status CommitPendingFile(PendingFile& file) {
    // The data must be on the disk before the rename makes it the file: a
    // file system may commit the rename first, and a crash in between would
    // leave an empty or short file under the final name.
    const bool synced = fsync(file.descriptor) == 0;
    int failure = errno;
    const bool closed = close(file.descriptor) == 0;
    if (synced && !closed) failure = errno;
    file.descriptor = -1;
    if (!synced || !closed) {
        unlink(file.temporaryPath.c_str());
        return fenk::Fail("cannot write '" + file.finalPath + "': " + std::strerror(failure));
    }
    if (std::rename(file.temporaryPath.c_str(), file.finalPath.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        unlink(file.temporaryPath.c_str());
        return fenk::Fail("cannot write '" + file.finalPath + "': " + why);
    }
    // The rename lives in the folder: sync it so that the new name survives.
    const int folder = open(FolderOf(file.finalPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return fenk::Success();  // a folder we may not open for reading: nothing to sync
    // Some file systems cannot sync a folder (EINVAL); that is no failure.
    const bool folderSynced = fsync(folder) == 0 || errno == EINVAL;
    failure = errno;
    close(folder);
    if (!folderSynced) {
        return fenk::Fail("cannot write '" + file.finalPath + "': " + std::strerror(failure));
    }
    return fenk::Success();
}

void DiscardPendingFile(PendingFile& file) {
    CloseDescriptor(file);
    if (!file.temporaryPath.empty()) unlink(file.temporaryPath.c_str());
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

namespace {

volatile sig_atomic_t interruptSignal = 0;

void NoteInterrupt(int signal) { interruptSignal = signal; }

}  // namespace

void WatchInterrupts() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return interruptSignal != 0; }

void ExitAsInterrupted() {
    const int number = interruptSignal != 0 ? interruptSignal : SIGINT;
    std::signal(number, SIG_DFL);
    std::raise(number);
    _exit(128 + number);  // only when the signal is blocked
}

}  // namespace tools
