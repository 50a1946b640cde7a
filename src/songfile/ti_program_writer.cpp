// Writing TI-83 Plus program files with one variable.
#include "songfile/songfile.h"

#include <cassert>
#include <string>
#include <utility>

#include "songfile/little_endian.h"

namespace songfile {
namespace {

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

fenk::Result<std::vector<std::uint8_t>> BuildTiProgramFile(const TiProgramSpec& spec) {
    if (spec.body.size() > kMaxProgramBody) {
        return fenk::Failed<std::vector<std::uint8_t>>(
            fenk::Failure::Failed, "the program body of " + std::to_string(spec.body.size()) +
                                       " bytes is larger than the " + std::to_string(kMaxProgramBody) +
                                       " a program holds");
    }
    // The variable data is the program's size word followed by the body.
    const std::size_t variableLength = spec.body.size() + 2;

    // Each field is appended where the layout puts it.
    const TiHeaderLayout& header = kTiHeader;
    std::vector<std::uint8_t> file(kTiSignature, kTiSignature + kTiSignatureBytes);
    file.reserve(header.size + spec.body.size() + 2);
    assert(file.size() == header.comment.offset);
    AppendField(file, spec.comment, header.comment.size);
    AppendWord(file, kTiDataSectionOverhead + variableLength);
    AppendWord(file, kTiEntryHeaderLength);
    AppendWord(file, variableLength);
    assert(file.size() == header.type.offset);
    file.push_back(spec.type);
    AppendField(file, spec.name, header.name.size);
    assert(file.size() == header.version.offset);
    file.push_back(spec.version);
    file.push_back(spec.flags);
    assert(file.size() == header.dataLength.offset);
    AppendWord(file, variableLength);
    AppendWord(file, spec.body.size());
    assert(file.size() == header.size);
    file.insert(file.end(), spec.body.begin(), spec.body.end());
    // The checksum: the data section's bytes, from the entry header's length.
    AppendWord(file, SumBytes(file, header.entryHeaderLength.offset, file.size()));
    return fenk::Succeeded(std::move(file));
}

bool ComputeTiChecksum(const std::vector<std::uint8_t>& file,
                       std::uint16_t* checksum) {
    if (checksum == nullptr) return false;
    const std::size_t start = kTiHeader.entryHeaderLength.offset;  // the data section
    if (file.size() < start) return false;
    const std::size_t sectionLength = WordAt(file.data() + kTiHeader.dataSectionLength.offset);
    // The data section and the two checksum bytes after it must be there.
    if (file.size() - start < sectionLength + 2) return false;
    *checksum = SumBytes(file, start, start + sectionLength);
    return true;
}

}  // namespace songfile
