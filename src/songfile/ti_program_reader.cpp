// Reading the first variable of a TI-83 Plus program file.
#include "songfile.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "little_endian.h"

namespace songfile {
namespace {

// Closes the stream on every way out of the reader.
struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

}  // namespace

std::string NameText(const TiProgramFile& file) {
    std::size_t length = 0;
    while (length < 8 && file.name[length] != '\0') ++length;
    return std::string(file.name, length);
}

std::string CommentText(const TiProgramFile& file) {
    std::size_t length = 0;
    while (length < sizeof file.comment && file.comment[length] != '\0') {
        ++length;
    }
    return std::string(file.comment, length);
}

bool IsTruncated(const TiProgramFile& file) {
    return file.data.size() < file.declaredLength;
}

ReadResult ReadTiProgramBytes(const std::uint8_t* bytes, std::size_t length) {
    const auto notProgram = [] {
        return fenk::Failed<TiProgramFile>(ReadFailure::NotTiProgram, "not a TI-83 Plus program file");
    };
    // Offsets 0..10: the signature; then the comment (11), the header words
    // that are not checked (53..59), the name (60), version and flags (68,
    // 69) and L (70). A file that ends before L is complete is no program
    // file we can use.
    if (bytes == nullptr || length < kTiSignatureBytes ||
        !std::equal(kTiSignature, kTiSignature + kTiSignatureBytes, bytes)) {
        return notProgram();
    }
    const TiHeaderLayout& header = kTiHeader;
    if (length < header.dataLength.offset + header.dataLength.size) return notProgram();

    TiProgramFile file;
    static_assert(sizeof file.comment == kTiHeader.comment.size, "the comment field");
    static_assert(sizeof file.name == kTiHeader.name.size + 1, "the name and its NUL");
    for (std::size_t i = 0; i < header.comment.size; ++i) {
        file.comment[i] = static_cast<char>(bytes[header.comment.offset + i]);
    }
    for (std::size_t i = 0; i < header.name.size; ++i)
        file.name[i] = static_cast<char>(bytes[header.name.offset + i]);
    file.name[header.name.size] = '\0';
    file.declaredLength = WordAt(bytes + header.dataLength.offset);

    // 72: the program's size word, then the block of L bytes at 74. A file
    // that ends early keeps what it has; IsTruncated tells the caller.
    if (length > header.size) {
        const std::size_t available = std::min<std::size_t>(length - header.size, file.declaredLength);
        file.data.assign(bytes + header.size, bytes + header.size + available);
    }
    return fenk::Succeeded<TiProgramFile, ReadFailure>(std::move(file));
}

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
