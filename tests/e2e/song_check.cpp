#include "tests/e2e/song_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace song_check {

std::vector<PlayedRow> RowsInPlayingOrder(const test_support::SongParts& song, bool mono) {
    std::vector<PlayedRow> played;
    for (std::size_t section : song.order) {
        for (const songfile::SongRow& row : song.sections.at(section)) {
            PlayedRow entry;
            entry.row = row;
            entry.heard.ticks = row.duration;
            for (int voice = 0; voice < 4; ++voice) {
                if (row.periods[voice] == 0) continue;
                const double hz = audio_analysis::SquarePitchForPeriod(row.periods[voice]);
                if (mono || voice < 2) entry.heard.leftHz.push_back(hz);
                if (mono || voice >= 2) entry.heard.rightHz.push_back(hz);
            }
            played.push_back(entry);
        }
    }
    return played;
}

std::vector<audio_analysis::HeardRow> Heard(const std::vector<PlayedRow>& rows) {
    std::vector<audio_analysis::HeardRow> heard;
    for (const PlayedRow& row : rows) heard.push_back(row.heard);
    return heard;
}

test_support::SongParts RowLengthsSong() {
    test_support::SongParts song;
    song.name = "TICKS";
    song.title = "Ticks";
    const int ticks[] = {1, 2, 3, 5, 8, 10, 20, 37};
    std::vector<songfile::SongRow> rows;
    for (int row = 0; row < 17; ++row) {
        const auto duration = static_cast<std::uint16_t>(row == 16 ? 10 : ticks[(row + 3 * (row / 8)) % 8]);
        rows.push_back(row % 2 == 0 ? test_support::Row(100, 0, 0, 0, duration)
                                    : test_support::Row(0, 0, 100, 0, duration));
    }
    song.sections = {rows};
    song.order = {0};
    return song;
}

std::string StatusLines(int section, std::uint16_t offset, int rows) {
    std::string lines;
    for (int note = 0; note < rows; ++note) {
        char line[64];
        std::snprintf(line, sizeof line, "Note:%03d Section:%03d=%04X CPU:#\r", note, section, offset);
        lines += line;
    }
    return lines;
}

std::string CheckRowSound(const audio_analysis::Stereo& sound, std::size_t first, std::size_t last,
                          const audio_analysis::HeardRow& expected, const std::vector<double>& absent,
                          std::vector<double>& levels) {
    std::string failures;
    auto note = [&](const std::string& what) { failures += what + "\n"; };
    double weakest = 1e9;
    for (int side = 0; side < 2; ++side) {
        const std::vector<double>& pitches = side == 0 ? expected.leftHz : expected.rightHz;
        const std::vector<double>& others = side == 0 ? expected.rightHz : expected.leftHz;
        const char* name = side == 0 ? "left" : "right";
        if (pitches.empty()) {
            const double peak = audio_analysis::MaxAbs(sound.Side(side), first, last);
            if (peak > 1e-4) note(std::string(name) + " should be silent, peaks at " + std::to_string(peak));
            continue;
        }
        const std::vector<audio_analysis::Peak> peaks =
            audio_analysis::StrongestPeaks(sound.Side(side), sound.rate, first, last, pitches.size());
        for (double hz : pitches) {
            const auto match = std::find_if(peaks.begin(), peaks.end(), [&](const audio_analysis::Peak& peak) {
                return std::fabs(peak.hz - hz) <= 0.005 * hz;
            });
            if (match == peaks.end()) {
                std::string found;
                for (const auto& peak : peaks) found += " " + std::to_string(peak.hz);
                note(std::to_string(hz) + " Hz is not among the strongest " + name + " peaks:" + found);
                continue;
            }
            const double level = audio_analysis::ToneAmplitude(sound.Side(side), sound.rate, hz, first, last);
            levels.push_back(level);
            weakest = std::min(weakest, level);
            if (std::find(others.begin(), others.end(), hz) == others.end()) {
                const double leak = audio_analysis::ToneAmplitude(sound.Side(1 - side), sound.rate, hz, first, last);
                if (leak > 0.01 * level) {
                    note(std::to_string(hz) + " Hz belongs " + name + " but sounds on the other side at " +
                         std::to_string(20 * std::log10(leak / level)) + " dB");
                }
            }
        }
    }
    // A stopped tone is looked for only where no harmonic of a sounding one
    // lies within four bins of it.
    const double binHz = static_cast<double>(sound.rate) / static_cast<double>(last - first);
    auto masked = [&](double hz, int side) {
        for (double sounding : side == 0 ? expected.leftHz : expected.rightHz) {
            for (double harmonic = sounding; harmonic < sound.rate / 2.0; harmonic += 2 * sounding) {
                if (std::fabs(harmonic - hz) < 6 * binHz) return true;
            }
        }
        return false;
    };
    for (double hz : absent) {
        for (int side = 0; side < 2; ++side) {
            if (masked(hz, side)) continue;
            const double level = audio_analysis::ToneAmplitude(sound.Side(side), sound.rate, hz, first, last);
            if (weakest < 1e9 && level > 0.01 * weakest) {
                note(std::to_string(hz) + " Hz should have stopped but sounds on side " + std::to_string(side) +
                     " at " + std::to_string(20 * std::log10(level / weakest)) + " dB");
            }
        }
    }
    return failures;
}

RowTiming TimeRows(const std::vector<double>& startFrames, const std::vector<PlayedRow>& rows, int rate,
                   double boundMs) {
    RowTiming timing;
    for (std::size_t row = 0; row + 1 < startFrames.size() && row < rows.size(); ++row) {
        const double heardMs = (startFrames[row + 1] - startFrames[row]) * 1000.0 / rate;
        const double ticksMs = 5.0 * rows[row].row.duration;
        const double error = heardMs - ticksMs;
        if (std::fabs(error) > std::fabs(timing.worstErrorMs) || timing.worstRow < 0) {
            timing.worstErrorMs = error;
            timing.worstRow = static_cast<int>(row);
        }
        if (std::fabs(error) > boundMs) {
            char line[128];
            std::snprintf(line, sizeof line, "row %zu of %u ticks: %.3f ms heard for %.0f ms (%+.3f ms)\n", row,
                          unsigned(rows[row].row.duration), heardMs, ticksMs, error);
            timing.overBound += line;
        }
    }
    return timing;
}

std::vector<std::string> HearRowsNearTheirPlaces(const audio_analysis::Stereo& sound, long onset,
                                                 const std::vector<PlayedRow>& rows,
                                                 std::vector<double>& levels) {
    std::vector<std::string> failures;
    const int rate = sound.rate;
    double nominalStart = static_cast<double>(onset);
    for (const PlayedRow& row : rows) {
        std::string firstFailure;
        bool heard = false;
        for (int offsetMs = 0; offsetMs <= 60 && !heard; offsetMs = offsetMs > 0 ? -offsetMs : 5 - offsetMs) {
            const double start = nominalStart + (0.05 + offsetMs / 1000.0) * rate;
            if (start < 0) continue;
            std::vector<double> found;
            const std::string failure =
                CheckRowSound(sound, static_cast<std::size_t>(start),
                              static_cast<std::size_t>(start + 0.1 * rate), row.heard, {}, found);
            if (failure.empty()) {
                heard = true;
                levels.insert(levels.end(), found.begin(), found.end());
            } else if (firstFailure.empty()) {
                firstFailure = failure;
            }
        }
        failures.push_back(heard ? std::string() : firstFailure);
        nominalStart += row.row.duration * rate / 200.0;
    }
    return failures;
}

}  // namespace song_check
