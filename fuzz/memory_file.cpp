#include "fuzz/memory_file.h"

#include <sys/mman.h>
#include <unistd.h>

namespace fuzz_support {

MemoryFile MakeMemoryFile(const char* name) {
    MemoryFile file;
    file.descriptor = memfd_create(name, MFD_CLOEXEC);
    if (file.descriptor >= 0) {
        file.path = "/proc/self/fd/" + std::to_string(file.descriptor);
    }
    return file;
}

bool SetContents(const MemoryFile& file, const std::uint8_t* bytes, std::size_t size) {
    if (file.descriptor < 0 || ftruncate(file.descriptor, 0) != 0) return false;
    std::size_t written = 0;
    while (written < size) {
        // pwrite keeps the descriptor's own offset out of the way of the
        // reader, which opens the path anew.
        ssize_t result = pwrite(file.descriptor, bytes + written, size - written,
                                static_cast<off_t>(written));
        if (result <= 0) return false;
        written += static_cast<std::size_t>(result);
    }
    return true;
}

}  // namespace fuzz_support
