// Reading the first variable of a TI-83 Plus program file.
#include "songfile/songfile.h"

#include <algorithm>
#include <utility>

#include "songfile/little_endian.h"

namespace songfile {

bool HasTiSignature(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() >= kTiSignatureBytes && std::equal(kTiSignature, kTiSignature + kTiSignatureBytes, bytes.begin());
}

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

fenk::Result<TiVariable> ReadTiVariable(const std::uint8_t* bytes, std::size_t length) {
    const ReadResult read = ReadTiProgramBytes(bytes, length);
    if (!read.ok()) return fenk::Failed<TiVariable>(fenk::Failure::Failed, read.reason);
    // The data starts at the size word (72), not at the block the reader
    // hands the song parser (74).
    const TiHeaderLayout& header = kTiHeader;
    const std::size_t start = header.sizeWord.offset;
    const std::size_t dataLength = read.value.declaredLength;
    if (length - start < dataLength)
        return fenk::Failed<TiVariable>(fenk::Failure::Failed, "the file ends inside the variable's data");
    TiVariable variable;
    variable.name = NameText(read.value);
    variable.type = bytes[header.type.offset];
    variable.version = bytes[header.version.offset];
    variable.flags = bytes[header.flags.offset];
    variable.data.assign(bytes + start, bytes + start + dataLength);
    return fenk::Succeeded(std::move(variable));
}

}  // namespace songfile
