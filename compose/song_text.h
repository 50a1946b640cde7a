// The Fenk song text format (docs/song-format.md), both ways: a readable
// source that fenk-make turns into a TI-83 Plus program file holding a
// song, and the text of any song file, written back for editing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/result.h"

#include "songfile/songfile.h"

namespace songtext {

// Facts of the text format that an editor writing it needs (the page asks
// the module for them).
// Voice and duration columns are this many characters wide, as the writer
// lines rows up ("C#4    ").
constexpr int kVoiceColumnWidth = 7;
// The writer's order lines name at most this many sections each.
constexpr std::size_t kOrderNamesPerLine = 16;
// A program file above this many bytes does not fit in the free memory of
// a TI-83 Plus (about 24 KB of RAM): fenk-make warns of it.
constexpr std::size_t kCalculatorFreeBytes = 24000;

// Where a section stands in the text, for an editor that changes the text
// line by line (the page's tracker).
struct SourceSection {
    std::string name;
    int line = 0;                         // its `section` line, 1-based
    int endLine = 0;                      // its `end` line; 0 when it has none
    std::vector<int> rowLines;            // each row's line, in order
    std::vector<songfile::SongRow> rows;  // the rows compiled, index for index
};

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
    // Every section the text defines, played or not, in text order (a second
    // section of a name already taken is left out).
    std::vector<SourceSection> sourceSections;
    std::vector<int> orderLines;  // the lines of the `order` lines, in order
    // The line of each header line given ("title", "artist", "album",
    // "name", "comment") and of the first "tempo" line.
    std::map<std::string, int> headerLines;
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

// True for a section's name: letters, digits, '_' and '-' (one or more).
bool IsSectionName(const std::string& text);

// True for a program name as the calculator's editor gives them: 1 to 8
// capital letters A-Z and digits, starting with a letter (the song text's
// unquoted `name`).
bool IsPlainProgramName(const std::string& name);

// The ticks that `beats` beats last at `tempo` beats a minute, as a row's
// duration in beats is compiled: round(beats x 60000 / tempo / 5). Unbounded
// (a row takes 1..65535).
double TicksForBeats(double beats, double tempo);

// Reads a number as the compiler reads a tempo line's tempo and a duration
// of beats without a slash: digits with at most one decimal point ("120",
// "92.5", "0.25"), no sign or exponent; false for anything else. The value
// is the double nearest the decimal (as strtod's) for up to 15 significant
// digits. Whatever writes a song text writes its numbers for this reader.
bool ParseDecimal(const std::string& text, double* value);

// A row's duration written as beats: `text` is "numerator/division" (just
// "numerator" when the division is 1), lowest terms.
struct Beats {
    bool found = false;
    long numerator = 0;
    long division = 0;
    int cost = 0;      // how plain: 0 for whole beats, then halves, quarters, thirds, ...
    std::string text;  // "3/2", "191/12"
};

// The plainest beats at `tempo` (as ParseDecimal reads the tempo line's
// text) that compile back to exactly `ticks`: 1/16 to 16 beats, divided by
// 1, 2, 4, 3, 8, 6, 16 or 12, tried in that order; `found` is false when
// none does (the row is then written in ticks, "85t").
Beats PlainBeats(std::int64_t ticks, double tempo);

// ---------------------------------------------------------------------------
// Writing a song file back as text

struct WriteOptions {
    std::string sourceName;           // the song file's name, said in the first line
    std::string fallbackName = "SONG";  // the program's name when the file has none
};

struct WrittenText {
    std::string text;  // the song text; CompileSongText takes it back
    // What the text changes in the file's layout, one line each without a
    // final newline: a section written again because another entry starts
    // inside its rows, a name made up.
    std::vector<std::string> warnings;
};

// The song text of `song` (checked from `file`'s data block), as it plays:
// the header's texts (every byte kept: \xHH for bytes outside printable
// ASCII), `file`'s name and comment; a section for every offset the order
// list names, from its offset to its first row of duration 0 (entries of one
// offset share it), named s1, s2, ... in the order of their offsets, written
// in that order; rows with a note name where the period is exactly the one a
// note compiles to, else the raw period, '-' for 0; durations in beats at a
// tempo (40..300, a tempo line where a section needs another) that makes
// them 1/16..16 beats, else in ticks; the order lines in the song's order.
// A song that CompileSongText wrote comes back byte for byte through
// BuildProgramFile. Fails only when the text would compile to more than
// songfile::kMaxProgramBody bytes (sections that start inside one another's
// rows, each written whole); otherwise the text compiles and builds.
fenk::Result<WrittenText> WriteSongText(const songfile::TiProgramFile& file, const songfile::SongView& song,
                                        const WriteOptions& options);

// ---------------------------------------------------------------------------
// Section and order edits, made on the text's lines as an editor makes them:
// each compiles `text` to find where its parts stand and gives the text
// with the edit made, only the lines it touches written again (comments
// elsewhere stay). Each fails, with why, when `text` does not compile or the
// edit cannot be made; the text given back is not compiled again.

// The order written again as `names`, kOrderNamesPerLine to a line, where
// its first line stood (else at the end): `order` lines elsewhere go.
fenk::Result<std::string> WithOrder(const std::string& text, const std::vector<std::string>& names);

// A section `name` of the row lines `rows` added after section `after` (at
// the end when "" or not found, and before the order when that comes
// later), with an empty line before it, and named at the end of the order.
// Fails for a name taken or not a section name.
fenk::Result<std::string> WithSectionAdded(const std::string& text, const std::string& after,
                                           const std::string& name, const std::vector<std::string>& rows);

// Section `name` renamed `to`, in its `section` line and every order entry.
fenk::Result<std::string> WithSectionRenamed(const std::string& text, const std::string& name,
                                             const std::string& to);

// Section `name` deleted (its lines, the empty line before it) with its
// order entries. Fails for the only section.
fenk::Result<std::string> WithSectionDeleted(const std::string& text, const std::string& name);

}  // namespace songtext
