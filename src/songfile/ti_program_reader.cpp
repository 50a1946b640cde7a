// Reading the first variable of a TI-83 Plus program file.
#include "songfile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

namespace songfile {
namespace {

// The first 11 bytes of every TI-83 Plus file: "**TI83F*" 1A 0A 00.
constexpr unsigned char kSignature[11] = {0x2A, 0x2A, 0x54, 0x49, 0x38, 0x33,
                                          0x46, 0x2A, 0x1A, 0x0A, 0x00};

// Closes the stream on every way out of the reader.
struct FileCloser {
    std::FILE* file;
    ~FileCloser() { std::fclose(file); }
};

// Reads `count` bytes into `out` (or drops them when `out` is null); false
// when the file ends first.
bool ReadBytes(std::FILE* file, std::size_t count, unsigned char* out) {
    for (std::size_t i = 0; i < count; ++i) {
        int byte = std::fgetc(file);
        if (byte == EOF) return false;
        if (out != nullptr) out[i] = static_cast<unsigned char>(byte);
    }
    return true;
}

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

ReadResult ReadTiProgramFile(const char* path) {
    ReadResult result;
    result.failure = ReadFailure::OpenFailed;
    if (path == nullptr) return result;

    // fopen would succeed on a directory (and then fail every read), would
    // block on a FIFO until a writer turns up, and a device may never end;
    // only a regular file (or a link to one) is a song file. The path is
    // UTF-8 on every OS.
    std::error_code error;
    std::filesystem::file_status status =
        std::filesystem::status(std::filesystem::u8path(path), error);
    if (error || !std::filesystem::is_regular_file(status)) return result;

    std::FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) return result;
    FileCloser closer{stream};

    // From here on every early end of the file before L is complete means
    // the file is not a program file we can use.
    result.failure = ReadFailure::NotTiProgram;

    // Offsets 0..10: compared a byte at a time, so a wrong file is left
    // after its first differing byte.
    for (unsigned char expected : kSignature) {
        int byte = std::fgetc(stream);
        if (byte == EOF || static_cast<unsigned char>(byte) != expected) {
            return result;
        }
    }

    TiProgramFile file;
    unsigned char comment[42];
    unsigned char name[8];
    unsigned char length[2];
    if (!ReadBytes(stream, sizeof comment, comment)) return result;  // 11
    // 53..59: data section length, entry header length, variable data
    // length and type; none of them is checked.
    if (!ReadBytes(stream, 7, nullptr)) return result;
    if (!ReadBytes(stream, sizeof name, name)) return result;  // 60
    if (!ReadBytes(stream, 2, nullptr)) return result;  // 68, 69: version, flags
    if (!ReadBytes(stream, sizeof length, length)) return result;  // 70: L

    for (std::size_t i = 0; i < sizeof comment; ++i) {
        file.comment[i] = static_cast<char>(comment[i]);
    }
    for (std::size_t i = 0; i < sizeof name; ++i) {
        file.name[i] = static_cast<char>(name[i]);
    }
    file.name[8] = '\0';
    file.declaredLength = static_cast<std::uint16_t>(length[0] | (length[1] << 8));

    // 72: the program's size word, then the block of L bytes at 74. A file
    // that ends early keeps what it had; IsTruncated tells the caller.
    file.data.reserve(file.declaredLength);
    if (ReadBytes(stream, 2, nullptr)) {
        while (file.data.size() < file.declaredLength) {
            int byte = std::fgetc(stream);
            if (byte == EOF) break;
            file.data.push_back(static_cast<std::uint8_t>(byte));
        }
    }

    result.failure = ReadFailure::None;
    result.file = std::move(file);
    return result;
}

}  // namespace songfile
