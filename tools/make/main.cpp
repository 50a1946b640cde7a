// fenk-make SOURCE OUT.8xp: compiles a song text into a TI-83 Plus program.
#include <cassert>
#include <cstdio>
#include <string>
#include <vector>

#include "song_engine.h"
#include "song_text.h"
#include "songfile.h"
#include "tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-make";


// The tool itself; main runs it through tools::RunTool.
int Main(int argc, char** argv) {
    CLI::App app("Compile a Fenk song text into a TI-83 Plus program file that fenk plays\n"
                 "and TI's link software sends to a calculator.",
                 kProgram);
    std::string sourcePath, outputPath;
    app.add_option("SOURCE", sourcePath, "the song text")->required();
    app.add_option("OUT.8xp", outputPath, "the program file to write")->required();
    app.footer("Mistakes in SOURCE are reported as SOURCE:LINE: what is wrong; then\n"
               "nothing is written. An existing OUT is replaced only by a complete file,\n"
               "and never when it is SOURCE itself. The format is described in\n"
               "fenk-make(1) and docs/song-format.md.");
    const tools::StandardOptionsOutcome standard = tools::ParseCommandLine(kProgram, app, argc, argv);
    if (!standard.proceed) return standard.exitStatus;
    std::string error = tools::OutputOverInput(outputPath, {sourcePath});
    if (!error.empty()) {
        tools::PrintError(kProgram, error);
        return 1;
    }

    const fenk::Result<std::vector<std::uint8_t>> read = tools::ReadWholeFile(sourcePath);
    if (!read.ok()) {
        tools::PrintError(kProgram, read.reason);
        return 1;
    }
    const std::vector<std::uint8_t>& sourceBytes = read.value;
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

    const fenk::Result<songtext::ProgramFile> built = songtext::BuildProgramFile(compiled);
    if (!built.ok()) {
        std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), built.reason.c_str());
        return 1;
    }
    const std::vector<std::uint8_t>& file = built.value.file;
    const fenk::Status written = tools::WriteFileReplacing(outputPath, file);
    if (!written.ok()) {
        tools::PrintError(kProgram, written.reason);
        return 1;
    }
    // The length as the player plays it; the rows as written, each section once.
    const songfile::ParseResult laid =
        songfile::ParseSong(built.value.body.data(), built.value.body.size());
    assert(laid.ok());  // the builder lays out songs
    const std::uint64_t ticks = playback::MeasureSong(laid.value).totalTicks;
    std::size_t rows = 0;
    for (const std::vector<songfile::SongRow>& section : compiled.song.sections) rows += section.size();
    const std::size_t sections = compiled.song.sections.size();
    std::printf("%s: %zu bytes, %s long, %zu %s, %zu %s\n", outputPath.c_str(), file.size(),
                tools::FormatPlayingTime(ticks * songfile::kTickMilliseconds).c_str(), sections,
                sections == 1 ? "section" : "sections", rows, rows == 1 ? "row" : "rows");
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
