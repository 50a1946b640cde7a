// Opening a sample file: only a regular file, never waiting on a FIFO or a
// device, with the identity that tells an unchanged file from a new one.
// One implementation per operating system (regular_file_posix.cpp,
// regular_file_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fsound {

// What tells one file (and one version of it) from another.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t sizeBytes = 0;
    std::int64_t modifiedNs = 0;  // last modification, ns since the epoch
};

bool SameFile(const FileIdentity& a, const FileIdentity& b);

enum class OpenFailure {
    None,
    NotFound,        // nothing at that path (or a folder on it is missing)
    CannotOpen,      // no permission, a bad path
    NotRegularFile,  // a directory, a FIFO, a device, a socket
    TooLarge,        // over the size bound given
};

struct OpenedFile {
    OpenFailure failure = OpenFailure::CannotOpen;
    int descriptor = -1;  // open for reading when failure is None; close with CloseFile
    FileIdentity identity;
};

// Opens `path` for reading if it is a regular file of at most `maxBytes`
// bytes. The open does not block on a FIFO, a pipe or a device (each is
// refused as NotRegularFile), and the checks are made on the opened file, so
// it cannot be swapped in between. On Windows `path` is UTF-8, or in the
// ANSI code page when it is not valid UTF-8, and the descriptor is a C
// runtime one (_open_osfhandle).
OpenedFile OpenRegularFile(const char* path, std::int64_t maxBytes);

void CloseFile(int descriptor);

// Reads up to `count` bytes from byte `offset` of the file open on
// `descriptor` into `buffer`, leaving the file's position where it was.
// Returns the bytes read (fewer at the end of the file), or -1 on an error.
std::int64_t ReadFileAt(int descriptor, std::int64_t offset, void* buffer, std::size_t count);

// The length of the file open on `descriptor`, bytes; -1 on an error.
std::int64_t FileSizeBytes(int descriptor);

}  // namespace fsound
