// What the Fenk tools (fenk-make, fenk-info, fenk-render) share: reading the
// command line with CLI11, the version text, one-line error messages, and
// writing an output file so that an existing one is replaced only when the
// new one is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/result.h"

namespace tools {

// ---------------------------------------------------------------------------
// Command line

// What a tool does after reading its command line.
struct StandardOptionsOutcome {
    bool proceed = false;  // true: the options were read; the tool goes on
    int exitStatus = 0;    // when !proceed: what main returns (0 or 1)
};

// Reads argv with the tool's CLI11 `app`, which holds its options and
// positionals (ParseCommandLine adds --version), and handles what every
// tool handles alike:
//   - --help: the app's help on standard output, status 0;
//   - --version: VersionLine(program) on standard output, status 0;
//   - a mistake (an unknown option, a missing or bad value, too few or too
//     many arguments): "PROGRAM: WHAT (try 'PROGRAM --help')" on standard
//     error, status 1.
// Otherwise `proceed` is true, the app's variables are filled, and nothing
// is printed.
StandardOptionsOutcome ParseCommandLine(const char* program, CLI::App& app, int argc,
                                        const char* const* argv);

// The sample and switch groups of a tool that takes them as fenk does
// ("voice.wav -xm"): the sample positionals, then what CLI11 left over
// (with allow_extras), which must all be switch groups. False after
// printing "PROGRAM: The following argument was not expected: X (try
// 'PROGRAM --help')" for a long option CLI11 did not know or anything
// after "--".
bool FenkStyleArguments(const char* program, const std::vector<std::string>& samples,
                        const std::vector<std::string>& remaining,
                        std::vector<std::string>* arguments);

// Runs a tool's `body` (its main) and returns its exit status. CLI11 and the
// standard library report by exceptions; one that reaches this far is a
// fault of ours: "PROGRAM: internal error: WHAT" on standard error, status 1.
int RunTool(const char* program, int (*body)(int argc, char** argv), int argc, char** argv);

// "PROGRAM (Fenk) 1.0.0\n", the first line of --version.
std::string VersionLine(const char* program);

// The extension of the file name at the end of `path`, with its dot, in
// lower case: "out/Song.WAV" -> ".wav"; "" when the name has none.
std::string LowerExtension(const std::string& path);

// A playing time of `milliseconds` ms as "M:SS.s" (tenths truncated), e.g.
// 34567 -> "0:34.5", 3723000 -> "62:03.0".
std::string FormatPlayingTime(std::uint64_t milliseconds);

// Prints "PROGRAM: MESSAGE\n" on standard error.
void PrintError(const char* program, const std::string& message);

// ---------------------------------------------------------------------------
// Output files

// A new file being written beside its final path. Commit forces it to the
// disk and renames it over the final path (replacing what was there at
// once); Discard removes it. Either way the final path holds a whole file,
// the old one or the new one, even after a crash or a power loss.
struct PendingFile {
    std::string finalPath;
    std::string temporaryPath;  // in the same folder as finalPath
    int descriptor = -1;        // open for writing until Commit or Discard; -1 after
    long long writtenBackTo = 0;  // bytes StartWritingBack has sent to the disk
};

// Creates an empty temporary file in the folder of `finalPath`, readable as
// a newly created file would be (permissions from the umask). Fails with
// e.g. "cannot create a file in 'out': Permission denied".
fenk::Result<PendingFile> BeginPendingFile(const std::string& finalPath);

// Appends `size` bytes at `bytes` to the file. Fails ("cannot write 'OUT':
// No space left on device") when the system takes fewer; the file is still
// pending then (Discard it).
fenk::Status WritePendingFile(PendingFile& file, const void* bytes, std::size_t size);

// Starts the system writing what the descriptor has written so far to the
// disk and returns at once (Linux's sync_file_range), so that Commit waits
// only for the rest; once at least 8 MiB more has been written since the
// last start, otherwise (and on other systems) does nothing. Failures show
// in Commit.
void StartWritingBack(PendingFile& file);

// Makes the file durable and puts it in place: the data is forced to the
// disk (fsync; FlushFileBuffers on Windows), the descriptor closed, the file
// renamed over the final path (MOVEFILE_WRITE_THROUGH on Windows) and, on
// POSIX, the folder forced to the disk so that the rename survives too.
// Fails when a sync, the close or the rename fails (a full disk, an I/O
// error): the temporary file is removed then and the final path keeps what
// it had. A sync of the folder that fails after the rename is reported too,
// though the new file is in place by then.
fenk::Status CommitPendingFile(PendingFile& file);

// Closes the descriptor (unless already closed) and removes the temporary
// file. The final path is left as it was.
void DiscardPendingFile(PendingFile& file);

// Writes `bytes` to `path` through a pending file: either the whole new file
// is at `path` afterwards, or `path` is untouched and the failure says why.
fenk::Status WriteFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes);

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

// Reads the whole file at `path`. Fails ("cannot open 'x': No such file or
// directory") when it cannot be read.
fenk::Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path);

// True when standard error is a terminal (for progress bars).
bool StandardErrorIsTerminal();

// From this call on, SIGINT, SIGTERM and SIGHUP no longer end the process
// at once; they set a flag that Interrupted() reports, so that a long job
// can stop and clean up (remove its temporary file) before it ends.
void WatchInterrupts();
// True once one of those signals has arrived after WatchInterrupts.
bool Interrupted();
// Ends the process as the signal that Interrupted() saw would have ended it
// (POSIX: the signal again, at its default action; Windows: the Ctrl+C
// exit status). For a program that has cleaned up after an interrupt.
[[noreturn]] void ExitAsInterrupted();

}  // namespace tools
