// The real fenk program playing through a sound server: fsound's own
// PulseAudio output and SDL's pulseaudio driver (FENK_AUDIO=sdl) on a
// private PulseAudio daemon (started by scripts/test) whose null sink's
// monitor parec records; every row's pitches on their sides, each output;
// through the own output, every row's length to within two frames; and a
// key that stops the song silences it at once.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/audio_analysis.h"
#include "tests/fsound/fixtures.h"
#include "tests/e2e/player_run.h"
#include "tests/platform/child_process.h"
#include "tests/e2e/song_check.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

// The own PulseAudio output is Linux's: a Windows build checked under Wine
// plays through SDL's WASAPI driver, whose timing Wine's own output sets.
const char kWindowsBuild[] = "a Windows build under Wine has no PulseAudio output of its own";
bool ChecksAWindowsBuild() { return child_process::RunsUnderWine(child_process::ProgramCommand(FENK_PROGRAM)); }

const char kNoServer[] =
    "FENK_TEST_PULSE_SERVER and FENK_TEST_PULSE_SINK are not set: no private PulseAudio "
    "server to play to (scripts/test starts one; for a run by hand: "
    "source scripts/lib/pulse.sh; start_private_pulse /tmp/fenk-pulse)";

TEST(PulseAudioTest, SongPlaysThroughTheSoundServerWithEveryPitchOnItsSide) {
    const player_run::PulseServer pulse = player_run::PulseServerFromEnvironment();
    if (pulse.server.empty()) GTEST_SKIP() << kNoServer;
    test_support::TempDir dir;
    test_support::SongParts song;
    song.name = "SERVER";
    song.title = "Server";
    song.sections = {{Row(50, 64, 56, 72, 40), Row(81, 100, 90, 113, 40), Row(90, 140, 115, 180, 40),
                      Row(105, 0, 0, 88, 40)}};
    song.order = {0};
    dir.Write("server.8xp", test_support::SongFile(song));
    for (const char* output : {"native", "sdl"}) {
        SCOPED_TRACE(std::string("output ") + output);
        const std::vector<std::string> environment =
            std::string(output) == "sdl" ? std::vector<std::string>{"FENK_AUDIO=sdl"} : std::vector<std::string>{};
        const player_run::Run run =
            player_run::PlayOnPulseAudio({"server.8xp"}, pulse, dir.Path().string(), environment);
        ASSERT_EQ(run.failure, "");
        EXPECT_EQ(player_run::WithoutCpuFigures(run.program.out),
                  test_support::Banner() +
                      "Loaded file SERVER ()\nSong title:  Server\nSong artist: \nSong album:  \n"
                      "Starting FMOD...Done.\nLoading sample 'square.wav'...Done.\n"
                      "Playing... (press any key to stop)\n" +
                      song_check::StatusLines(0, 0x0013, 4) + "\nShutting down FMOD...Done.\n");
        EXPECT_EQ(run.program.ExitStatus(), 0) << run.program.err;

        // The rows are looked for near where their ticks put them.
        const long onset = audio_analysis::FirstSound(run.sound, 0.01);
        ASSERT_GE(onset, 0) << "nothing reached the sink in " << run.sound.Frames() << " frames";
        const std::vector<song_check::PlayedRow> rows = song_check::RowsInPlayingOrder(song, false);
        const int rate = run.sound.rate;
        std::vector<double> levels;
        const std::vector<std::string> failures =
            song_check::HearRowsNearTheirPlaces(run.sound, onset, rows, levels);
        for (std::size_t row = 0; row < failures.size(); ++row)
            EXPECT_EQ(failures[row], "") << "row " << row << " at its nominal place";
        ASSERT_FALSE(levels.empty());
        for (double level : levels) EXPECT_NEAR(20 * std::log10(level / levels.front()), 0.0, 1.0);

        // The server keeps the clock here, so the row lengths are wall time;
        // for information only (the disk driver test holds them to a bound).
        const audio_analysis::RowStarts starts =
            audio_analysis::LocateRowStarts(run.sound, song_check::Heard(rows), onset);
        if (starts.found && starts.worstUnexplained < 0.2) {
            const song_check::RowTiming timing = song_check::TimeRows(starts.frames, rows, rate, 1.0);
            std::printf("%s output through PulseAudio: worst row-length error %+.3f ms (row %d)\n", output,
                        timing.worstErrorMs, timing.worstRow);
        } else {
            std::printf("%s output through PulseAudio: row boundaries not clear enough to time (%.3f unexplained "
                        "at row %d)\n",
                        output, starts.worstUnexplained, starts.worstRow);
        }
    }
}

// The disk driver test's rows of 1 to 37 ticks, through the server: the
// server's clock paces the stream, the sink resamples it to its own rate and
// parec back to 32000 Hz, and still each row lasts its ticks to within two
// frames (the onsets of a looped constant, a frame or so apart after two
// resamplings).
TEST(PulseAudioTest, EveryRowLastsItsTicksThroughTheOwnOutput) {
    const player_run::PulseServer pulse = player_run::PulseServerFromEnvironment();
    if (pulse.server.empty()) GTEST_SKIP() << kNoServer;
    if (ChecksAWindowsBuild()) GTEST_SKIP() << kWindowsBuild;
    test_support::TempDir dir;
    dir.Write("level.wav", fsound_test::WavBytes(fsound_test::LevelSpec(32)));
    const test_support::SongParts song = song_check::RowLengthsSong();
    const std::vector<songfile::SongRow>& rows = song.sections[0];
    dir.Write("ticks.8xp", test_support::SongFile(song));
    const player_run::Run run =
        player_run::PlayOnPulseAudio({"ticks.8xp", "level.wav"}, pulse, dir.Path().string());
    ASSERT_EQ(run.failure, "");
    EXPECT_EQ(run.program.ExitStatus(), 0) << run.program.err;

    const int rate = run.sound.rate;
    const std::vector<long> onsets = audio_analysis::AlternatingRowOnsets(run.sound, rows.size(), 0.05);
    long worst = 0;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        ASSERT_GE(onsets[row], 0) << "row " << row << " not heard";
        if (row == 0) continue;
        const long error = onsets[row] - onsets[row - 1] - rows[row - 1].duration * rate / 200;
        if (std::labs(error) > std::labs(worst)) worst = error;
        EXPECT_LE(std::labs(error), 2) << "row " << row - 1 << " of " << rows[row - 1].duration << " ticks";
    }
    std::printf("own output through PulseAudio: worst row-length error %ld frames (%.3f ms) over %zu rows\n",
                worst, worst * 1e3 / rate, rows.size() - 1);
}

// A key from a FIFO stops a song of 400 rows of one tick and a row that
// would sound for 327 s, half a second after fenk's output (fully buffered
// into a pipe) first comes out, some 230 rows in, however slowly the
// program runs: the sound has been heard, and it ends with the program,
// though the server held more of it (a stop drops what the output holds),
// so the recording's last 300 ms, after the program ended, are silent but
// for the first few.
TEST(PulseAudioTest, KeyStopsTheSoundAtOnce) {
    const player_run::PulseServer pulse = player_run::PulseServerFromEnvironment();
    if (pulse.server.empty()) GTEST_SKIP() << kNoServer;
    if (ChecksAWindowsBuild()) GTEST_SKIP() << kWindowsBuild;
    test_support::TempDir dir;
    test_support::SongParts song;
    song.name = "LONG";
    song.title = "Long";
    song.sections = {{}};
    for (int row = 0; row < 400; ++row) song.sections[0].push_back(Row(100 + row % 20, 80, 60, 40, 1));
    song.sections[0].push_back(Row(100, 80, 60, 40, 65535));
    song.order = {0};
    dir.Write("long.8xp", test_support::SongFile(song));
    // The FIFO is held open for reading and writing by the shell, so fenk
    // never sees its end; the first byte of fenk's output is taken to know
    // that it plays.
    const std::string script =
        "rm -f keys; mkfifo keys; exec 3<>keys; "
        "\"$0\" long.8xp <keys | (head -c 1 >/dev/null; sleep 0.5; printf k >&3; cat)";
    for (const char* output : {"native", "sdl"}) {
        SCOPED_TRACE(std::string("output ") + output);
        const std::string audio = std::string("FENK_AUDIO=") + (std::string(output) == "sdl" ? "sdl" : "");
        const player_run::Run run = player_run::RecordOnPulseAudio(
            {"/bin/sh", "-c", script, FENK_PROGRAM},
            {"SDL_AUDIODRIVER=pulseaudio", audio,
             std::string("LSAN_OPTIONS=print_suppressions=0:suppressions=") + FENK_E2E_LSAN_SUPPRESSIONS},
            pulse, dir.Path().string(), std::string("long-") + output);
        ASSERT_EQ(run.failure, "");
        EXPECT_EQ(run.program.ExitStatus(), 0) << run.program.err;
        const std::string stopped = "CPU:#\r\n\nShutting down FMOD...Done.\n";
        const std::string out = player_run::WithoutCpuFigures(run.program.out);
        ASSERT_GE(out.size(), stopped.size());
        EXPECT_EQ(out.substr(out.size() - stopped.size()), stopped) << out;

        const int rate = run.sound.rate;
        const long onset = audio_analysis::FirstSound(run.sound, 0.01);
        ASSERT_GE(onset, 0) << "nothing reached the sink";
        long last = -1;  // the last frame of sound
        for (std::size_t frame = 0; frame < run.sound.Frames(); ++frame) {
            if (std::fabs(run.sound.left[frame]) > 0.01 || std::fabs(run.sound.right[frame]) > 0.01)
                last = static_cast<long>(frame);
        }
        const double heardSeconds = static_cast<double>(last - onset) / rate;
        const double silentSeconds = static_cast<double>(static_cast<long>(run.sound.Frames()) - last) / rate;
        std::printf("%s output: heard %.3f s, then %.3f s of silence to the recording's end\n", output,
                    heardSeconds, silentSeconds);
        EXPECT_GT(heardSeconds, 0.3) << "the row was heard before the key";
        EXPECT_GT(silentSeconds, 0.15) << "the sound went on after the program ended";
    }
}

}  // namespace
