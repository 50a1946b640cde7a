// The Fenk song text format (docs/song-format.md): a readable source that
// fenk-make turns into a TI-83 Plus program file holding a song.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

#include "songfile/songfile.h"

namespace songtext {

// A mistake in the source, or a remark about it.
struct Message {
    int line = 0;          // 1-based line of the source it is about
    std::string text;      // what is wrong, e.g. "unknown note 'H4'"
};

struct CompileResult {
    bool ok = false;               // false: `errors` says why
    std::vector<Message> errors;   // every mistake found, in line order
    std::vector<Message> warnings; // remarks that do not stop the compile
    songfile::TiProgramSpec program;  // name and comment (body left empty)
    // The song; sections that the order list never names are left out.
    songfile::SongSource song;
    // The name each of song.sections has in the text, index for index.
    std::vector<std::string> sectionNames;
};

// Compiles the text of a song source (UTF-8; a byte-order mark at its start
// is skipped). All-or-nothing: on failure only `errors` (and `warnings`) are
// meaningful. Warnings name a note that the default sample sounds more than
// notes::kFarOffCents off its pitch (once per note name, at its first line) and a
// text that holds characters the calculator cannot show.
CompileResult CompileSongText(const std::string& text);

// A compiled song as fenk-make writes it.
struct ProgramFile {
    std::vector<std::uint8_t> file;  // the TI-83 Plus program file's bytes
    std::vector<std::uint8_t> body;  // the song block inside it
    // Where each of the compile's song.sections lies in the block (bytes).
    std::vector<std::uint16_t> sectionOffsets;
};

// The program file of a successful compile; fails with why the song does
// not fit ("the song takes 70000 bytes; a program holds at most 65505").
fenk::Result<ProgramFile> BuildProgramFile(const CompileResult& compiled);

}  // namespace songtext
