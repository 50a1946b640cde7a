#include "tools/common/tool_support.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "fenk_version.h"
#include "tools/common/tool_support_os.h"

namespace tools {

StandardOptionsOutcome ParseCommandLine(const char* program, CLI::App& app, int argc,
                                        const char* const* argv) {
    StandardOptionsOutcome outcome;
    app.set_version_flag("--version", VersionLine(program), "output version information and exit");
    // On Windows CLI11 would take "/x" for an option; a path may begin so.
    app.allow_windows_style_options(false);
    // CLI11 reports through exceptions; they end here.
    try {
        app.parse(argc, argv);
        outcome.proceed = true;
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
    } catch (const CLI::CallForVersion&) {
        std::fputs(VersionLine(program).c_str(), stdout);
    } catch (const CLI::ParseError& error) {
        PrintError(program, std::string(error.what()) + " (try '" + program + " --help')");
        outcome.exitStatus = 1;
    }
    return outcome;
}

int RunTool(const char* program, int (*body)(int argc, char** argv), int argc, char** argv) {
    try {
        return body(argc, argv);
    } catch (const std::exception& error) {
        PrintError(program, std::string("internal error: ") + error.what());
    } catch (...) {
        PrintError(program, "internal error");
    }
    return 1;
}

std::string VersionLine(const char* program) {
    return std::string(program) + " (Fenk) " FENK_VERSION "\n";
}

bool FenkStyleArguments(const char* program, const std::vector<std::string>& samples,
                        const std::vector<std::string>& remaining,
                        std::vector<std::string>* arguments) {
    *arguments = samples;
    for (const std::string& extra : remaining) {
        if (extra.rfind("--", 0) == 0 || extra.empty() || extra[0] != '-') {
            PrintError(program, "The following argument was not expected: " + extra + " (try '" +
                                    program + " --help')");
            return false;
        }
        arguments->push_back(extra);
    }
    return true;
}

std::string LowerExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

std::string FormatPlayingTime(std::uint64_t milliseconds) {
    char text[32];
    const std::uint64_t tenths = milliseconds / 100;
    std::snprintf(text, sizeof text, "%llu:%02u.%u",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned>(tenths / 10 % 60), static_cast<unsigned>(tenths % 10));
    return text;
}

void PrintError(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
}

fenk::Status WritePendingFile(PendingFile& file, const void* bytes, std::size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const long written = WriteSome(file.descriptor, next, size);
        if (written <= 0) {
            // A write that takes nothing without an error would loop forever.
            return fenk::Fail("cannot write '" + file.finalPath + "': " +
                              std::strerror(written < 0 ? errno : ENOSPC));
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return fenk::Success();
}

fenk::Status WriteFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    fenk::Result<PendingFile> pending = BeginPendingFile(path);
    if (!pending.ok()) return fenk::Fail(pending.reason);
    fenk::Status written = WritePendingFile(pending.value, bytes.data(), bytes.size());
    if (!written.ok()) {
        DiscardPendingFile(pending.value);
        return written;
    }
    return CommitPendingFile(pending.value);
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
            std::string error = "refusing to write '";
            error += output;
            error += "': it is the input '";
            error += input;
            error += "'";
            return error;
        }
    }
    return std::string();
}

fenk::Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
    using Bytes = std::vector<std::uint8_t>;
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        return fenk::Failed<Bytes>(fenk::Failure::Failed,
                                   "cannot open '" + path + "': " + std::strerror(errno));
    }
    Bytes content;
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
        return fenk::Failed<Bytes>(fenk::Failure::Failed,
                                   "cannot read '" + path + "': " + std::strerror(readErrno));
    }
    return fenk::Succeeded(std::move(content));
}

}  // namespace tools
