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

#include "tool_support.h"

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

PendingFileResult BeginPendingFile(const std::string& finalPath) {
    PendingFileResult result;
    // The temporary name starts with the final name so that a file left
    // behind by a killed run says what it was meant to be.
    std::string pattern = finalPath + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        result.error = "cannot create a file in '" + FolderOf(finalPath) +
                       "': " + std::strerror(errno);
        return result;
    }
    // mkstemp makes the file private (0600); give it the permissions an
    // ordinary new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    result.file.finalPath = finalPath;
    result.file.temporaryPath = name.data();
    result.file.descriptor = descriptor;
    result.ok = true;
    return result;
}

bool CommitPendingFile(PendingFile& file, std::string* error) {
    CloseDescriptor(file);
    if (std::rename(file.temporaryPath.c_str(), file.finalPath.c_str()) != 0) {
        *error = "cannot write '" + file.finalPath + "': " + std::strerror(errno);
        unlink(file.temporaryPath.c_str());
        return false;
    }
    return true;
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
