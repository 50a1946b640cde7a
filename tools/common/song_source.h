// A song as the tools take it in: a song text, a MIDI file or a program
// file (.8xp), told apart, named for the calculator and compiled the one
// way fenk-make and fenk-send both go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compose/midi_import.h"
#include "compose/song_text.h"

namespace tools {

enum class SongForm { Text, Midi, Program };

// "a song text", "a MIDI file", "a song file".
const char* SongFormName(SongForm form);

// True when the name ends in .mid or .midi (any case).
bool IsMidiName(const std::string& path);

// The form of the song at `path` whose bytes are `bytes`: MIDI by its name
// or its MThd chunk, a program file by its name (.8xp, .83p) or its TI-83
// Plus signature, otherwise a song text.
SongForm SongFormOf(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The file's name without its folder and extension: "a/Ode.txt" -> "Ode".
std::string FileStem(const std::string& path);

// A calculator program name from a file name: its letters and digits in
// capitals, at most 8, starting with a letter; "SONG" when none is left.
std::string ProgramNameFor(const std::string& path);

// A song text compiled into a program file.
struct CompiledSong {
    bool ok = false;  // false: the reasons are printed
    songtext::CompileResult compiled;
    songtext::ProgramFile program;  // when ok
};

// Compiles `text`, the song text of `sourcePath`, and builds its program
// file. Prints on standard error, each line after "SOURCE:": the warnings
// ("SOURCE:LINE: warning: ...") when `printWarnings`, the mistakes
// ("SOURCE:LINE: ...") or why the song does not fit a program.
CompiledSong CompileSong(const std::string& sourcePath, const std::string& text, bool printWarnings);

// The program file of the song at `sourcePath` as fenk-make would write it
// with no options: a program file as it is, a song text compiled, a MIDI
// file imported (named by `sourcePath`) and compiled. False after printing
// why on standard error (what CompileSong prints; an import's or a read's
// failure as "SOURCE: why").
bool SongAsProgramFile(const std::string& sourcePath, const std::vector<std::uint8_t>& bytes,
                       std::vector<std::uint8_t>* file);

}  // namespace tools
