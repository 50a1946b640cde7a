#include "compose/notes.h"

#include <cassert>
#include <cctype>
#include <cmath>

#include "songfile/songfile.h"

namespace notes {

namespace {

// Semitones above C of each letter A..G.
constexpr int kLetterSemitones[7] = {9, 11, 0, 2, 4, 5, 7};

double CentsBetween(double frequency, double reference) {
    return 1200.0 * std::log2(frequency / reference);
}

}  // namespace

fenk::Result<int> ParseNoteName(const std::string& text) {
    const auto notANote = [&text] {
        return fenk::Failed<int>(fenk::Failure::Failed, "'" + text + "' is not a note name");
    };
    if (text.empty()) return notANote();
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G') return notANote();
    int semitone = kLetterSemitones[letter - 'A'];
    std::size_t position = 1;
    if (position < text.size() && (text[position] == '#' || text[position] == 'b')) {
        semitone += text[position] == '#' ? 1 : -1;
        ++position;
    }
    bool negative = false;
    if (position < text.size() && text[position] == '-') {
        negative = true;
        ++position;
    }
    // One digit: octaves -1..9 are all there is to say.
    if (position + 1 != text.size() || !std::isdigit(static_cast<unsigned char>(text[position]))) {
        return notANote();
    }
    int octave = text[position] - '0';
    if (negative) {
        if (octave != 1) return notANote();
        octave = -1;
    }
    return fenk::Succeeded((octave + 1) * 12 + semitone);
}

double NoteFrequency(int midiNumber) {
    return 440.0 * std::pow(2.0, (midiNumber - 69) / 12.0);
}

int PeriodRate(std::uint8_t period) {
    assert(period != 0);
    return songfile::PeriodRate(period);
}

double PeriodFrequency(std::uint8_t period) {
    return static_cast<double>(PeriodRate(period)) / kDefaultSampleFrames;
}

int NearestPeriod(double frequency) {
    assert(frequency > 0);
    const double ideal = 1000000.0 / kDefaultSampleFrames / frequency;
    if (ideal > 255.5 || ideal < 0.5) return static_cast<int>(std::lround(ideal));
    // Truncation of the rate makes the nearest period in cents not always
    // the rounded ideal one, so compare the neighbours.
    const int low = static_cast<int>(std::floor(ideal));
    int best = 0;
    double bestCents = 0;
    for (int candidate = low - 1; candidate <= low + 2; ++candidate) {
        if (candidate < 1 || candidate > 255) continue;
        const double cents = std::fabs(
            CentsBetween(PeriodFrequency(static_cast<std::uint8_t>(candidate)), frequency));
        if (best == 0 || cents < bestCents) {
            best = candidate;
            bestCents = cents;
        }
    }
    return best;
}

PeriodNote NoteForPeriod(std::uint8_t period) {
    const double frequency = PeriodFrequency(period);
    const int midi = static_cast<int>(std::lround(69 + 12 * std::log2(frequency / 440.0)));
    PeriodNote result;
    result.name = NoteName(midi);
    result.cents = CentsBetween(frequency, NoteFrequency(midi));
    return result;
}

double CentsOff(std::uint8_t period, int midiNumber) {
    return CentsBetween(PeriodFrequency(period), NoteFrequency(midiNumber));
}

std::string NoteName(int midiNumber) {
    static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F",
                                           "F#", "G", "G#", "A", "A#", "B"};
    const int octave = static_cast<int>(std::floor(midiNumber / 12.0)) - 1;
    const int semitone = midiNumber - (octave + 1) * 12;
    return std::string(kNames[semitone]) + std::to_string(octave);
}

}  // namespace notes
