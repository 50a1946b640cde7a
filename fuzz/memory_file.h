// A file in memory with a path, for feeding fuzzer input to code that reads
// files by name. Linux only (memfd), as are the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_support {

struct MemoryFile {
    int descriptor = -1;  // the memfd, open for the life of the process
    std::string path;     // "/proc/self/fd/N": opens the file afresh, at offset 0
};

// Creates the file once (memfd_create); `descriptor` is -1 on failure.
MemoryFile MakeMemoryFile(const char* name);

// Replaces the file's contents by `size` bytes from `bytes`; false when the
// file cannot be written.
bool SetContents(const MemoryFile& file, const std::uint8_t* bytes, std::size_t size);

}  // namespace fuzz_support
