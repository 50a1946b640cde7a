// fenk-make SOURCE OUT.8xp: compiles a song text into a TI-83 Plus program;
// fenk-make SONG.mid OUT: imports a MIDI file as a song text (OUT.txt) or a
// program.
#include <cassert>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "compose/midi_file.h"
#include "compose/midi_import.h"
#include "playback/song_engine.h"
#include "compose/song_text.h"
#include "songfile/songfile.h"
#include "tools/common/tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-make";

// A program file above this many bytes will not fit in the free memory of a
// TI-83 Plus (about 24 KB of RAM).
constexpr std::size_t kCalculatorFreeBytes = 24000;

// The file's name without its folder and extension.
std::string Stem(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// A calculator program name from a file name: its letters and digits in
// capitals, at most 8, starting with a letter; "SONG" when none is left.
std::string ProgramNameFor(const std::string& path) {
    std::string name;
    for (char c : Stem(path)) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalpha(byte) || (std::isdigit(byte) && !name.empty())) name += static_cast<char>(std::toupper(byte));
        if (name.size() == 8) break;
    }
    return name.empty() ? "SONG" : name;
}


// The tool itself; main runs it through tools::RunTool.
int Main(int argc, char** argv) {
    CLI::App app("Compile a Fenk song text into a TI-83 Plus program file that fenk plays\n"
                 "and TI's link software sends to a calculator.",
                 kProgram);
    std::string sourcePath, outputPath, voicesText;
    int transpose = 0;
    app.add_option("SOURCE", sourcePath, "the song text, or a MIDI file (.mid, .midi) to import")->required();
    app.add_option("OUT.8xp", outputPath,
                   "the program file to write; for a MIDI file OUT.txt writes the song text instead")
        ->required();
    app.add_option("--voices", voicesText,
                   "MIDI: where voices 0-3 take their notes, four of cN (channel), tN (track)\n"
                   "or - (silent), e.g. c1,c2,t3,-");
    app.add_option("--transpose", transpose, "MIDI: semitones to shift every note by")->check(CLI::Range(-48, 48));
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
    // A MIDI file by its name or by its first bytes.
    const std::string sourceExtension = tools::LowerExtension(sourcePath);
    const bool midiSource = sourceExtension == ".mid" || sourceExtension == ".midi" || midi::IsMidiFile(sourceBytes);
    if (!midiSource && (!voicesText.empty() || transpose != 0)) {
        tools::PrintError(kProgram, "--voices and --transpose are for MIDI files (.mid, .midi)");
        return 1;
    }
    // An imported song may be written as its text instead of compiled.
    const bool writeText = midiSource && tools::LowerExtension(outputPath) == ".txt";
    std::string sourceText(sourceBytes.begin(), sourceBytes.end());
    if (midiSource) {
        midiimport::ImportOptions options;
        if (!voicesText.empty()) {
            const fenk::Result<std::vector<midiimport::VoiceSource>> voices = midiimport::ParseVoiceSources(voicesText);
            if (!voices.ok()) {
                tools::PrintError(kProgram, voices.reason);
                return 1;
            }
            options.voices = voices.value;
        }
        options.transpose = transpose;
        options.title = Stem(sourcePath);
        options.programName = ProgramNameFor(writeText ? sourcePath : outputPath);
        const fenk::Result<midiimport::Import> imported = midiimport::ImportMidiFile(sourceBytes, options);
        if (!imported.ok()) {
            std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), imported.reason.c_str());
            return 1;
        }
        std::printf("%s: MIDI type %d, %zu %s\n", sourcePath.c_str(), imported.value.format, imported.value.tracks,
                    imported.value.tracks == 1 ? "track" : "tracks");
        for (const std::string& line : imported.value.summary) std::printf("  %s\n", line.c_str());
        sourceText = imported.value.text;
    }
    const songtext::CompileResult compiled = songtext::CompileSongText(sourceText);
    // The warnings' lines are the source's; an imported text that is
    // written out gets none (its notes' cents are in the summary).
    if (!writeText) {
        for (const songtext::Message& warning : compiled.warnings) {
            std::fprintf(stderr, "%s:%d: warning: %s\n", sourcePath.c_str(), warning.line,
                         warning.text.c_str());
        }
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
    if (writeText) {
        const fenk::Status written = tools::WriteFileReplacing(
            outputPath, std::vector<std::uint8_t>(sourceText.begin(), sourceText.end()));
        if (!written.ok()) {
            tools::PrintError(kProgram, written.reason);
            return 1;
        }
        std::printf("%s: the song text, %zu bytes as a .8xp\n", outputPath.c_str(), file.size());
    }
    if (file.size() > kCalculatorFreeBytes) {
        std::fprintf(stderr, "%s: warning: %zu bytes%s, more than a TI-83 Plus has free (about 24 KB)\n",
                     outputPath.c_str(), file.size(), writeText ? " as a .8xp" : "");
    }
    if (writeText) return 0;
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
