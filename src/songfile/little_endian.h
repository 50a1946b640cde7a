// Two-byte words as the TI file and the song block store every one of
// them: little-endian, low byte first. Internal to songfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace songfile {

// The word at `bytes`; the caller has checked that two bytes are there.
inline std::uint16_t WordAt(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// Appends the low 16 bits of `value`.
inline void AppendWord(std::vector<std::uint8_t>& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

}  // namespace songfile
