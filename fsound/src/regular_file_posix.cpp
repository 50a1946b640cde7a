#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "regular_file.h"

namespace fsound {

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.sizeBytes == b.sizeBytes &&
           a.modifiedNs == b.modifiedNs;
}

OpenedFile OpenRegularFile(const char* path, std::int64_t maxBytes) {
    OpenedFile result;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. The type is checked on the open descriptor, so the file cannot
    // be swapped between the check and the read.
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        if (errno == ENOENT || errno == ENOTDIR) result.failure = OpenFailure::NotFound;
        return result;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        close(descriptor);
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        close(descriptor);
        result.failure = OpenFailure::NotRegularFile;
        return result;
    }
    if (status.st_size > maxBytes) {
        close(descriptor);
        result.failure = OpenFailure::TooLarge;
        return result;
    }
    // Reads from a regular file never block anyway; clear the flag so the
    // decoder sees an ordinary descriptor.
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    result.failure = OpenFailure::None;
    result.descriptor = descriptor;
    result.identity.device = static_cast<std::uint64_t>(status.st_dev);
    result.identity.inode = static_cast<std::uint64_t>(status.st_ino);
    result.identity.sizeBytes = static_cast<std::int64_t>(status.st_size);
    result.identity.modifiedNs =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return result;
}

void CloseFile(int descriptor) {
    if (descriptor >= 0) close(descriptor);
}

std::int64_t ReadFileAt(int descriptor, std::int64_t offset, void* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(descriptor, static_cast<unsigned char*>(buffer) + done, count - done,
                                  static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t FileSizeBytes(int descriptor) {
    struct stat information;
    if (fstat(descriptor, &information) != 0) return -1;
    return static_cast<std::int64_t>(information.st_size);
}

}  // namespace fsound
