// fenk-make SOURCE OUT.8xp: compiles a song text into a TI-83 Plus program.
#include <cstdio>
#include <string>
#include <vector>

#include "song_text.h"
#include "songfile.h"
#include "tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-make";

constexpr const char* kHelp =
    "Usage: fenk-make SOURCE OUT.8xp\n"
    "Compile a Fenk song text into a TI-83 Plus program file that fenk plays\n"
    "and TI's link software sends to a calculator.\n"
    "\n"
    "Mistakes in SOURCE are reported as SOURCE:LINE: what is wrong; then\n"
    "nothing is written. An existing OUT is replaced only by a complete file.\n"
    "The format is described in fenk-make(1) and docs/song-format.md.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n";

}  // namespace

int main(int argc, char** argv) {
    const tools::ParsedArguments arguments =
        tools::ParseArguments(argc, argv, {{"help", false}, {"version", false}});
    const tools::StandardOptionsOutcome standard = tools::HandleStandardOptions(
        kProgram, arguments, kHelp, 2, 2, "expected SOURCE and OUT.8xp");
    if (!standard.proceed) return standard.exitStatus;
    const std::string& sourcePath = arguments.positionals[0];
    const std::string& outputPath = arguments.positionals[1];
    std::string error = tools::OutputOverInput(outputPath, {sourcePath});
    if (!error.empty()) {
        tools::PrintError(kProgram, error);
        return 1;
    }

    std::vector<std::uint8_t> sourceBytes;
    if (!tools::ReadWholeFile(sourcePath, &sourceBytes, &error)) {
        tools::PrintError(kProgram, error);
        return 1;
    }
    const songtext::CompileResult compiled =
        songtext::CompileSongText(std::string(sourceBytes.begin(), sourceBytes.end()));
    for (const songtext::Message& warning : compiled.warnings) {
        std::fprintf(stderr, "%s:%d: warning: %s\n", sourcePath.c_str(), warning.line,
                     warning.text.c_str());
    }
    if (!compiled.ok) {
        for (const songtext::Message& mistake : compiled.errors) {
            std::fprintf(stderr, "%s:%d: %s\n", sourcePath.c_str(), mistake.line,
                         mistake.text.c_str());
        }
        return 1;
    }

    const songfile::BuildSongResult song = songfile::BuildSong(compiled.song);
    if (!song.ok) {
        std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), song.error.c_str());
        return 1;
    }
    songfile::TiProgramSpec program = compiled.program;
    program.body = song.body;
    const std::vector<std::uint8_t> file = songfile::BuildTiProgramFile(program);
    if (file.empty()) {
        std::fprintf(stderr, "%s: the song takes %zu bytes; a program holds at most %zu\n",
                     sourcePath.c_str(), song.body.size(), songfile::kMaxProgramBody);
        return 1;
    }
    if (!tools::WriteFileReplacing(outputPath, file, &error)) {
        tools::PrintError(kProgram, error);
        return 1;
    }
    return 0;
}
