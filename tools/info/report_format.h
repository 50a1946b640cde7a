// Numbers as fenk-info's report writes them; internal to fenk-info.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace info {

inline std::string Hex4(std::size_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%04zX", value);
    return buffer;
}

inline std::string Decimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace info
