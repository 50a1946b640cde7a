#include "tests/tools/tool_runner.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "tests/platform/child_process.h"

namespace tool_tests {

RunResult Run(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = child_process::ProgramCommand(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    const child_process::ProgramResult ran = child_process::RunProgram(command, {}, 120000);
    RunResult result;
    result.exitStatus = ran.ExitStatus();
    result.out = ran.out;
    result.err = ran.err;
    return result;
}

std::size_t EntriesIn(const std::string& folder) {
    std::error_code error;
    std::size_t entries = 0;
    for (std::filesystem::directory_iterator entry(folder, error), end;
         !error && entry != end; entry.increment(error)) {
        ++entries;
    }
    return entries;
}

}  // namespace tool_tests
