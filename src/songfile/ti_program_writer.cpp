// Writing TI-83 Plus program files with one variable.
#include "songfile.h"

#include "little_endian.h"

namespace songfile {
namespace {

// Offsets of the fields the writer and the checksum depend on.
constexpr std::size_t kDataSectionLengthOffset = 53;
constexpr std::size_t kDataSectionOffset = 55;  // the checksum starts here
// The entry header that carries version and flags (TI-83 Plus layout):
// data length, type, name, version, flags.
constexpr std::uint16_t kEntryHeaderLength = 13;
// Entry bytes around the variable data: header length word, the header
// itself and the second data length word.
constexpr std::size_t kEntryOverhead = 2 + kEntryHeaderLength + 2;

// Appends `text` cut or NUL-padded to exactly `width` bytes.
void AppendField(std::vector<std::uint8_t>& out, const std::string& text,
                 std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
    }
}

std::uint16_t SumBytes(const std::vector<std::uint8_t>& bytes,
                       std::size_t begin, std::size_t end) {
    unsigned sum = 0;
    for (std::size_t i = begin; i < end; ++i) sum += bytes[i];
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

}  // namespace

std::vector<std::uint8_t> BuildTiProgramFile(const TiProgramSpec& spec) {
    if (spec.body.size() > kMaxProgramBody) return {};
    // The variable data is the program's size word followed by the body.
    const std::size_t variableLength = spec.body.size() + 2;

    std::vector<std::uint8_t> file(kTiSignature, kTiSignature + kTiSignatureBytes);
    file.reserve(kTiHeaderBytes + spec.body.size() + 2);
    AppendField(file, spec.comment, 42);                  // 11
    AppendWord(file, kEntryOverhead + variableLength);    // 53
    AppendWord(file, kEntryHeaderLength);                 // 55
    AppendWord(file, variableLength);                     // 57
    file.push_back(spec.type);                            // 59
    AppendField(file, spec.name, 8);                      // 60
    file.push_back(spec.version);                         // 68
    file.push_back(spec.flags);                           // 69
    AppendWord(file, variableLength);                     // 70
    AppendWord(file, spec.body.size());                   // 72
    file.insert(file.end(), spec.body.begin(), spec.body.end());  // 74
    AppendWord(file, SumBytes(file, kDataSectionOffset, file.size()));
    return file;
}

bool ComputeTiChecksum(const std::vector<std::uint8_t>& file,
                       std::uint16_t* checksum) {
    if (checksum == nullptr) return false;
    if (file.size() < kDataSectionOffset) return false;
    const std::size_t sectionLength = file[kDataSectionLengthOffset] |
                                      (file[kDataSectionLengthOffset + 1] << 8);
    // The data section and the two checksum bytes after it must be there.
    if (file.size() - kDataSectionOffset < sectionLength + 2) return false;
    *checksum = SumBytes(file, kDataSectionOffset,
                         kDataSectionOffset + sectionLength);
    return true;
}

}  // namespace songfile
