// The Windows half of tool_support.h: temporary files, the replacing
// rename, the console test and Ctrl+C. Paths are UTF-8 (the programs run
// with UTF-8 as their code page) and reach the system as UTF-16.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "tools/common/tool_support.h"
#include "tools/common/tool_support_os.h"

namespace tools {

namespace {

std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<std::size_t>(length) - 1);  // the terminating NUL
    return wide;
}

std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return ".";
    return path.substr(0, separator + (separator == 0 ? 1 : 0));
}

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

void CloseDescriptor(PendingFile& file) {
    if (file.descriptor >= 0) {
        _close(file.descriptor);
        file.descriptor = -1;
    }
}

}  // namespace

fenk::Result<PendingFile> BeginPendingFile(const std::string& finalPath) {
    // The temporary name starts with the final name so that a file left
    // behind by a killed run says what it was meant to be. _O_EXCL makes a
    // name already taken fail, and another is tried.
    std::random_device seed;
    std::mt19937 random(seed());
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = finalPath + ".tmp-";
        for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
        const int descriptor = _wopen(Wide(name).c_str(),
                                      _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                                      _S_IREAD | _S_IWRITE);
        if (descriptor >= 0) {
            PendingFile file;
            file.finalPath = finalPath;
            file.temporaryPath = name;
            file.descriptor = descriptor;
            return fenk::Succeeded(std::move(file));
        }
        if (errno != EEXIST) break;
    }
    return fenk::Failed<PendingFile>(fenk::Failure::Failed, "cannot create a file in '" +
                                                                FolderOf(finalPath) + "': " +
                                                                std::strerror(errno));
}

long WriteSome(int descriptor, const void* bytes, std::size_t size) {
    // _write takes an unsigned int count.
    const unsigned int chunk = size < (1u << 30) ? static_cast<unsigned int>(size) : (1u << 30);
    return _write(descriptor, bytes, chunk);
}

// Windows writes cached data back on its own; FlushFileBuffers in Commit
// is the only wait.
void StartWritingBack(PendingFile&) {}

fenk::Status CommitPendingFile(PendingFile& file) {
    // The data must be on the disk before the move makes it the file.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.descriptor));
    const bool flushed = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
    const DWORD flushError = GetLastError();
    const bool closed = _close(file.descriptor) == 0;
    file.descriptor = -1;
    if (!flushed || !closed) {
        const std::string why = flushed ? std::string(std::strerror(errno)) : SystemMessage(flushError);
        _wunlink(Wide(file.temporaryPath).c_str());
        return fenk::Fail("cannot write '" + file.finalPath + "': " + why);
    }
    // std::rename fails on Windows when the target exists; this replaces it
    // in one step, and returns only once the move is on the disk.
    if (!MoveFileExW(Wide(file.temporaryPath).c_str(), Wide(file.finalPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string why = SystemMessage(GetLastError());
        _wunlink(Wide(file.temporaryPath).c_str());
        return fenk::Fail("cannot write '" + file.finalPath + "': " + why);
    }
    return fenk::Success();
}

void DiscardPendingFile(PendingFile& file) {
    CloseDescriptor(file);
    if (!file.temporaryPath.empty()) _wunlink(Wide(file.temporaryPath).c_str());
}

namespace {

// The volume and file index of the file at `path` (links followed).
bool FileIndex(const std::string& path, BY_HANDLE_FILE_INFORMATION* information) {
    const HANDLE handle = CreateFileW(Wide(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, information) != 0;
    CloseHandle(handle);
    return known;
}

}  // namespace

bool SameExistingFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return FileIndex(a, &first) && FileIndex(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool StandardErrorIsTerminal() {
    // _isatty is true for the NUL device too; only a console has a mode.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {

volatile LONG interrupted = 0;

BOOL WINAPI NoteInterrupt(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            InterlockedExchange(&interrupted, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void WatchInterrupts() { SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&interrupted, 0, 0) != 0; }

void ExitAsInterrupted() {
    std::fflush(nullptr);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace tools
