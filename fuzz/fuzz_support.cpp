#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz_support {
namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

void FailCheck(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

int WriteSeeds(int argc, char** argv, const char* extension,
               std::vector<Seed> (*makeSeeds)()) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argc > 0 ? argv[0] : "seeds");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Seed> seeds = makeSeeds();
    for (const Seed& seed : seeds) {
        if (seed.bytes.empty() || !WriteFile(folder + "/" + seed.name + extension, seed.bytes)) {
            std::fprintf(stderr, "cannot write seed %s\n", seed.name.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), folder.c_str());
    return 0;
}

}  // namespace fuzz_support
