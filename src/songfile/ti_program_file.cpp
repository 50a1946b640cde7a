// Reading a TI-83 Plus program file from disk; the bytes are then read as
// ReadTiProgramBytes reads them. Apart from the reader, for the builds that
// have no files (the browser's).
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "songfile/songfile.h"

namespace songfile {
namespace {

// Closes the stream on every way out of the reader.
struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

}  // namespace

ReadResult ReadTiProgramFile(const char* path) {
    const auto cannotOpen = [] {
        return fenk::Failed<TiProgramFile>(ReadFailure::OpenFailed, "cannot be opened for reading");
    };
    if (path == nullptr) return cannotOpen();

    // fopen would succeed on a directory (and then fail every read), would
    // block on a FIFO until a writer turns up, and a device may never end;
    // only a regular file (or a link to one) is a song file. The path is
    // UTF-8 on every OS.
    std::error_code error;
    std::filesystem::file_status status =
        std::filesystem::status(std::filesystem::u8path(path), error);
    if (error || !std::filesystem::is_regular_file(status)) return cannotOpen();

    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) return cannotOpen();
    FileCloser closer{stream};
    // Read once, forward: no more than the header and the longest block
    // that L can declare, whatever the file's size.
    std::vector<std::uint8_t> bytes(kTiHeader.size + 65535);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), stream);
    return ReadTiProgramBytes(bytes.data(), got);
}

}  // namespace songfile
