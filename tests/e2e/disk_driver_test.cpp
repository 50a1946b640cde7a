// The real fenk program playing whole songs through SDL's disk driver: the
// exact standard output and exit status of each run, and its sound as the
// driver wrote it: the pitches of every row on their sides, mono centred,
// 8000 Hz with "l", earlier notes still sounding with "x", and every row
// lasting its ticks of 5 ms.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/audio_analysis.h"
#include "tests/fsound/fixtures.h"
#include "tests/e2e/player_run.h"
#include "tests/e2e/song_check.h"
#include "tests/support/test_support.h"

namespace {

using song_check::PlayedRow;
using song_check::StatusLines;
using test_support::Row;

std::string Header(const test_support::SongParts& song, const std::string& sample) {
    return test_support::Banner() + "Loaded file " + song.name + " (" + song.comment + ")\n" +
           "Song title:  " + song.title + "\nSong artist: " + song.artist + "\nSong album:  " + song.album +
           "\nStarting FMOD...Done.\n"
           "Loading sample '" +
           sample +
           "'...Done.\n"
           "Playing... (press any key to stop)\n";
}

const std::string kFinish = "\nShutting down FMOD...Done.\n";

// The standard output of a run, the CPU figures masked, and its status.
void ExpectOutput(const player_run::Run& run, const std::string& expected) {
    EXPECT_EQ(player_run::WithoutCpuFigures(run.program.out), expected);
    EXPECT_EQ(run.program.ExitStatus(), 0);
    for (double figure : player_run::CpuFigures(run.program.out)) {
        EXPECT_GE(figure, 0.0);
        EXPECT_LE(figure, 100.0);
    }
}

// Row starts in the sound of a run that played `rows` with notes stopped
// at each row.
audio_analysis::RowStarts FindRows(const audio_analysis::Stereo& sound, const std::vector<PlayedRow>& rows) {
    const long onset = audio_analysis::FirstSound(sound, 0.01);
    if (onset < 0) {
        audio_analysis::RowStarts none;
        none.failure = "nothing sounded in " + std::to_string(sound.Frames()) + " frames";
        return none;
    }
    audio_analysis::RowStarts starts = audio_analysis::LocateRowStarts(sound, song_check::Heard(rows), onset);
    // The rows' squares must explain the sound around every boundary, or
    // the boundaries found mean nothing.
    if (starts.found && starts.worstUnexplained > 0.2) {
        starts.found = false;
        starts.failure = "the rows' squares leave " + std::to_string(starts.worstUnexplained) +
                         " of the sound around the start of row " + std::to_string(starts.worstRow) +
                         " unexplained";
    }
    return starts;
}

// The frames of row `row` to look at: `margin` seconds inside its start and
// the next row's start (or its nominal end, for the last row).
std::pair<std::size_t, std::size_t> Interior(const std::vector<double>& startFrames,
                                             const std::vector<PlayedRow>& rows, std::size_t row, int rate,
                                             double margin) {
    const double start = startFrames[row];
    const double end = row + 1 < startFrames.size() ? startFrames[row + 1]
                                                    : start + rows[row].row.duration * rate / 200.0;
    return {static_cast<std::size_t>(start + margin * rate), static_cast<std::size_t>(end - margin * rate)};
}

// The pitches of the row before that are not in this row: they must have
// stopped.
std::vector<double> Stopped(const std::vector<PlayedRow>& rows, std::size_t row) {
    std::vector<double> stopped;
    if (row == 0) return stopped;
    const audio_analysis::HeardRow& now = rows[row].heard;
    for (const auto* side : {&rows[row - 1].heard.leftHz, &rows[row - 1].heard.rightHz}) {
        for (double hz : *side) {
            if (std::find(now.leftHz.begin(), now.leftHz.end(), hz) == now.leftHz.end() &&
                std::find(now.rightHz.begin(), now.rightHz.end(), hz) == now.rightHz.end()) {
                stopped.push_back(hz);
            }
        }
    }
    return stopped;
}

// Every row of 20 ticks and more: its pitches on their sides, the row
// before it stopped. Every voice plays at the same volume, so all the
// fundamentals found have one level (within 1 dB).
void ExpectRowPitches(const audio_analysis::Stereo& sound, const std::vector<double>& startFrames,
                      const std::vector<PlayedRow>& rows, double marginSeconds = 0.003) {
    ASSERT_EQ(startFrames.size(), rows.size()) << "rows not found";
    std::vector<double> levels;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (rows[row].row.duration < 20) continue;  // too short to tell the pitches apart
        SCOPED_TRACE("row " + std::to_string(row));
        const auto [first, last] = Interior(startFrames, rows, row, sound.rate, marginSeconds);
        EXPECT_EQ(song_check::CheckRowSound(sound, first, last, rows[row].heard, Stopped(rows, row), levels), "");
    }
    ASSERT_FALSE(levels.empty());
    for (double level : levels) EXPECT_NEAR(20 * std::log10(level / levels.front()), 0.0, 1.0);
}

// Where the rows of a run begin, placed by the moments of their status
// lines from the first sound on: good to a few tens of ms (the frame clock
// settling, the driver's pace), for looking 30 ms inside long rows.
std::vector<double> RowsByStatusLines(const player_run::Run& run) {
    std::vector<double> startFrames;
    const long onset = audio_analysis::FirstSound(run.sound, 0.01);
    if (onset < 0) return startFrames;
    for (double seconds : run.statusLineSeconds) {
        startFrames.push_back(onset + (seconds - run.statusLineSeconds[0]) * run.sound.rate);
    }
    return startFrames;
}

class DiskDriverTest : public ::testing::Test {
protected:
    // Plays `song` written as `file` in the test's folder.
    player_run::Run Play(const test_support::SongParts& song, const std::string& file,
                         std::vector<std::string> arguments, int rate = 32000,
                         player_run::Pacing pacing = player_run::Pacing::ReadAtRate) {
        dir.Write(file, test_support::SongFile(song));
        arguments.insert(arguments.begin(), file);
        return player_run::PlayOnDiskDriver(arguments, rate, dir.Path().string(), pacing);
    }

    // Plays `song` and finds its `rows` in the sound: the run and where each
    // row starts.
    std::pair<player_run::Run, audio_analysis::RowStarts> PlayAndFindRows(
        const test_support::SongParts& song, const std::string& file, const std::vector<std::string>& arguments,
        const std::vector<PlayedRow>& rows) {
        player_run::Run run = Play(song, file, arguments);
        audio_analysis::RowStarts starts;
        if (run.failure.empty()) starts = FindRows(run.sound, rows);
        return {run, starts};
    }

    test_support::TempDir dir;
};

TEST_F(DiskDriverTest, StereoRunShowsEveryRowAndSoundsEachVoiceOnItsSide) {
    // Two sections, an empty one between them, and the first one again;
    // rows of 1 to 37 ticks, with silent voices and a silent row.
    test_support::SongParts song;
    song.name = "SIDES";
    song.comment = "whole run";
    song.title = "Sides";
    song.artist = "Fenk tests";
    song.album = "Whole runs";
    song.sections = {
        {Row(50, 64, 56, 72, 24), Row(81, 100, 90, 113, 1), Row(53, 67, 59, 76, 2), Row(85, 106, 95, 120, 5),
         Row(60, 75, 66, 84, 10), Row(90, 140, 115, 180, 37), Row(58, 70, 62, 79, 3)},
        {},
        {Row(105, 0, 0, 88, 20), Row(0, 0, 0, 0, 20), Row(70, 0, 97, 0, 30)},
    };
    song.order = {0, 1, 2, 0};
    // The default sample, not in the current folder: found beside the
    // program, and named as given.
    const std::vector<PlayedRow> rows = song_check::RowsInPlayingOrder(song, false);
    const auto [run, starts] = PlayAndFindRows(song, "sides.8xp", {}, rows);
    ASSERT_EQ(run.failure, "");

    // Block: "FENK1" and a byte (6), the texts with their NULs (6 + 11 +
    // 11), the order list (5 entries of 2): sections at 0x2C, 0x5C, 0x62.
    ExpectOutput(run, Header(song, "square.wav") + StatusLines(0, 0x002C, 7) + StatusLines(2, 0x0062, 3) +
                          StatusLines(3, 0x002C, 7) + kFinish);
    ASSERT_TRUE(starts.found) << starts.failure;
    ExpectRowPitches(run.sound, starts.frames, rows);
}

TEST_F(DiskDriverTest, EveryRowLastsItsTicksToTheFrame) {
    // Rows of 1 to 37 ticks from the very start of the song, twice, each on
    // the side the row before is not on. The voice sample is a looped
    // constant, every voice at one rate, so that each row's onset is one
    // frame in the sound, shaped alike for every row: the distance between
    // two onsets is the row's length, to the frame.
    dir.Write("level.wav", fsound_test::WavBytes(fsound_test::LevelSpec(32)));
    const test_support::SongParts song = song_check::RowLengthsSong();
    const std::vector<songfile::SongRow>& rows = song.sections[0];
    const player_run::Run run = Play(song, "ticks.8xp", {"level.wav"});
    ASSERT_EQ(run.failure, "");
    ExpectOutput(run, Header(song, "level.wav") + StatusLines(0, 0x0012, 17) + kFinish);

    const int rate = run.sound.rate;
    const std::vector<long> onsets = audio_analysis::AlternatingRowOnsets(run.sound, rows.size(), 0.05);
    long worst = 0;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        ASSERT_GE(onsets[row], 0) << "row " << row << " not heard";
        if (row == 0) continue;
        const long error = onsets[row] - onsets[row - 1] - rows[row - 1].duration * rate / 200;
        if (std::labs(error) > std::labs(worst)) worst = error;
        EXPECT_LE(std::labs(error), 1) << "row " << row - 1 << " of " << rows[row - 1].duration << " ticks";
    }
    std::printf("worst row-length error in the sound at %d Hz: %ld frames (%.3f ms) over %zu rows\n", rate,
                worst, worst * 1e3 / rate, rows.size() - 1);
}

TEST_F(DiskDriverTest, MonoSoundsEveryVoiceEquallyOnBothSides) {
    test_support::SongParts song;
    song.name = "MONO";
    song.title = "Centre";
    song.sections = {{Row(50, 64, 56, 72, 30), Row(81, 100, 90, 113, 30)}};
    song.order = {0};
    const std::vector<PlayedRow> rows = song_check::RowsInPlayingOrder(song, true);
    const auto [run, starts] = PlayAndFindRows(song, "mono.8xp", {"-m"}, rows);
    ASSERT_EQ(run.failure, "");
    ExpectOutput(run, Header(song, "square.wav") + StatusLines(0, 0x0013, 2) + kFinish);

    const audio_analysis::Stereo& sound = run.sound;
    const double peak = audio_analysis::MaxAbs(sound.left, 0, sound.Frames());
    ASSERT_GT(peak, 0.05) << "nothing sounded";
    double worstDifference = 0.0;
    for (std::size_t n = 0; n < sound.Frames(); ++n) {
        worstDifference = std::max(worstDifference, std::fabs(double(sound.left[n]) - sound.right[n]));
    }
    EXPECT_LT(worstDifference, 1e-4 * peak) << "the sides differ";

    ASSERT_TRUE(starts.found) << starts.failure;
    ExpectRowPitches(sound, starts.frames, rows);
}

TEST_F(DiskDriverTest, LowQualityMixesAtEightThousandHertz) {
    // Pitches up to 625 Hz, well inside 4000 Hz.
    test_support::SongParts song;
    song.name = "LOW";
    song.title = "Low";
    song.sections = {{Row(50, 64, 56, 72, 40), Row(81, 100, 90, 113, 40), Row(90, 140, 115, 180, 40)}};
    song.order = {0};
    // The sample named by its full path, shown as given. The driver keeps
    // its own pace: read at a steady pace, its 64 ms writes at 8000 Hz
    // would come in bursts longer than the library's latency.
    const player_run::Run run = Play(song, "low.8xp", {FENK_SQUARE_WAV, "-l"}, 8000, player_run::Pacing::DriversOwn);
    ASSERT_EQ(run.failure, "");
    ExpectOutput(run, Header(song, FENK_SQUARE_WAV) + StatusLines(0, 0x0010, 3) + kFinish);

    // Read as 8000 frames a second, the pitches are right only if the
    // player mixed at 8000 Hz.
    const std::vector<PlayedRow> rows = song_check::RowsInPlayingOrder(song, false);
    ExpectRowPitches(run.sound, RowsByStatusLines(run), rows, 0.03);
}

TEST_F(DiskDriverTest, ExtendedNotesKeepEarlierNotesSounding) {
    test_support::SongParts song;
    song.name = "LONG";
    song.title = "Extended";
    song.sections = {{Row(50, 0, 0, 0, 40), Row(0, 64, 56, 0, 40), Row(0, 0, 0, 72, 40), Row(81, 0, 0, 0, 40)}};
    song.order = {0};
    const player_run::Run run = Play(song, "long.8xp", {"-x"});
    ASSERT_EQ(run.failure, "");
    ExpectOutput(run, Header(song, "square.wav") + StatusLines(0, 0x0015, 4) + kFinish);

    // Nothing stops a note: each row sounds its own and every earlier one,
    // all at one level.
    const double a = audio_analysis::SquarePitchForPeriod(50), b = audio_analysis::SquarePitchForPeriod(64),
                 c = audio_analysis::SquarePitchForPeriod(56), d = audio_analysis::SquarePitchForPeriod(72),
                 e = audio_analysis::SquarePitchForPeriod(81);
    std::vector<PlayedRow> rows = song_check::RowsInPlayingOrder(song, false);
    rows[1].heard.leftHz = {a, b};
    rows[2].heard.leftHz = {a, b};
    rows[2].heard.rightHz = {c, d};
    rows[3].heard.leftHz = {a, b, e};
    rows[3].heard.rightHz = {c, d};

    const std::vector<double> startFrames = RowsByStatusLines(run);
    ASSERT_EQ(startFrames.size(), rows.size());
    std::vector<double> levels;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const auto [first, last] = Interior(startFrames, rows, row, run.sound.rate, 0.03);
        EXPECT_EQ(song_check::CheckRowSound(run.sound, first, last, rows[row].heard, {}, levels), "");
    }
    for (double level : levels) EXPECT_NEAR(20 * std::log10(level / levels.front()), 0.0, 1.0);
}

}  // namespace
