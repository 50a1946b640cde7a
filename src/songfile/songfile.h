// Reading and writing songs kept in TI-83 Plus program files.
//
// A song travels as a TI-83 Plus program file (.8xp). The reader takes the
// file apart and hands back the program variable's name, the file's comment
// and the variable's data block; the song parser then checks that block and
// gives a SongView, a bounded view that every later reader of the song goes
// through. The writer half builds program files and song blocks; the tools
// and the tests use it, the player never does.
//
// All two-byte values in these formats are little-endian, low byte first.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace songfile {

// ---------------------------------------------------------------------------
// TI-83 Plus program file

// The first 11 bytes of every TI-83 Plus file: "**TI83F*" 1A 0A 00.
constexpr std::uint8_t kTiSignature[] = {0x2A, 0x2A, 0x54, 0x49, 0x38, 0x33,
                                         0x46, 0x2A, 0x1A, 0x0A, 0x00};
constexpr std::size_t kTiSignatureBytes = sizeof kTiSignature;

// True when `bytes` begin with kTiSignature.
bool HasTiSignature(const std::vector<std::uint8_t>& bytes);

// A field of the header: where it starts, in bytes from the file's start,
// and how many bytes it has. Words are little-endian.
struct TiField {
    std::size_t offset;
    std::size_t size;
};

// The header of a TI-83 Plus program file with one variable, the one layout
// that the reader, the writer and fenk-info all go by.
struct TiHeaderLayout {
    TiField signature;          // kTiSignature
    TiField comment;            // text, NUL-padded (or not ended at all)
    TiField dataSectionLength;  // bytes from offset 55 up to the checksum
    TiField entryHeaderLength;  // 13 with version and flags; the data section starts here
    TiField variableLength;     // the variable's data length (again at 70)
    TiField type;               // 0x05 program, 0x06 protected program
    TiField name;               // the variable's name, NUL-padded
    TiField version;
    TiField flags;
    TiField dataLength;         // L: the variable's data, size word included
    TiField sizeWord;           // the program body's size, L - 2
    std::size_t size;           // the whole header: the data block starts here
};

constexpr TiHeaderLayout kTiHeader = {
    {0, kTiSignatureBytes}, {11, 42}, {53, 2}, {55, 2}, {57, 2}, {59, 1},
    {60, 8}, {68, 1}, {69, 1}, {70, 2}, {72, 2}, 74};
// The entry header that carries version and flags (TI-83 Plus): data
// length, type, name, version, flags.
constexpr std::uint16_t kTiEntryHeaderLength = 13;
// The data section's bytes around the variable data: the entry header's
// length word, the entry header, the second data length word.
constexpr std::size_t kTiDataSectionOverhead = 2 + kTiEntryHeaderLength + 2;

// The first variable of a TI-83 Plus program file, as the reader returns it.
struct TiProgramFile {
    // Variable name as stored (offset 60, 8 bytes, NUL-padded); name[8] is
    // always NUL, so the name can be used as a C string up to its first NUL.
    char name[9] = {};
    // File comment as stored (offset 11, 42 bytes). May hold no NUL at all,
    // in which case all 42 characters are the comment; use CommentText().
    char comment[42] = {};
    // Variable data length L from offset 70, in bytes (0..65535). It counts
    // the program's own two-byte size word, so the block read from offset 74
    // runs two bytes past the program body (onto the file's checksum).
    std::uint16_t declaredLength = 0;
    // The data block: the bytes actually read from offset 74 on, at most
    // declaredLength of them. Shorter only when the file ends early.
    std::vector<std::uint8_t> data;
};

// The name up to its first NUL (at most 8 characters).
std::string NameText(const TiProgramFile& file);
// The comment up to its first NUL, or all 42 characters when it has none.
std::string CommentText(const TiProgramFile& file);
// True when the file ended before declaredLength bytes of data were read.
bool IsTruncated(const TiProgramFile& file);

enum class ReadFailure {
    None,          // success: ReadResult::value is the file
    OpenFailed,    // the path cannot be opened for reading as a file
    NotTiProgram,  // the first 11 bytes are not the TI-83 Plus signature, or
                   // the file ends before both bytes of L have been read
};

// The file, or why it could not be read ("cannot be opened for reading",
// "not a TI-83 Plus program file").
using ReadResult = fenk::Result<TiProgramFile, ReadFailure>;

// Reads the first variable of a program file held in `length` bytes at
// `bytes` (which may be null only when `length` is 0), with the checks and
// results described for ReadTiProgramFile below, except that it never gives
// OpenFailed.
ReadResult ReadTiProgramBytes(const std::uint8_t* bytes, std::size_t length);

// Reads the first variable of the program file at `path` (UTF-8), forward,
// once, never seeking, and no more than kTiHeader.size + 65535 bytes of it. Only the signature (bytes 0..10) is checked; the
// other header fields are skipped unchecked (type, lengths, checksum).
// - OpenFailed: `path` is null, names nothing, is not a regular file (a
//   directory, a FIFO, a device; checked before opening, so a FIFO never
//   blocks), or cannot be opened for reading.
// - NotTiProgram: a signature byte differs, or the file ends before both
//   bytes of L (offsets 70, 71) have been read.
// - None: a file that ends inside the size word or the data block still
//   succeeds; `data` then holds the bytes read and IsTruncated() is true.
// All-or-nothing: on failure `file` is empty.
ReadResult ReadTiProgramFile(const char* path);

// The first variable of a program file as a calculator holds it, for
// sending it over a link: what the file's entry header says of it and its
// data exactly as stored.
struct TiVariable {
    std::string name;          // offset 60, up to its first NUL (at most 8 bytes)
    std::uint8_t type = 0;     // offset 59: 0x05 program, 0x06 protected program
    std::uint8_t version = 0;  // offset 68
    std::uint8_t flags = 0;    // offset 69: bit 7 set for an archived variable
    // The variable's data: the L bytes from offset 72 (L from offset 70),
    // starting with the program's own two-byte size word.
    std::vector<std::uint8_t> data;
};

// The first variable of the program file held in `length` bytes at `bytes`.
// Fails (all-or-nothing) with a reason when the bytes are no TI-83 Plus
// program file ("not a TI-83 Plus program file") or end before the
// variable's L bytes of data do ("the file ends inside the variable's
// data").
fenk::Result<TiVariable> ReadTiVariable(const std::uint8_t* bytes, std::size_t length);

// Fields of a program file to write. The writer fills in every length field
// and the checksum itself.
struct TiProgramSpec {
    std::string name;     // variable name, at most 8 characters (longer is cut)
    std::string comment;  // file comment, at most 42 characters (longer is cut)
    std::uint8_t type = 0x05;  // variable type: 0x05 program, 0x06 protected
    std::uint8_t version = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> body;  // program body, at most kMaxProgramBody bytes
};

// Maximum program body a written file can hold, in bytes: the data section
// length at offset 53 (17 + body + 2) must fit its 16 bits.
constexpr std::size_t kMaxProgramBody = 65516;

// Builds a complete TI-83 Plus program file: signature, comment, data section
// length, an entry header of 13 bytes (with version and flags), type, name,
// both data length words (body size + 2), the size word, the body, and the
// checksum (sum of the bytes from offset 55 to the end of the body, modulo
// 65536). Fails when the body is larger than kMaxProgramBody.
fenk::Result<std::vector<std::uint8_t>> BuildTiProgramFile(const TiProgramSpec& spec);

// The checksum stored after the data section: the low 16 bits of the sum of
// every byte of the data section, which starts at offset 55 and is as long
// as the word at offset 53 says (for one variable: up to the end of its
// data). `file` is a whole program file; returns false (and leaves
// *checksum alone) when `checksum` is null or the file is too short to hold
// that data section and the two checksum bytes after it.
bool ComputeTiChecksum(const std::vector<std::uint8_t>& file,
                       std::uint16_t* checksum);

// ---------------------------------------------------------------------------
// Song data

// Voices of a song, numbered 0..3: 0 and 1 sound on the left, 2 and 3 on
// the right.
constexpr int kVoices = 4;

// The playback rate in Hz of period `period` (1..255): 1,000,000 / period,
// truncated (1: 1,000,000 Hz; 255: 3921 Hz).
constexpr int PeriodRate(std::uint8_t period) { return 1000000 / period; }

// One row of a section: four periods and a shared duration (6 bytes).
struct SongRow {
    // Period of each voice 0..3 (row bytes 0..3); 0 is a silent voice, p in
    // 1..255 plays the sample at 1,000,000 / p Hz (truncated).
    std::uint8_t periods[kVoices] = {};
    // Duration in 5 ms ticks (row bytes 4..5); 0 ends the section.
    std::uint16_t duration = 0;
};

// Size of a row in the block, in bytes.
constexpr std::size_t kRowBytes = 6;

// A checked song: positions inside a data block that the view does not own.
// The block must outlive the view and stay unchanged.
struct SongView {
    const std::uint8_t* data = nullptr;  // first byte of the block
    std::size_t length = 0;              // block length in bytes
    std::size_t title = 0;   // offset of the title's first character (6)
    std::size_t artist = 0;  // offset of the artist's first character
    std::size_t album = 0;   // offset of the album's first character
    std::size_t orderList = 0;  // offset of the order list's first entry
};

// Which check a block failed, when it is not a song.
enum class ParseFailure {
    None,
    TooShort,        // fewer than kSongSignatureBytes bytes
    NoSignature,     // the first bytes are not kSongSignature
    TextNotEnded,    // the title, artist or album has no NUL inside the block
};

// The view, or NotASong for the reason in `failure`, said in `reason` ("the
// data block does not start with the signature FENK1").
using ParseResult = fenk::Result<SongView, ParseFailure>;

// Checks the block: "FENK1" at offset 0, byte for byte (a block shorter
// than 5 bytes is not a song), byte 5 ignored, then title, artist and album
// as texts from offset 6, each ended by a NUL inside the block. The order
// list starts right after the album's NUL and may start at `length` (then
// it is empty). The view points into `data`; nothing past `length` is read.
// `data` may be null only when `length` is 0.
ParseResult ParseSong(const std::uint8_t* data, std::size_t length);

// The three texts, up to their NUL.
std::string TitleText(const SongView& song);
std::string ArtistText(const SongView& song);
std::string AlbumText(const SongView& song);

// The order list entry at byte offset `position` of the block: a section
// offset, or 0 when the list ends there — its 0 entry, or fewer than two
// bytes left in the block.
std::uint16_t OrderEntryAt(const SongView& song, std::size_t position);

// The row at byte offset `offset` of the block. A row that does not fit
// whole inside the block (including a section offset outside the block)
// comes back with duration 0, which ends its section.
SongRow RowAt(const SongView& song, std::size_t offset);

// ---------------------------------------------------------------------------
// What fenk says of a song file

// What fenk shows about a song file as it reads it, and what it found.
struct SongFileReport {
    // Each line fenk prints about the file, in order, with its "\n":
    // "Loaded file NAME (COMMENT)", a truncation warning, then the title,
    // artist and album lines; or the one line of its failure ("Not a valid
    // TI-83 Plus program file!", "This is not a valid Fenk music file!").
    std::string text;
    bool ok = false;          // the file holds a song to play
    SongView song;  // when ok: the song, over read.value.data
};

// The report for `read` (ReadTiProgramFile's or ReadTiProgramBytes'
// result, which the song views and must outlive it), also printed to `out`
// as it is made when `out` is given. An open failure is the caller's to
// report (the message names the path): it gives ok false and no text.
SongFileReport ReportSongFile(const ReadResult& read, std::FILE* out = nullptr);

// ---------------------------------------------------------------------------
// The song's order and its timing unit

// The block starts with this signature (5 bytes, no NUL); byte 5 is ignored.
constexpr char kSongSignature[] = "FENK1";
constexpr std::size_t kSongSignatureBytes = sizeof kSongSignature - 1;
// Size of an order list entry, in bytes: a section's offset in the block.
constexpr std::size_t kOrderEntryBytes = 2;
// A row's duration counts ticks of this many ms.
constexpr unsigned kTickMilliseconds = 5;

// What a song is written from; the builder lays it out.
struct SongSource {
    std::string title, artist, album;  // texts, without NUL bytes
    // The sections, each a list of rows without the ending 0-duration row;
    // a row of duration 0 inside a section is not allowed.
    std::vector<std::vector<SongRow>> sections;
    // Indices into `sections`, in playing order; may repeat.
    std::vector<std::size_t> order;
};

struct BuiltSong {
    std::vector<std::uint8_t> body;  // the song block (program body)
    // Where each of the source's sections was laid, in bytes from the
    // block's start (sectionOffsets[k] for sections[k]).
    std::vector<std::uint16_t> sectionOffsets;
};
using BuildSongResult = fenk::Result<BuiltSong>;

// Lays out a song block: "FENK1", one zero byte, the three texts with their
// NULs, the order list and its 0 entry, then each section once (rows and a
// 0-duration end row). Fails when a text holds a NUL, an order index is out
// of range, a row inside a section has duration 0, or the block would not fit
// in kMaxProgramBody bytes (section offsets are 16-bit).
BuildSongResult BuildSong(const SongSource& source);

}  // namespace songfile
