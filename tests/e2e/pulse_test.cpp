// The real fenk program playing through a sound server: fsound's own
// PulseAudio output and SDL's pulseaudio driver (FENK_AUDIO=sdl) on a
// private PulseAudio daemon (started by scripts/test) whose null sink's
// monitor parec records; every row's pitches on their sides, each output.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/audio_analysis.h"
#include "tests/e2e/player_run.h"
#include "tests/e2e/song_check.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

TEST(PulseAudioTest, SongPlaysThroughTheSoundServerWithEveryPitchOnItsSide) {
    const player_run::PulseServer pulse = player_run::PulseServerFromEnvironment();
    if (pulse.server.empty()) {
        GTEST_SKIP() << "FENK_TEST_PULSE_SERVER and FENK_TEST_PULSE_SINK are not set: no private PulseAudio "
                        "server to play to (scripts/test starts one; for a run by hand: "
                        "source scripts/lib/pulse.sh; start_private_pulse /tmp/fenk-pulse)";
    }
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

}  // namespace
