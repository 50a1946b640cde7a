// What the Fenk tools (fenk-make, fenk-info, fenk-render) share: a GNU-style
// reader of long options, the version text, one-line error messages, and
// writing an output file so that an existing one is replaced only when the
// new one is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tools {

// ---------------------------------------------------------------------------
// Command line

// A long option the tool accepts, written "--name" on the command line.
struct OptionSpec {
    std::string name;         // without the leading "--"
    bool takesValue = false;  // "--name VALUE" or "--name=VALUE"
};

// One option as given, with its full name even when it was abbreviated.
struct GivenOption {
    std::string name;
    std::string value;  // empty for an option without a value
};

struct ParsedArguments {
    bool ok = false;
    std::string error;  // when !ok: what is wrong, e.g. "unknown option '--x'"
    // Every argument that is not a long option, in order. Arguments that begin
    // with a single "-" (fenk's switch groups, or "-" alone) are positionals
    // too; so is everything after a "--".
    std::vector<std::string> positionals;
    std::vector<GivenOption> options;  // in the order given
};

// Reads argv[1..argc-1]. A long option may be shortened to any prefix that
// names only one of `accepted` (as getopt_long does); an exact name always
// wins. Fails on an unknown or ambiguous option, a missing value, or a value
// given to an option that takes none.
ParsedArguments ParseArguments(int argc, char** argv,
                               const std::vector<OptionSpec>& accepted);

// True when `name` was given; `value` (may be null) receives the value of
// its last occurrence.
bool HasOption(const ParsedArguments& arguments, const std::string& name,
               std::string* value = nullptr);

// What a tool does after the options every tool shares.
struct StandardOptionsOutcome {
    bool proceed = false;  // true: no standard case applied; the tool goes on
    int exitStatus = 0;    // when !proceed: what main returns (0 or 1)
};

// The checks every tool makes first, in this order, on what ParseArguments
// read:
//   - a parse failure: "PROGRAM: ERROR (try 'PROGRAM --help')" on standard
//     error, status 1;
//   - --help: `helpText` written as it is on standard output, status 0;
//   - --version: VersionLine(program) on standard output, status 0;
//   - fewer than `minimumPositionals` or more than `maximumPositionals`
//     positionals: "PROGRAM: USAGE_ERROR (try 'PROGRAM --help')" on
//     standard error, status 1.
// Otherwise `proceed` is true and nothing is printed. `usageError` says what
// positionals were expected, e.g. "expected SONG and OUT".
StandardOptionsOutcome HandleStandardOptions(const char* program,
                                             const ParsedArguments& arguments,
                                             const char* helpText,
                                             std::size_t minimumPositionals,
                                             std::size_t maximumPositionals,
                                             const char* usageError);

// "PROGRAM (Fenk) 1.0.0\n", the first line of --version.
std::string VersionLine(const char* program);

// Prints "PROGRAM: MESSAGE\n" on standard error.
void PrintError(const char* program, const std::string& message);

// ---------------------------------------------------------------------------
// Output files

// A new file being written beside its final path. Commit renames it over
// the final path (replacing what was there at once); Discard removes it.
struct PendingFile {
    std::string finalPath;
    std::string temporaryPath;  // in the same folder as finalPath
    int descriptor = -1;        // open for writing; -1 once handed off/closed
};

struct PendingFileResult {
    bool ok = false;
    std::string error;  // when !ok, e.g. "cannot create a file in 'out': ..."
    PendingFile file;
};

// Creates an empty temporary file in the folder of `finalPath`, readable as
// a newly created file would be (permissions from the umask).
PendingFileResult BeginPendingFile(const std::string& finalPath);

// Closes the descriptor (unless already closed) and renames the temporary
// file to the final path. False with `error` set when that fails; the
// temporary file is removed then.
bool CommitPendingFile(PendingFile& file, std::string* error);

// Closes the descriptor (unless already closed) and removes the temporary
// file. The final path is left as it was.
void DiscardPendingFile(PendingFile& file);

// Writes `bytes` to `path` through a pending file: either the whole new file
// is at `path` afterwards, or `path` is untouched and `error` says why.
bool WriteFileReplacing(const std::string& path,
                        const std::vector<std::uint8_t>& bytes,
                        std::string* error);

// True when `a` and `b` both exist and are one file, however each is
// spelled: the same path, another path to it ("./x/../song.txt"), a hard
// link or a symbolic link to it (the same device and inode; on Windows the
// same volume and file index).
bool SameExistingFile(const std::string& a, const std::string& b);

// Empty when writing `output` leaves every one of `inputs` as it is;
// otherwise the error to print, e.g. "refusing to write 'song.txt': it is
// the input 'song.txt'". A tool checks this before it writes anything.
std::string OutputOverInput(const std::string& output, const std::vector<std::string>& inputs);

// Why the file at `path` cannot be opened for reading, for a message after
// "cannot open 'x': ": "No such file or directory", "is a directory", "not
// a regular file", or the system's reason.
std::string WhyCannotOpen(const std::string& path);

// Reads the whole file at `path`. False with `error` set ("cannot open
// 'x': No such file or directory") when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes,
                   std::string* error);

// True when standard error is a terminal (for progress bars).
bool StandardErrorIsTerminal();

// A stream that takes any output and keeps none of it (the null device), or
// null when it cannot be opened. Close it with fclose.
std::FILE* OpenDiscardingStream();

// From this call on, SIGINT, SIGTERM and SIGHUP no longer end the process
// at once; they set a flag that Interrupted() reports, so that a long job
// can stop and clean up (remove its temporary file) before it ends.
void WatchInterrupts();
// True once one of those signals has arrived after WatchInterrupts.
bool Interrupted();

}  // namespace tools
