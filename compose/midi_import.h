// A MIDI arrangement reduced to a Fenk song: four monophonic voices on the
// 5 ms tick, written as song text (docs/song-format.md) that fenk-make
// compiles like any other, with a summary of everything the reduction
// changed.
//
// How: every note starts and ends on the tick nearest its exact time from
// the song's start (a note shorter than a tick keeps one), after moving to
// a grid of the file's beats when one is asked for. Without a voice choice,
// the percussion channel (10) is left out and the rest is reduced as a
// listener hears it: at every moment the highest note sounding (the tune)
// and the lowest (the bass) sound whenever four voices allow, before any
// note between them; those fill the voices left, the longer and louder
// first. The tune goes to voice 0 and the bass to voice 3 when they are
// free, the notes between to voices 1 and 2, and a voice keeps to the line
// nearest its last note. A note that must give way is cut where the other
// begins (left out when both begin together), never moved; when the tune or
// the bass has no voice (it was between others when it began), the rest of
// it takes one. Two notes that follow without a gap in one voice and play
// one period are parted by a one-tick rest, since equal rows run into one
// note. Pitches are the period nearest the note with the default sample; a
// note below the periods' reach is moved up by octaves. Durations are
// written in beats at the file's tempo where that compiles to the exact
// ticks, else in ticks. Sections are cut at every fourth bar line (from
// the time signatures; two seconds when the file counts SMPTE time), and a
// section equal to an earlier one is named again in the order instead of
// written twice.
#pragma once

#include <cstdint>
#include <string>

#include "compose/midi_file.h"
#include "common/result.h"
#include "songfile/songfile.h"

namespace midiimport {

// Where one voice's notes come from, when the composer says (--voices).
struct VoiceSource {
    enum class Kind { None, Channel, Track };
    Kind kind = Kind::None;  // None: the voice stays silent
    int number = 0;          // channel 1..16 or track 1..N, as people count them
};

// Reads a --voices list: four items separated by commas, each "cN" (channel
// N, 1..16), "tN" (track N, from 1) or "-" (silent), e.g. "c1,c2,t3,-".
fenk::Result<std::vector<VoiceSource>> ParseVoiceSources(const std::string& text);

// A place in a MIDI file, as --from and --to name it.
struct Place {
    enum class Kind { None, Time, Bar };
    Kind kind = Kind::None;  // None: the file's start (--from) or end (--to)
    double seconds = 0.0;    // Time: from the file's start
    int bar = 0;             // Bar: from 1, on the file's time signatures
};

// Reads a place: a bar number ("57") or a time ("4:31.2", "0:05", "95.5"
// seconds). Fails with a line that says what a place is.
fenk::Result<Place> ParsePlace(const std::string& text);

struct ImportOptions {
    // Empty: the reduction chooses; else four, and a note goes to the first
    // voice that names its channel or its track.
    std::vector<VoiceSource> voices;
    int transpose = 0;                    // semitones, added to every note
    std::string title = "MIDI import";    // when the file names no track
    std::string programName = "MIDI";     // the calculator's name for the program
    // Only the notes from `from` to `to` (each cut to them), the song
    // starting at `from`.
    Place from, to;
    // Too big for a program: the longest start that fits, cut at a bar line
    // (the summary says where).
    bool fit = false;
    // Note starts and ends moved to the nearest multiple of this note value
    // of the file's own beats before the reduction ("1/16", "1/12"; empty:
    // as they are). A note keeps one step at least.
    std::string grid;
};

struct Import {
    int format = 0;          // the file's type, 0 or 1
    std::size_t tracks = 0;  // its MTrk chunks
    std::string text;     // the song text
    // What was changed, one line each, without a final newline: voices
    // used, how much of the tune was kept ("tune: melody kept 97 % of the
    // time, bass 94 %", as MeasureTuneKept), notes kept, cut short, left out
    // (the first few by bar and pitch), pitches moved or far off (with a
    // --transpose hint when most of the melody is), the length, and where
    // --fit cut.
    std::vector<std::string> summary;
};

// One row as a song plays it: from `start` (ticks from the song's start)
// for `ticks`, each voice's period (0: silent).
struct PlayedRow {
    std::int64_t start = 0;
    std::int64_t ticks = 0;
    std::uint8_t periods[songfile::kVoices] = {};
};

// The rows `song` plays, in order from tick 0 (as far as two hours).
std::vector<PlayedRow> PlayedRows(const songfile::SongView& song);

// How much of a MIDI file's tune a song keeps, looked at every 10 ms over
// the file's non-percussion notes (transposed by `transpose` semitones):
// the share of moments at which the highest note sounding (the melody)
// sounds in one of the song's voices, as the period the import gives it
// (moved by octaves into the periods' reach), and the share for the lowest
// (the bass). Moments without a note sounding are not counted. A song of a
// part of the file (--from, --to) is measured against the file's song
// ticks `from` to `to`, its tick 0 at `from`.
struct TuneKept {
    double melody = 1.0;  // 0..1
    double bass = 1.0;    // 0..1
    std::size_t moments = 0;
};
TuneKept MeasureTuneKept(const midi::MidiFile& file, int transpose, const std::vector<PlayedRow>& rows,
                         std::int64_t from = 0, std::int64_t to = INT64_MAX);

// Fails when nothing can be made of the file: no notes to play (in the part
// chosen), a voice list naming a track the file lacks, a place past the
// file's bars, a grid for a file in SMPTE time; with `fit`, when not even
// the first bar fits a program.
fenk::Result<Import> ImportMidi(const midi::MidiFile& file, const ImportOptions& options);

// Reads `bytes` as a MIDI file (midi::ReadMidiFile), then as ImportMidi;
// fails with the reader's reason or the import's.
fenk::Result<Import> ImportMidiFile(const std::vector<std::uint8_t>& bytes, const ImportOptions& options);

}  // namespace midiimport
