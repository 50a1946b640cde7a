#include "tools/common/song_source.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "compose/midi_file.h"
#include "songfile/songfile.h"
#include "tools/common/tool_support.h"

namespace tools {

const char* SongFormName(SongForm form) {
    switch (form) {
        case SongForm::Text: return "a song text";
        case SongForm::Midi: return "a MIDI file";
        case SongForm::Program: return "a song file";
    }
    return "";
}

bool IsMidiName(const std::string& path) {
    const std::string extension = LowerExtension(path);
    return extension == ".mid" || extension == ".midi";
}

SongForm SongFormOf(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (IsMidiName(path) || midi::IsMidiFile(bytes)) return SongForm::Midi;
    const std::string extension = LowerExtension(path);
    if (extension == ".8xp" || extension == ".83p" || songfile::HasTiSignature(bytes)) return SongForm::Program;
    return SongForm::Text;
}

std::string FileStem(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ProgramNameFor(const std::string& path) {
    std::string name;
    for (char c : FileStem(path)) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalpha(byte) || (std::isdigit(byte) && !name.empty())) name += static_cast<char>(std::toupper(byte));
        if (name.size() == 8) break;
    }
    return name.empty() ? "SONG" : name;
}

CompiledSong CompileSong(const std::string& sourcePath, const std::string& text, bool printWarnings) {
    CompiledSong result;
    result.compiled = songtext::CompileSongText(text);
    if (printWarnings) {
        for (const songtext::Message& warning : result.compiled.warnings) {
            std::fprintf(stderr, "%s:%d: warning: %s\n", sourcePath.c_str(), warning.line, warning.text.c_str());
        }
    }
    if (!result.compiled.ok) {
        for (const songtext::Message& mistake : result.compiled.errors) {
            std::fprintf(stderr, "%s:%d: %s\n", sourcePath.c_str(), mistake.line, mistake.text.c_str());
        }
        return result;
    }
    fenk::Result<songtext::ProgramFile> built = songtext::BuildProgramFile(result.compiled);
    if (!built.ok()) {
        std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), built.reason.c_str());
        return result;
    }
    result.program = std::move(built.value);
    result.ok = true;
    return result;
}

bool SongAsProgramFile(const std::string& sourcePath, const std::vector<std::uint8_t>& bytes,
                       std::vector<std::uint8_t>* file) {
    const SongForm form = SongFormOf(sourcePath, bytes);
    if (form == SongForm::Program) {
        *file = bytes;
        return true;
    }
    std::string text(bytes.begin(), bytes.end());
    if (form == SongForm::Midi) {
        midiimport::ImportOptions options;
        options.title = FileStem(sourcePath);
        options.programName = ProgramNameFor(sourcePath);
        const fenk::Result<midiimport::Import> imported = midiimport::ImportMidiFile(bytes, options);
        if (!imported.ok()) {
            std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), imported.reason.c_str());
            return false;
        }
        text = imported.value.text;
    }
    CompiledSong compiled = CompileSong(sourcePath, text, form == SongForm::Text);
    if (!compiled.ok) return false;
    *file = std::move(compiled.program.file);
    return true;
}

}  // namespace tools
