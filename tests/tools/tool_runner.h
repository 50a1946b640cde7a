// Running the real tool programs from a test.
#pragma once

#include <string>
#include <vector>

namespace tool_tests {

struct RunResult {
    int exitStatus = -1;  // -1 when the program did not exit normally
    std::string out;      // everything written to standard output
    std::string err;      // everything written to standard error
};

// Runs `program` with `arguments` (no shell), standard input from
// /dev/null, and waits for it (killed after two minutes, a hang).
RunResult Run(const std::string& program, const std::vector<std::string>& arguments);

// How many entries the folder holds (0 when it cannot be read).
std::size_t EntriesIn(const std::string& folder);

}  // namespace tool_tests
