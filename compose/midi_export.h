// A song written out as a Standard MIDI File, for the composers' other
// tools (sequencers, notation, DAWs).
//
// The file is type 1 at 100 ticks a quarter note and 120 beats a minute, so
// that a MIDI tick is the player's 5 ms tick and every row starts on its
// exact moment. Track 0 holds the tempo, a 4/4 time signature, the title as
// the sequence name and the artist and album as text events; tracks 1..4
// are voices 0..3, named "Voice 0".."Voice 3", on MIDI channels 1..4 (0..3
// in the bytes), each with the square lead (General MIDI 81, 80 in the
// bytes) and a pitch bend
// range set through RPN 0: kBendRangeSemitones, or as many semitones as the
// highest periods need above the highest key, G9 (period 1: 16).
//
// Each voice sounds the MIDI key nearest the pitch its period sounds with
// the default sample (31,250 / period Hz). Where that key is more than
// kBendCents off the period's pitch, or where the key alone would be
// imported as another period, a pitch bend before the note puts it where
// the period sounds, so that fenk-make's import gives the period back. A
// note held over rows of one period is one note; a rest is silence. The
// end wait after the last row is not written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "songfile/songfile.h"

namespace midiexport {

// Ticks of the file per quarter note; at 120 beats a minute, 5 ms a tick.
constexpr int kTicksPerQuarter = 100;
constexpr int kBendRangeSemitones = 2;
constexpr double kBendCents = 10.0;
// The most rows a song may play to be written (a bound on the file's size:
// about 50 MB at the most).
constexpr std::uint64_t kMostRows = 1000000;

struct Export {
    std::vector<std::uint8_t> bytes;  // the Standard MIDI File
    std::size_t notes = 0;            // note-on events, all voices
    std::size_t bent = 0;             // notes that needed a pitch bend
    int bendRange = kBendRangeSemitones;  // semitones, 2..16
};

// The song as it plays (the order list, each entry's rows up to its end).
// Fails only for a song that plays more than kMostRows rows.
fenk::Result<Export> ExportMidi(const songfile::SongView& song);

}  // namespace midiexport
