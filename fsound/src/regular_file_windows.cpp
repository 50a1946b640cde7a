// Opening a sample file on Windows: the file is opened once, its kind and
// size are checked on that handle, and the handle becomes a C runtime
// descriptor for libsndfile's sf_open_fd.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "regular_file.h"

namespace fsound {
namespace {

// Between 1601-01-01 (FILETIME's epoch) and 1970-01-01, in 100 ns ticks.
constexpr std::int64_t kFileTimeToUnixTicks = 116444736000000000;

// The path as UTF-16. A path that is not valid UTF-8 came from the ANSI code
// page (a program's narrow argv on Windows), so it is read in that one.
bool WidePath(const char* path, std::wstring& wide) {
    for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int length = MultiByteToWideChar(codePage, flags, path, -1, nullptr, 0);
        if (length <= 0) continue;
        wide.assign(static_cast<std::size_t>(length), L'\0');
        if (MultiByteToWideChar(codePage, flags, path, -1, &wide[0], length) != length) continue;
        wide.resize(static_cast<std::size_t>(length) - 1);  // the terminating NUL
        return true;
    }
    return false;
}

std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.sizeBytes == b.sizeBytes &&
           a.modifiedNs == b.modifiedNs;
}

OpenedFile OpenRegularFile(const char* path, std::int64_t maxBytes) {
    OpenedFile result;
    std::wstring wide;
    if (path == nullptr || !WidePath(path, wide) || wide.empty()) return result;
    // FILE_FLAG_BACKUP_SEMANTICS lets a directory open too, so that it is
    // told apart as "not a regular file" rather than "cannot open". The
    // handle is not inherited by child processes (no security attributes).
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            result.failure = OpenFailure::NotFound;
        }
        return result;
    }

    // A console, a pipe or a device (CON, NUL, COM1, \\.\pipe\...) is no
    // sample file, and reading one could wait for ever.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        result.failure = OpenFailure::NotRegularFile;
        return result;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(handle, &information) == 0) {
        CloseHandle(handle);
        return result;
    }
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        CloseHandle(handle);
        result.failure = OpenFailure::NotRegularFile;
        return result;
    }
    const std::int64_t sizeBytes =
        static_cast<std::int64_t>(Join(information.nFileSizeHigh, information.nFileSizeLow));
    if (sizeBytes > maxBytes) {
        CloseHandle(handle);
        result.failure = OpenFailure::TooLarge;
        return result;
    }

    // From here on the descriptor owns the handle: _close closes both.
    const int descriptor =
        _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return result;
    }
    result.failure = OpenFailure::None;
    result.descriptor = descriptor;
    result.identity.device = information.dwVolumeSerialNumber;
    result.identity.inode = Join(information.nFileIndexHigh, information.nFileIndexLow);
    result.identity.sizeBytes = sizeBytes;
    const std::int64_t ticks = static_cast<std::int64_t>(
        Join(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime));
    result.identity.modifiedNs = (ticks - kFileTimeToUnixTicks) * 100;
    return result;
}

void CloseFile(int descriptor) {
    if (descriptor >= 0) _close(descriptor);
}

std::int64_t ReadFileAt(int descriptor, std::int64_t offset, void* buffer, std::size_t count) {
    // The C runtime has no positioned read: seek, read, and seek back.
    const __int64 position = _telli64(descriptor);
    if (position < 0 || _lseeki64(descriptor, offset, SEEK_SET) < 0) return -1;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t step = std::min<std::size_t>(count - done, 1u << 30);
        const int got = _read(descriptor, static_cast<unsigned char*>(buffer) + done, static_cast<unsigned>(step));
        if (got < 0) {
            _lseeki64(descriptor, position, SEEK_SET);
            return -1;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    if (_lseeki64(descriptor, position, SEEK_SET) < 0) return -1;
    return static_cast<std::int64_t>(done);
}

std::int64_t FileSizeBytes(int descriptor) { return _filelengthi64(descriptor); }

}  // namespace fsound
