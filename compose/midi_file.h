// Standard MIDI Files read into notes on one time line: what an import into
// a song needs (each note's channel, track, pitch and its start and end in
// seconds), the tempo map and the time signatures for the bars, and the
// tracks' names. Types 0 and 1; any division (ticks per quarter note, or
// SMPTE frames and ticks per frame). Standard library only, so that it
// builds wherever the player's core does.
//
// The file's layout, as the reader depends on it: a chunk is a 4-byte type
// and a 4-byte big-endian length; the header chunk "MThd" (length >= 6)
// holds the format (bytes 0-1), the track count (2-3) and the division
// (4-5); each "MTrk" chunk holds events, each a variable-length delta time
// (at most 4 bytes of 7 bits) and a message: a channel message (status
// 0x80-0xEF, or the previous status again: running status), a system
// exclusive message (0xF0 or 0xF7, a variable length, the bytes) or a meta
// event (0xFF, a type, a variable length, the bytes). Chunks of other types
// are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace midi {

// One note, from its note-on to its note-off (or to its track's end when it
// has none). A note-on of velocity 0 is a note-off; each note-off ends the
// earliest sounding note of its pitch and channel, whichever track began it
// (the tracks' events merged in time order, at one tick in the order of the
// tracks), as a synthesizer playing the file hears it.
struct Note {
    std::uint8_t channel = 0;   // 0..15 (9 is General MIDI's percussion, "channel 10")
    std::uint8_t pitch = 0;     // MIDI note number 0..127 (60 is middle C, C4)
    std::uint8_t velocity = 0;  // 1..127
    // Semitones its channel's pitch bend moves it by at its note-on, on the
    // bend range RPN 0 sets (2 semitones until it does): the channel's bend
    // and controllers from every track, heard in the merged order above
    // (data entry after an NRPN select, controllers 99 and 98, sets that
    // parameter, not the bend range, until RPN 0 is selected again).
    double bend = 0.0;
    std::size_t track = 0;      // the MTrk chunk it came from, from 0
    std::uint64_t startTick = 0;  // in the file's ticks from the start
    std::uint64_t endTick = 0;    // >= startTick
    double startSeconds = 0.0;    // the same moments on the tempo map
    double endSeconds = 0.0;
};

struct TempoChange {
    std::uint64_t tick = 0;
    std::uint32_t microsecondsPerQuarter = 500000;  // 120 beats a minute; > 0
    double seconds = 0.0;  // the moment of `tick`
};

struct TimeSignature {
    std::uint64_t tick = 0;
    int numerator = 4;
    int denominator = 4;  // a power of two
};

struct MidiFile {
    int format = 0;  // 0 or 1
    // Ticks per quarter note (the tempo map applies), or 0 when the file
    // counts SMPTE time: then framesPerSecond x ticksPerFrame ticks a
    // second and no tempo applies.
    int ticksPerQuarter = 0;
    double framesPerSecond = 0.0;  // 24, 25, 29.97 or 30
    int ticksPerFrame = 0;
    std::vector<std::string> trackNames;  // one per MTrk chunk ("" for none)
    std::vector<TempoChange> tempos;      // in order of tick; the first at tick 0
    std::vector<TimeSignature> signatures;  // in order of tick; the first at tick 0
    std::vector<Note> notes;              // in order of start (then channel, pitch)
    std::uint64_t lastTick = 0;           // the latest event of any track
    double lengthSeconds = 0.0;           // lastTick on the tempo map
};

// True when `bytes` begin as a Standard MIDI File does ("MThd").
bool IsMidiFile(const std::vector<std::uint8_t>& bytes);

// Reads the bytes of a Standard MIDI File. All or nothing: a file that is
// not one, is cut short, or whose counts and lengths run past its end fails
// with one line that says so ("the file is cut short in track 2", "a type 2
// file (separate songs) cannot be imported", ...).
fenk::Result<MidiFile> ReadMidiFile(const std::vector<std::uint8_t>& bytes);

// The moment of `tick` in seconds from the start, on `file`'s tempo map.
double SecondsAtTick(const MidiFile& file, std::uint64_t tick);

}  // namespace midi
