// A MIDI arrangement reduced to a Fenk song: four monophonic voices on the
// 5 ms tick, written as song text (docs/song-format.md) that fenk-make
// compiles like any other, with a summary of everything the reduction
// changed.
//
// How: every note starts and ends on the tick nearest its exact time from
// the song's start (a note shorter than a tick keeps one). Without a voice
// choice, the percussion channel (10) is left out and each other channel's
// notes are split into monophonic lines, a chord into several; the line
// highest on average goes to voice 0, the lowest to voice 3, the others
// (by how long they sound) to voices 1 and 2 and to whichever voice is free.
// Where more than four notes sound at once, the notes of the lowest-ranked
// lines give way: a note that gives way is cut where the other begins (left
// out when both begin together), never moved. Two notes of one pitch that
// follow without a gap in one voice are parted by a one-tick rest, since
// equal rows run into one note. Pitches are the period nearest the note with
// the default sample; a note below the periods' reach is moved up by
// octaves. Sections are cut at every fourth bar line (from the time
// signatures; two seconds when the file counts SMPTE time), and a section
// equal to an earlier one is named again in the order instead of written
// twice.
#pragma once

#include <string>

#include "compose/midi_file.h"
#include "common/result.h"

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

struct ImportOptions {
    // Empty: the reduction chooses; else four, and a note goes to the first
    // voice that names its channel or its track.
    std::vector<VoiceSource> voices;
    int transpose = 0;                    // semitones, added to every note
    std::string title = "MIDI import";    // when the file names no track
    std::string programName = "MIDI";     // the calculator's name for the program
};

struct Import {
    int format = 0;          // the file's type, 0 or 1
    std::size_t tracks = 0;  // its MTrk chunks
    std::string text;     // the song text
    // What was changed, one line each, without a final newline: voices
    // used, notes kept, cut short, left out (the first few by bar and
    // pitch), pitches moved or far off, the length.
    std::vector<std::string> summary;
};

// Fails when nothing can be made of the file: no notes to play, a voice
// list naming a track the file lacks.
fenk::Result<Import> ImportMidi(const midi::MidiFile& file, const ImportOptions& options);

// Reads `bytes` as a MIDI file (midi::ReadMidiFile), then as ImportMidi;
// fails with the reader's reason or the import's.
fenk::Result<Import> ImportMidiFile(const std::vector<std::uint8_t>& bytes, const ImportOptions& options);

}  // namespace midiimport
