// Checks shared by the whole-program tests: the rows a song plays, as they
// should be heard, and the checks of the captured sound against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/audio_analysis.h"
#include "tests/support/test_support.h"

namespace song_check {

// A played row: its periods and ticks as stored, and its pitches as heard.
struct PlayedRow {
    songfile::SongRow row;
    audio_analysis::HeardRow heard;
};

// The rows of `song` in playing order (sections as the order list names
// them), with their pitches on the sides: voices 0 and 1 left, 2 and 3
// right, or every voice on both sides when `mono`.
std::vector<PlayedRow> RowsInPlayingOrder(const test_support::SongParts& song, bool mono);
std::vector<audio_analysis::HeardRow> Heard(const std::vector<PlayedRow>& rows);

// A song of 17 rows of 1 to 37 ticks in a mixed order (the last of 10),
// each sounding one voice at period 100 alone, on the left for even rows
// and on the right for odd ones: played with a looped constant level, the
// distance between two rows' onsets (audio_analysis::AlternatingRowOnsets)
// is the row's length, to the frame. Named TICKS, titled "Ticks".
test_support::SongParts RowLengthsSong();

// The status lines of a section's first `rows` rows, with "CPU:#" for the
// figure: "Note:000 Section:<section>=<offset> CPU:#\r" and so on.
std::string StatusLines(int section, std::uint16_t offset, int rows);

// The checks of one row's sound, frames [first, last) of `sound`:
// - every pitch of `expected` on a side is one of that side's strongest
//   peaks (as many peaks as pitches), within 0.5 %;
// - each of them is at least 40 dB weaker on the other side, unless it
//   sounds there too (pitches of a row must lie six bins apart);
// - each pitch of `absent` (tones that must have stopped) is 40 dB below
//   the row's weakest pitch on either side, where no harmonic of a
//   sounding pitch lies within six bins of it;
// - a side without pitches is silent (below 1e-4).
// The amplitudes of the fundamentals found are appended to `levels`.
// Returns a description of what failed; empty when all holds.
std::string CheckRowSound(const audio_analysis::Stereo& sound, std::size_t first, std::size_t last,
                          const audio_analysis::HeardRow& expected, const std::vector<double>& absent,
                          std::vector<double>& levels);

// Each of `rows` looked for near where its ticks put it, the first at
// frame `onset` of `sound`: a server under load may drop a few ms of sound
// now and then, so each row's pitches (CheckRowSound, nothing absent) must
// hold in some 100 ms of it, starting within 60 ms of 50 ms into it. One
// entry per row: empty when heard, else what failed at its nominal place.
// The amplitudes found are appended to `levels`.
std::vector<std::string> HearRowsNearTheirPlaces(const audio_analysis::Stereo& sound, long onset,
                                                 const std::vector<PlayedRow>& rows,
                                                 std::vector<double>& levels);

// The row lengths between the starts found, against `ticks` x 5 ms: the
// worst error in ms, and a line per row longer than the bound.
struct RowTiming {
    double worstErrorMs = 0.0;
    int worstRow = -1;
    std::string overBound;  // one line per row beyond `boundMs`
};
RowTiming TimeRows(const std::vector<double>& startFrames, const std::vector<PlayedRow>& rows, int rate,
                   double boundMs);

}  // namespace song_check
