// Running the real tool programs from a test, and reading their JSON.
#pragma once

#include <map>
#include <memory>
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

// The whole content of a file, or "" when it does not exist.
std::string ReadFile(const std::string& path);
// How many entries the folder holds (0 when it cannot be read).
std::size_t EntriesIn(const std::string& folder);

// A parsed JSON value; enough of JSON for the tools' output.
struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string string;                  // decoded, as UTF-8
    std::vector<Json> array;
    std::map<std::string, Json> object;

    // Member `key` of an object; a Null value when there is none.
    const Json& operator[](const std::string& key) const;
    const Json& operator[](std::size_t index) const;
};

// Parses one JSON text (RFC 8259, whitespace allowed around it). False with
// `error` set when the text is not valid JSON.
bool ParseJson(const std::string& text, Json* value, std::string* error);

}  // namespace tool_tests
