// fenk-make SOURCE OUT: a song in any of its forms into another. SOURCE is a
// song text, a MIDI file (imported) or a song file (.8xp); OUT is a song
// file (.8xp), a song text (.txt) or a MIDI file (.mid).
#include <algorithm>
#include <cassert>
#include <cstdio>
#include <string>
#include <vector>

#include "compose/midi_export.h"
#include "compose/midi_import.h"
#include "playback/song_engine.h"
#include "compose/song_text.h"
#include "songfile/songfile.h"
#include "tools/common/song_source.h"
#include "tools/common/tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-make";

using songtext::kCalculatorFreeBytes;

using tools::SongForm;

int WriteOut(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const fenk::Status written = tools::WriteFileReplacing(path, bytes);
    if (written.ok()) return 0;
    tools::PrintError(kProgram, written.reason);
    return 1;
}

// The song of a song file as text or MIDI. The file's lines that fenk
// prints (its failure, the truncation warning) say the same here.
int FromProgramFile(const std::string& sourcePath, const std::vector<std::uint8_t>& bytes,
                    const std::string& outputPath, SongForm out) {
    const songfile::ReadResult read = songfile::ReadTiProgramBytes(bytes.data(), bytes.size());
    const songfile::SongFileReport report = songfile::ReportSongFile(read);
    if (!report.ok) {
        // Its last line says why ("Not a valid TI-83 Plus program file!").
        const std::size_t last = report.text.rfind('\n', report.text.size() - 2);
        std::fprintf(stderr, "%s: %s", sourcePath.c_str(),
                     report.text.c_str() + (last == std::string::npos ? 0 : last + 1));
        return 1;
    }
    if (songfile::IsTruncated(read.value)) {
        std::fprintf(stderr, "%s: warning: the song data is truncated (%zu of %u bytes); "
                             "what plays of it is written\n",
                     sourcePath.c_str(), read.value.data.size(), static_cast<unsigned>(read.value.declaredLength));
    }
    const songfile::SongView& song = report.song;
    const std::uint64_t ticks = playback::MeasureSong(song).totalTicks;
    const std::string length = tools::FormatPlayingTime(ticks * songfile::kTickMilliseconds);
    if (out == SongForm::Midi) {
        const fenk::Result<midiexport::Export> exported = midiexport::ExportMidi(song);
        if (!exported.ok()) {
            std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), exported.reason.c_str());
            return 1;
        }
        if (WriteOut(outputPath, exported.value.bytes) != 0) return 1;
        std::printf("%s: MIDI type 1, 5 tracks, %zu notes (%zu with a pitch bend, range %d semitones), %s long\n",
                    outputPath.c_str(), exported.value.notes, exported.value.bent, exported.value.bendRange,
                    length.c_str());
        return 0;
    }
    songtext::WriteOptions options;
    options.sourceName = sourcePath.substr(sourcePath.find_last_of("/\\") + 1);  // npos + 1 is 0
    options.fallbackName = tools::ProgramNameFor(sourcePath);
    const fenk::Result<songtext::WrittenText> written = songtext::WriteSongText(read.value, song, options);
    if (!written.ok()) {
        std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), written.reason.c_str());
        return 1;
    }
    for (const std::string& warning : written.value.warnings) {
        std::fprintf(stderr, "%s: warning: %s\n", sourcePath.c_str(), warning.c_str());
    }
    const std::string& text = written.value.text;
    if (WriteOut(outputPath, std::vector<std::uint8_t>(text.begin(), text.end())) != 0) return 1;
    std::printf("%s: the song text, %s long\n", outputPath.c_str(), length.c_str());
    return 0;
}

// The tool itself; main runs it through tools::RunTool.
int Main(int argc, char** argv) {
    CLI::App app("Compile a Fenk song text into a TI-83 Plus program file that fenk plays\n"
                 "and TI's link software sends to a calculator; import a MIDI file; write a\n"
                 "song file back as its text, or out as a MIDI file.",
                 kProgram);
    std::string sourcePath, outputPath, voicesText, fromText, toText, grid;
    int transpose = 0;
    bool fit = false;
    app.add_option("SOURCE", sourcePath,
                   "the song text, a MIDI file (.mid, .midi) to import, or a song file (.8xp)")
        ->required();
    app.add_option("OUT.8xp", outputPath,
                   "the program file to write; OUT.txt writes the song text of a MIDI file or a\n"
                   "song file, OUT.mid a song text's or a song file's song as a MIDI file")
        ->required();
    app.add_option("--voices", voicesText,
                   "MIDI: where voices 0-3 take their notes, four of cN (channel), tN (track)\n"
                   "or - (silent), e.g. c1,c2,t3,-");
    app.add_option("--transpose", transpose, "MIDI: semitones to shift every note by")->check(CLI::Range(-48, 48));
    app.add_option("--from", fromText, "MIDI: import from this place on: a bar number (57) or a time (4:31.2)");
    app.add_option("--to", toText, "MIDI: import up to this place: a bar number or a time");
    app.add_flag("--fit", fit, "MIDI: too big for a program: import the longest start that fits");
    app.add_option("--grid", grid,
                   "MIDI: put note starts and ends on this grid of the file's beats first,\n"
                   "a note value such as 1/16 (smaller songs, plainer text)");
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
    const SongForm source = tools::SongFormOf(sourcePath, sourceBytes);
    const std::string outExtension = tools::LowerExtension(outputPath);
    const SongForm out = outExtension == ".txt"           ? SongForm::Text
                         : tools::IsMidiName(outputPath) ? SongForm::Midi
                                                         : SongForm::Program;
    if (source == out) {
        tools::PrintError(kProgram, sourcePath + " is " + tools::SongFormName(source) + " already; OUT names " +
                                        "the form to write: .8xp, .txt or .mid");
        return 1;
    }
    if (source != SongForm::Midi &&
        (!voicesText.empty() || transpose != 0 || !fromText.empty() || !toText.empty() || fit || !grid.empty())) {
        tools::PrintError(kProgram, "--voices, --transpose, --from, --to, --fit and --grid are for MIDI files (.mid, .midi)");
        return 1;
    }
    if (source == SongForm::Program) return FromProgramFile(sourcePath, sourceBytes, outputPath, out);

    // An imported song may be written as its text instead of compiled.
    const bool writeText = out == SongForm::Text;
    std::string sourceText(sourceBytes.begin(), sourceBytes.end());
    if (source == SongForm::Midi) {
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
        const struct {
            const char* option;
            const std::string& text;
            midiimport::Place& place;
        } places[] = {{"--from", fromText, options.from}, {"--to", toText, options.to}};
        for (const auto& [option, text, place] : places) {
            if (text.empty()) continue;
            const fenk::Result<midiimport::Place> parsed = midiimport::ParsePlace(text);
            if (!parsed.ok()) {
                tools::PrintError(kProgram, std::string(option) + ": " + parsed.reason);
                return 1;
            }
            place = parsed.value;
        }
        options.fit = fit;
        options.grid = grid;
        options.title = tools::FileStem(sourcePath);
        options.programName = tools::ProgramNameFor(writeText ? sourcePath : outputPath);
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
    // The warnings' lines are the source's; an imported text that is
    // written out gets none (its notes' cents are in the summary).
    const tools::CompiledSong built = tools::CompileSong(sourcePath, sourceText, !writeText);
    if (!built.ok) {
        // An import can be made smaller: a part of it, or its longest start.
        if (source == SongForm::Midi && built.compiled.ok) {
            std::fprintf(stderr, "%s: import a part with --from and --to (a bar number or a time such as 1:30.0), "
                                 "the longest start that fits with --fit, or fewer rows with --grid 1/16\n",
                         sourcePath.c_str());
        }
        return 1;
    }
    const songtext::CompileResult& compiled = built.compiled;
    const std::vector<std::uint8_t>& file = built.program.file;
    if (out == SongForm::Midi) return FromProgramFile(sourcePath, file, outputPath, out);
    if (writeText) {
        if (WriteOut(outputPath, std::vector<std::uint8_t>(sourceText.begin(), sourceText.end())) != 0) return 1;
        std::printf("%s: the song text, %zu bytes as a .8xp\n", outputPath.c_str(), file.size());
    }
    if (file.size() > kCalculatorFreeBytes) {
        std::fprintf(stderr, "%s: warning: %zu bytes%s, more than a TI-83 Plus has free (about 24 KB)\n",
                     outputPath.c_str(), file.size(), writeText ? " as a .8xp" : "");
    }
    if (writeText) return 0;
    if (WriteOut(outputPath, file) != 0) return 1;
    // The length as the player plays it; the rows as written, each section once.
    const songfile::ParseResult laid =
        songfile::ParseSong(built.program.body.data(), built.program.body.size());
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
