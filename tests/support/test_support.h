// Helpers for the tests of every module: a temporary folder per test, and
// TI-83 Plus song files built from readable parts (texts, rows, an order
// list) through the real writers of the songfile module, so no test keeps an
// opaque binary blob.
//
// Misuse is a bug in the test itself, not a case to test: a song that
// BuildSong rejects, or a file that cannot be written, prints the reason on
// standard error and aborts the test program. To test malformed input, build
// the bytes with Text/Word/Join and wrap them with ProgramFile.
//
// Typical use:
//   test_support::TempDir dir;
//   test_support::SongParts song;
//   song.title = "Tune";
//   song.sections = {{test_support::Row(100, 0, 0, 0, 20)}};
//   song.order = {0};
//   std::string path = dir.Write("tune.8xp", test_support::SongFile(song));
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "fenk_version.h"
#include "songfile/songfile.h"

namespace test_support {

// fenk's banner, the first thing every run prints: "Fenk 1.0.0 - four-voice
// TI-83 Plus song player" and an empty line.
std::string Banner();

using Bytes = std::vector<std::uint8_t>;

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes out of scope. Make one a member of
// a test fixture (or a local of a test) to get one folder per test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The path of `name` inside the folder (the file need not exist).
    std::string File(const std::string& name) const;
    // Writes `bytes` to a new file `name` in the folder (replacing one of
    // that name) and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const;

private:
    std::filesystem::path path_;
};

// ---------------------------------------------------------------------------
// Bytes from readable parts

// The whole content of the file at `path`, or "" when it cannot be read.
std::string ReadText(const std::string& path);

// The characters of `text` as bytes, without a terminating NUL.
Bytes Text(const std::string& text);
// A two-byte little-endian word.
Bytes Word(std::uint16_t value);
// The parts one after the other, e.g. Join({Text("FENK1"), {0}, Word(9)}).
Bytes Join(std::initializer_list<Bytes> parts);

// One song row: periods of voices 0..3 (0 silent, 1..255) and a duration in
// 5 ms ticks (1..65535 inside a section; 0 only to build raw blocks).
songfile::SongRow Row(std::uint8_t period0, std::uint8_t period1,
                      std::uint8_t period2, std::uint8_t period3,
                      std::uint16_t duration);

// ---------------------------------------------------------------------------
// Songs and program files

// A whole song file in readable form. Defaults give a valid song with no
// sections, in a program named "SONG" with an empty comment.
struct SongParts {
    std::string title, artist, album;  // texts without NUL bytes
    // Sections as their rows, without the ending 0-duration row.
    std::vector<std::vector<songfile::SongRow>> sections;
    std::vector<std::size_t> order;  // indices into `sections`, in playing order
    std::string name = "SONG";       // program variable name, at most 8 chars
    std::string comment;             // file comment, at most 42 chars
};

// The song block (program body) that BuildSong lays out for `song`.
Bytes SongBody(const SongParts& song);
// A complete TI-83 Plus program file holding the song.
Bytes SongFile(const SongParts& song);
// A complete TI-83 Plus program file (type 0x05, version and flags 0) with
// any body, valid as a song or not.
Bytes ProgramFile(const Bytes& body, const std::string& name = "SONG",
                  const std::string& comment = "");

// ---------------------------------------------------------------------------
// What a song plays

// Each order entry's rows as the player plays them (up to the first row of
// duration 0), one line of text a row: "71 0 200 72 100".
std::vector<std::string> PlayedRows(const songfile::SongView& song);

// The song file at `path` read and checked: its rows as PlayedRows gives
// them, after a first line of its texts, name and comment; "" when it is no
// song file.
std::string PlayedSong(const std::string& path);

}  // namespace test_support
