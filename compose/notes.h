// Note names and periods for the default voice sample.
//
// A period byte p (1..255) plays the voice sample at 1,000,000 / p Hz,
// truncated. The default sample, square.wav, is one 32-frame cycle, so it
// sounds at (1,000,000 / p) / 32 Hz: about 31250 / p Hz. Periods 1..255
// cover 122.5 Hz (a little below B2) up to 31250 Hz; pitch steps grow
// coarse at the top (near A5 one period is about 25 cents).
//
// Note names are scientific pitch notation with A4 = 440 Hz: a letter A..G,
// then optionally one "#" (sharp) or "b" (flat), then the octave number, in
// which C4 is middle C and B3 the note below it.
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"

namespace notes {

// Frames in one cycle of the default sample.
constexpr int kDefaultSampleFrames = 32;

// Reads a whole note name such as "A4", "C#5", "Bb3", "cb4" (the letter may
// be lower case; "b" after the letter is always a flat), octaves -1..9, into
// its MIDI key number (C4 = 60, A4 = 69; may be < 0). Fails for anything
// else.
fenk::Result<int> ParseNoteName(const std::string& text);

// The equal-tempered frequency of a MIDI key number, in Hz (A4 = 440 Hz).
double NoteFrequency(int midiNumber);

// The playback rate of period `period` (1..255) in Hz: 1,000,000 / period,
// truncated (songfile::PeriodRate).
int PeriodRate(std::uint8_t period);

// The frequency in Hz that period `period` (1..255) sounds with the default
// sample: the truncated playback rate divided by 32.
double PeriodFrequency(std::uint8_t period);

// The period whose frequency with the default sample is nearest to
// `frequency` (Hz, > 0), in cents. May lie outside 1..255 when the note is
// out of reach (then it is the period the note would need: > 255 below
// 122.5 Hz, 0 or less only for frequencies above 31250 Hz). Only periods
// 1..255 are ever chosen by comparing cents; outside that range it is the
// rounded ideal period 31250 / frequency.
int NearestPeriod(double frequency);

// How far, in cents, a note's period may sound from the note's own pitch
// with the default sample before the tools say so (the compiler's warning,
// the MIDI import's summary).
constexpr double kFarOffCents = 30.0;

// How far period `period` (1..255) sounds from MIDI key `midiNumber` with
// the default sample, in cents (positive: sharp).
double CentsOff(std::uint8_t period, int midiNumber);

// The note nearest to what a period sounds with the default sample.
struct PeriodNote {
    std::string name;  // e.g. "A4", "C#5" (sharps, never flats)
    double cents = 0;  // how far the period is from that note, -50..+50
};

// The note nearest to period `period` (1..255).
PeriodNote NoteForPeriod(std::uint8_t period);

// The name of a MIDI key number, with sharps: 60 -> "C4", 61 -> "C#4".
std::string NoteName(int midiNumber);

}  // namespace notes
