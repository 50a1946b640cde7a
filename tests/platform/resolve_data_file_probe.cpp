// Prints where platform::ResolveDataFile finds its argument, so that a test
// can copy this program into a folder layout of its own and see the lookup
// from there.
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH\n", argv[0]);
        return 2;
    }
    std::printf("%s\n", platform::ResolveDataFile(argv[1]).c_str());
    return 0;
}
