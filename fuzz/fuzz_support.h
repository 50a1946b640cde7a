// What the fuzz targets and their seed generators share: a check that
// aborts (so that libFuzzer keeps the input that broke it), and the main
// of a program that writes a folder of seed inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fuzz_support {

// Prints "FILE:LINE: check failed: CONDITION" on standard error and aborts.
[[noreturn]] void FailCheck(const char* file, int line, const char* condition);

// One seed input: written as <name><extension> in the seed folder.
struct Seed {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// The whole main of a seed generator, called as `PROGRAM FOLDER`: builds the
// seeds with `makeSeeds` and writes each one to FOLDER/<name><extension>
// (extension with its dot, e.g. ".wav"). Returns the exit status: 0 when
// all are written (and says how many), 2 with a usage line when the
// arguments are not one folder, 1 when a seed is empty (its builder failed)
// or cannot be written.
int WriteSeeds(int argc, char** argv, const char* extension,
               std::vector<Seed> (*makeSeeds)());

}  // namespace fuzz_support

// Checks a fuzz target's own promise about what the code under test did;
// fails like a crash when it does not hold.
#define FUZZ_CHECK(condition)                                                    \
    do {                                                                         \
        if (!(condition)) ::fuzz_support::FailCheck(__FILE__, __LINE__, #condition); \
    } while (0)
