// Measurements on the sound the player sent to its output: the tones that
// sound on each side (spectral peaks), and where each row of a song begins
// (the frame at which its voices start, found by the change of pitch).
//
// The voices play the default square sample, a 32-frame cycle that starts
// high, so a voice at playback rate r Hz is a square of r / 32 Hz whose
// first rising edge is the frame at which the voice started. Every voice of
// a row starts at the row's first frame unless notes are extended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace audio_analysis {

// Stereo sound at `rate` frames per second, one vector per side.
struct Stereo {
    int rate = 0;               // frames per second
    std::vector<float> left;    // side 0
    std::vector<float> right;   // side 1; as long as left
    const std::vector<float>& Side(int side) const { return side == 0 ? left : right; }
    std::size_t Frames() const { return left.size(); }
};

// Interleaved left/right float samples (what the player hands its device).
Stereo FromFloatFrames(const std::vector<unsigned char>& bytes, int rate);
// Interleaved left/right signed 16-bit little-endian samples, scaled to
// -1..1 (what parec records with --format=s16le).
Stereo FromS16Frames(const std::vector<unsigned char>& bytes, int rate);

// The pitch in Hz of the default sample played for a period byte (1..255):
// its playback rate, 1,000,000 / period truncated, over its 32-frame cycle.
double SquarePitchForPeriod(int period);

// One spectral peak: its frequency (interpolated between the bins) and the
// amplitude of the sine that would give it.
struct Peak {
    double hz = 0.0;
    double amplitude = 0.0;
};

// The strongest `count` local maxima of the Hann-windowed spectrum of
// frames [first, last) of `side`, strongest first, above 20 Hz.
std::vector<Peak> StrongestPeaks(const std::vector<float>& side, int rate, std::size_t first,
                                 std::size_t last, std::size_t count);

// The amplitude of the sine of `hz` in frames [first, last) of `side`
// (Blackman-Harris window: a tone more than four bins away leaks in 92 dB
// down at most).
double ToneAmplitude(const std::vector<float>& side, int rate, double hz, std::size_t first,
                     std::size_t last);

// Peak |sample| in frames [first, last).
double MaxAbs(const std::vector<float>& side, std::size_t first, std::size_t last);

// First frame at or after `from` with |sample| above `threshold` on either
// side; -1 when there is none.
long FirstSound(const Stereo& sound, double threshold, std::size_t from = 0);

// The first frame of each of `rows` rows that sound one at a time on
// alternate sides (row 0 on the left, row 1 on the right, ...): for each
// row, the first frame with |sample| above `threshold` on its side, looked
// for from 40 frames after the row before began. From the first row not
// heard on, the frames are -1.
std::vector<long> AlternatingRowOnsets(const Stereo& sound, std::size_t rows, double threshold);

// A row as heard: the square pitches (Hz) that sound on each side, all
// started at the row's first frame, and its length in ticks of 5 ms.
struct HeardRow {
    std::vector<double> leftHz;
    std::vector<double> rightHz;
    int ticks = 0;
};

// Where the rows were found: the first frame of each row, and for each
// boundary how much of the sound near it the rows' squares explain.
struct RowStarts {
    bool found = false;
    std::string failure;           // why not, when !found
    std::vector<double> frames;    // first frame of every row
    // Per row: the share (0..1) of the sound around its start that the
    // squares leave unexplained; and the largest of them, at worstRow.
    std::vector<double> unexplained;
    double worstUnexplained = 0;
    int worstRow = -1;
};

// Finds the first frame of each of `rows`, played one after the other from
// about frame `approximateStart` (within 2 ms), each row replacing every
// voice of the one before (notes stopped at each row). A boundary is looked
// for from 2 ms before the row's nominal end (ticks x 5 ms) to 30 % plus
// 5 ms after it, at the frame where the squares of the row before (started
// at its own first frame) give way to those of the row after (started at
// that frame), best in the least-squares sense: the old squares fitted to
// the old row from 1.5 ms after its start (at most 20 ms before the
// earliest candidate) up to the candidate, the new ones to up to 20 ms from
// 1.5 ms after the candidate (the old voices fade out meanwhile), within
// the next row's nominal length less 2 ms. Needs every pitch to have a
// period longer than that 1.5 ms (period bytes of 47 and more); short rows
// are told apart best with periods of 1.5 to 3 ms. The last row has no end.
RowStarts LocateRowStarts(const Stereo& sound, const std::vector<HeardRow>& rows,
                          long approximateStart);

}  // namespace audio_analysis
