#include "tool_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef FENK_VERSION
#error "FENK_VERSION must be defined by the build"
#endif

namespace tools {

namespace {

// The accepted option that `written` names: an exact match, or the only one
// that it is a prefix of. Null with `ambiguous` set when several fit.
const OptionSpec* FindOption(const std::vector<OptionSpec>& accepted,
                             const std::string& written, bool* ambiguous) {
    *ambiguous = false;
    const OptionSpec* found = nullptr;
    for (const OptionSpec& option : accepted) {
        if (option.name == written) return &option;
        if (option.name.compare(0, written.size(), written) == 0) {
            if (found != nullptr) *ambiguous = true;
            found = &option;
        }
    }
    return *ambiguous ? nullptr : found;
}

}  // namespace

ParsedArguments ParseArguments(int argc, char** argv,
                               const std::vector<OptionSpec>& accepted) {
    ParsedArguments result;
    bool optionsEnded = false;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        if (optionsEnded || argument.size() < 3 || argument.compare(0, 2, "--") != 0) {
            if (!optionsEnded && argument == "--") {
                optionsEnded = true;
                continue;
            }
            result.positionals.push_back(argument);
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string written = argument.substr(2, equals == std::string::npos
                                                           ? std::string::npos
                                                           : equals - 2);
        bool ambiguous = false;
        const OptionSpec* option = FindOption(accepted, written, &ambiguous);
        if (option == nullptr) {
            result.error = std::string(ambiguous ? "ambiguous option '--"
                                                 : "unknown option '--") +
                           written + "'";
            return result;
        }
        GivenOption given;
        given.name = option->name;
        if (option->takesValue) {
            if (equals != std::string::npos) {
                given.value = argument.substr(equals + 1);
            } else if (index + 1 < argc) {
                given.value = argv[++index];
            } else {
                result.error = "option '--" + option->name + "' needs a value";
                return result;
            }
        } else if (equals != std::string::npos) {
            result.error = "option '--" + option->name + "' takes no value";
            return result;
        }
        result.options.push_back(given);
    }
    result.ok = true;
    return result;
}

bool HasOption(const ParsedArguments& arguments, const std::string& name,
               std::string* value) {
    bool found = false;
    for (const GivenOption& option : arguments.options) {
        if (option.name != name) continue;
        found = true;
        if (value != nullptr) *value = option.value;
    }
    return found;
}

std::string VersionLine(const char* program) {
    return std::string(program) + " (Fenk) " FENK_VERSION "\n";
}

void PrintError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
}

StandardOptionsOutcome HandleStandardOptions(const char* program,
                                             const ParsedArguments& arguments,
                                             const char* helpText,
                                             std::size_t minimumPositionals,
                                             std::size_t maximumPositionals,
                                             const char* usageError) {
    const std::string tryHelp = std::string(" (try '") + program + " --help')";
    StandardOptionsOutcome outcome;
    if (!arguments.ok) {
        PrintError(program, arguments.error + tryHelp);
        outcome.exitStatus = 1;
    } else if (HasOption(arguments, "help")) {
        std::fputs(helpText, stdout);
    } else if (HasOption(arguments, "version")) {
        std::fputs(VersionLine(program).c_str(), stdout);
    } else if (arguments.positionals.size() < minimumPositionals ||
               arguments.positionals.size() > maximumPositionals) {
        PrintError(program, usageError + tryHelp);
        outcome.exitStatus = 1;
    } else {
        outcome.proceed = true;
    }
    return outcome;
}

bool WriteFileReplacing(const std::string& path,
                        const std::vector<std::uint8_t>& bytes,
                        std::string* error) {
    PendingFileResult pending = BeginPendingFile(path);
    if (!pending.ok) {
        *error = pending.error;
        return false;
    }
    std::FILE* stream = fdopen(pending.file.descriptor, "wb");
    if (stream == nullptr) {
        *error = "cannot write '" + path + "': " + std::strerror(errno);
        DiscardPendingFile(pending.file);
        return false;
    }
    pending.file.descriptor = -1;  // the stream owns it now
    const bool written =
        std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        *error = "cannot write '" + path + "': " +
                 std::strerror(written ? errno : writeErrno);
        DiscardPendingFile(pending.file);
        return false;
    }
    return CommitPendingFile(pending.file, error);
}

std::string WhyCannotOpen(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(std::filesystem::u8path(path), error);
    if (error) return error.message();
    if (std::filesystem::is_directory(status)) return "is a directory";
    if (!std::filesystem::is_regular_file(status)) return "not a regular file";
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return std::strerror(errno);
    std::fclose(stream);
    return "it cannot be read";
}

std::string OutputOverInput(const std::string& output, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        if (SameExistingFile(output, input)) {
            return "refusing to write '" + output + "': it is the input '" + input + "'";
        }
    }
    return std::string();
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes,
                   std::string* error) {
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        *error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> content;
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
        content.insert(content.end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(stream) != 0;
    const int readErrno = errno;
    std::fclose(stream);
    if (failed) {
        // A directory opens but cannot be read (EISDIR).
        *error = "cannot read '" + path + "': " + std::strerror(readErrno);
        return false;
    }
    *bytes = std::move(content);
    return true;
}

}  // namespace tools
