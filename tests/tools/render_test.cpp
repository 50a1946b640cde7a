// fenk-render, run as a program: row timing to the frame, pitch, side and
// level of each voice as the rates say, the output formats, and errors.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sndfile.h>
#include <sys/mount.h>

#include <cmath>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/fsound/fixtures.h"
#include "compose/notes.h"
#include "playback/playback.h"
#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

namespace {

using test_support::Row;
using tool_tests::RunResult;

using fsound_test::Audio;
using fsound_test::ReadAudio;

class RenderTest : public ::testing::Test {
protected:
    RunResult Render(const std::vector<std::string>& arguments) {
        return tool_tests::Run(FENK_RENDER_PATH, arguments);
    }
    std::string Song(const std::vector<std::vector<songfile::SongRow>>& sections,
                     const std::vector<std::size_t>& order, const std::string& name = "song.8xp") {
        test_support::SongParts parts;
        parts.title = "Render test";
        parts.sections = sections;
        parts.order = order;
        return dir.Write(name, test_support::SongFile(parts));
    }
    // Renders `song` to a WAV file and reads it back; fails the test when
    // fenk-render does not succeed quietly.
    Audio RenderWav(const std::string& song, std::vector<std::string> extra = {}) {
        const std::string out = dir.File("out.wav");
        std::vector<std::string> arguments = {song, out};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        RunResult run = Render(arguments);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return ReadAudio(out);
    }

    test_support::TempDir dir;
};

// One side (true: right) of a rendered file, frames from..to-1.
std::vector<float> SideOf(const Audio& audio, bool right, std::size_t from = 0,
                          std::size_t to = SIZE_MAX) {
    return fsound_test::Side(audio.samples, right ? 1 : 0, from, to);
}

// The first frame at or after `from` where the side leaves exact silence.
std::size_t Onset(const Audio& audio, bool right, std::size_t from) {
    const long frame = fsound_test::FirstAbove(SideOf(audio, right), 0.0, from);
    return frame < 0 ? audio.Frames() : static_cast<std::size_t>(frame);
}

double Rms(const Audio& audio, bool right, std::size_t from, std::size_t to) {
    return fsound_test::Rms(SideOf(audio, right, from, to));
}

double Frequency(const Audio& audio, bool right, std::size_t from, std::size_t to) {
    return fsound_test::CyclesPerFrame(SideOf(audio, right, from, to)) * audio.rate;
}

// The peak of the default sample, which sets every voice's level.
double SquarePeak() { return fsound_test::MaxAbs(ReadAudio(FENK_SQUARE_PATH).samples); }

TEST_F(RenderTest, EveryRowLastsExactlyItsTicksInFrames) {
    // Rows alternate between voice 0 (left) and voice 2 (right), so each row
    // begins where its side leaves silence. Each side keeps one pitch, so
    // that every onset on a side has the same shape to the frame.
    const std::uint16_t ticks[] = {3, 7, 1, 12, 5, 2, 9, 4};
    std::vector<songfile::SongRow> rows;
    for (std::size_t row = 0; row < std::size(ticks); ++row) {
        rows.push_back(row % 2 == 0 ? Row(71, 0, 0, 0, ticks[row]) : Row(0, 0, 100, 0, ticks[row]));
    }
    const Audio audio = RenderWav(Song({rows}, {0, 0}));
    ASSERT_EQ(audio.rate, 32000);
    ASSERT_EQ(audio.channels, 2);

    // The section twice, then the 2500 ms wait: 160 frames per tick.
    std::uint64_t sectionTicks = 0;
    for (std::uint16_t t : ticks) sectionTicks += t;
    EXPECT_EQ(audio.Frames(), 2 * sectionTicks * 160 + 2500 * 32);

    // Where each row's sound begins, searched from a little after the row
    // before began (past the fade of the row before that on the same side).
    std::vector<std::size_t> onsets;
    std::size_t from = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t row = 0; row < std::size(ticks); ++row) {
            onsets.push_back(Onset(audio, row % 2 == 1, from));
            from = onsets.back() + 100;
        }
    }
    const std::size_t leftStart = onsets[0], rightStart = onsets[1] - ticks[0] * 160u;
    EXPECT_LT(leftStart, 32u) << "the first row starts late";
    EXPECT_NEAR(static_cast<double>(leftStart), static_cast<double>(rightStart), 2.0);
    std::size_t rowStart = 0;
    for (std::size_t index = 0; index < onsets.size(); ++index) {
        const std::size_t row = index % std::size(ticks);
        EXPECT_EQ(onsets[index], rowStart + (row % 2 == 0 ? leftStart : rightStart))
            << "row " << index;
        rowStart += ticks[row] * 160u;
    }
}

TEST_F(RenderTest, FramesAreExactAtRatesThatSplitTicks) {
    // 44100 Hz: a tick is 220.5 frames; the halves add up, never get lost.
    const std::string song = Song({{Row(71, 0, 0, 0, 1), Row(0, 0, 71, 0, 3)}}, {0});
    Audio audio = RenderWav(song, {"--rate", "44100"});
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.Frames(), (4 * 5 + 2500) * 44100u / 1000);  // 111132 frames
    const std::size_t start = Onset(audio, false, 0);
    // The second row starts 220 or 221 frames after the first: at the frame
    // that 5 ms of 44100 Hz reaches.
    EXPECT_EQ(Onset(audio, true, 0) - start, 220u);

    // Switch l: 8000 Hz, 40 frames a tick; --rate wins over it.
    EXPECT_EQ(RenderWav(song, {"-l"}).Frames(), (4 * 5 + 2500) * 8u);
    EXPECT_EQ(RenderWav(song, {"-l", "--rate=16000"}).Frames(), (4 * 5 + 2500) * 16u);
}

TEST_F(RenderTest, EachVoiceSoundsAtItsRateOnItsSideAtItsLevel) {
    // One voice alone per row, 200 ms each: period p plays the 32-frame
    // square at floor(1e6 / p) Hz, so it sounds at that / 32 Hz.
    const std::uint8_t periods[4] = {71, 100, 50, 200};
    std::vector<songfile::SongRow> rows;
    for (int voice = 0; voice < 4; ++voice) {
        std::uint8_t row[4] = {0, 0, 0, 0};
        row[voice] = periods[voice];
        rows.push_back(Row(row[0], row[1], row[2], row[3], 40));
    }
    const std::string song = Song({rows}, {0});
    const Audio stereo = RenderWav(song);
    const Audio mono = RenderWav(song, {"-m"});
    const double peak = SquarePeak();
    ASSERT_GT(peak, 0.1);
    const std::size_t rowFrames = 40 * 160;

    for (int voice = 0; voice < 4; ++voice) {
        SCOPED_TRACE("voice " + std::to_string(voice));
        const bool right = voice >= 2;
        // Leave out the first 10 ms of each row, where the row before fades.
        const std::size_t from = voice * rowFrames + 320;
        const std::size_t to = (voice + 1) * rowFrames;
        const double expectedHz = playback::RateForPeriod(periods[voice]) / 32.0;
        EXPECT_NEAR(Frequency(stereo, right, from, to), expectedHz, expectedHz * 0.002);
        // Volume 63 of 255, hard panned: a square's RMS is its peak.
        EXPECT_NEAR(Rms(stereo, right, from, to), peak * 63 / 255, peak * 63 / 255 * 0.05);
        EXPECT_LT(Rms(stereo, !right, from, to), 1e-4);
        // Mono: centred on both sides, the pan law's 3 dB down.
        EXPECT_NEAR(Rms(mono, false, from, to), Rms(mono, true, from, to),
                    Rms(mono, true, from, to) * 0.02);
        EXPECT_NEAR(Rms(mono, false, from, to), peak * 63 / 255 / std::sqrt(2.0),
                    peak * 63 / 255 * 0.05);
        EXPECT_NEAR(Frequency(mono, false, from, to), expectedHz, expectedHz * 0.002);
    }
}

TEST_F(RenderTest, ReportsWhatTheRateTableSays) {
    // fenk-info and fenk-make work without the sound library and keep their
    // own copy of the period-to-rate rule; it must stay the player's.
    for (int period = 1; period <= 255; ++period) {
        ASSERT_EQ(notes::PeriodRate(static_cast<std::uint8_t>(period)),
                  playback::RateForPeriod(static_cast<std::uint8_t>(period)))
            << period;
    }
}

TEST_F(RenderTest, WritesTheFormatTheExtensionNames) {
    const std::string song = Song({{Row(71, 80, 90, 100, 20)}}, {0});
    const std::uint64_t frames = (20 * 5 + 2500) * 32;
    for (const char* name : {"song.wav", "song.FLAC", "song.ogg", "song.aiff"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.File(name);
        RunResult run = Render({song, out});
        ASSERT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.out.rfind(out + ": 1 row, 2.600 s of audio at 32000 Hz (", 0), 0u) << run.out;
        SF_INFO info = {};
        SNDFILE* file = sf_open(out.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.samplerate, 32000);
        EXPECT_EQ(static_cast<std::uint64_t>(info.frames), frames);
        sf_close(file);
    }
    const int major[] = {SF_FORMAT_WAV, SF_FORMAT_FLAC, SF_FORMAT_OGG};
    const char* names[] = {"song.wav", "song.FLAC", "song.ogg"};
    for (int index = 0; index < 3; ++index) {
        SF_INFO info = {};
        SNDFILE* file = sf_open(dir.File(names[index]).c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, major[index]) << names[index];
        sf_close(file);
    }
}

// A part alone: order entries 2..2 of three, voice 1 muted; and
// Opus, which takes no 32000 Hz, at its own 48000 Hz.
TEST_F(RenderTest, RendersAPartAloneAndOpusAtItsOwnRate) {
    const std::string song = Song({{Row(71, 0, 0, 0, 40)}, {Row(0, 80, 100, 0, 40)}}, {0, 1, 0});
    const Audio part = RenderWav(song, {"--from", "2", "--to", "2", "--mute", "1"});
    EXPECT_EQ(part.Frames(), (40 * 5 + 2500) * 32u);
    const std::size_t rowEnd = 40 * 160;
    EXPECT_LT(Rms(part, false, 0, part.Frames()), 1e-4);  // voice 1 not played, voice 2 muted
    const double expectedHz = playback::RateForPeriod(100) / 32.0;
    EXPECT_NEAR(Frequency(part, true, 320, rowEnd), expectedHz, expectedHz * 0.002);

    EXPECT_EQ(Render({song, dir.File("x.wav"), "--from", "3", "--to", "2"}).err,
              "fenk-render: --from 3 comes after --to 2\n");
    EXPECT_EQ(Render({song, dir.File("x.wav"), "--to", "4"}).err,
              "fenk-render: the song has 3 order entries; --from and --to take 1 to 3\n");

    const std::string opus = dir.File("song.opus");
    RunResult run = Render({song, opus});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    SF_INFO info = {};
    SNDFILE* file = sf_open(opus.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.samplerate, 48000);
    sf_close(file);
}

TEST_F(RenderTest, ReplacesTheOutputOnlyWhenTheRenderSucceeds) {
    const std::string song = Song({{Row(71, 0, 0, 0, 2)}}, {0});
    const std::string out = dir.Write("out.wav", test_support::Text("old"));

    RunResult failed = Render({song, out, "no-such-sample.wav"});
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_EQ(failed.err, "fenk-render: cannot load the sample 'no-such-sample.wav': no such file\n");
    EXPECT_EQ(test_support::ReadText(out), "old");

    RunResult done = Render({song, out});
    EXPECT_EQ(done.exitStatus, 0) << done.err;
    EXPECT_EQ(ReadAudio(out).Frames(), (2 * 5 + 2500) * 32u);
    // No temporary file is left beside it.
    EXPECT_EQ(tool_tests::EntriesIn(dir.Path().string()), 2u);  // the song and the output
}

TEST_F(RenderTest, RefusesBadInputWithOneLineThatSaysWhy) {
    const std::string song = Song({{Row(71, 0, 0, 0, 2)}}, {0});
    const std::string out = dir.File("out.wav");
    // Inputs that an output must never replace: a sample, and a song whose
    // name is an audio file's, the one spelled otherwise and the other
    // reached through a hard link.
    const std::string sample = dir.Write("voice.wav", test_support::Text("not audio"));
    const std::string songAsWav = dir.Write("song.wav", test_support::Text(test_support::ReadText(song)));
    std::filesystem::create_hard_link(songAsWav, dir.File("linked.wav"));
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{}, "fenk-render: SONG is required (try 'fenk-render --help')\n"},
        {{song}, "fenk-render: OUT is required (try 'fenk-render --help')\n"},
        {{dir.File("none.8xp"), out},
         "fenk-render: cannot open '" + dir.File("none.8xp") + "': No such file or directory\n"},
        {{dir.Path().string(), out}, "fenk-render: cannot open '" + dir.Path().string() + "': is a directory\n"},
        {{song, out, sample},
         "fenk-render: cannot load the sample '" + sample + "': not an audio file libsndfile can read\n"},
        {{song, dir.Path().string() + "/./voice.wav", sample},
         "fenk-render: refusing to write '" + dir.Path().string() + "/./voice.wav': it is the input '" + sample +
             "'\n"},
        {{songAsWav, dir.File("linked.wav")},
         "fenk-render: refusing to write '" + dir.File("linked.wav") + "': it is the input '" + songAsWav + "'\n"},
        {{dir.Write("text.8xp", test_support::Text("hello")), out},
         "fenk-render: '" + dir.File("text.8xp") + "' is not a TI-83 Plus program file\n"},
        {{dir.Write("other.8xp", test_support::ProgramFile(test_support::Text("FENK2"))), out},
         "fenk-render: '" + dir.File("other.8xp") + "' holds no Fenk song\n"},
        {{song, dir.File("out.mp4")},
         "fenk-render: cannot tell an audio format from the name '" + dir.File("out.mp4") +
             "' (use .wav, .flac, .ogg, .oga, .opus, .aiff, .aif, .au, .caf, .w64)\n"},
        {{song, out, "--rate", "3999"},
         "fenk-render: --rate: Value 3999 not in range 4000 to 65535 (try 'fenk-render --help')\n"},
        {{song, out, "--rate=fast"},
         "fenk-render: --rate: Value fast not in range 4000 to 65535 (try 'fenk-render --help')\n"},
        {{song, out, "--from", "-1"},
         "fenk-render: --from: takes an order entry, a whole number from 1; not '-1' (try 'fenk-render --help')\n"},
        {{song, out, "--to", "99999999999"},
         "fenk-render: --to: no song has an order entry 99999999999 (try 'fenk-render --help')\n"},
        {{song, out, "--from", "1.5"},
         "fenk-render: --from: takes an order entry, a whole number from 1; not '1.5' (try 'fenk-render --help')\n"},
        {{song, out, "--speed"},
         "fenk-render: The following argument was not expected: --speed (try 'fenk-render --help')\n"},
        {{song, dir.File("missing/out.wav")},
         "fenk-render: cannot create a file in '" + dir.File("missing") +
             "': No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        RunResult run = Render(c.arguments);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.err, c.error);
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    EXPECT_EQ(test_support::ReadText(sample), "not audio");
    EXPECT_EQ(test_support::ReadText(dir.File("linked.wav")), test_support::ReadText(song));

    RunResult help = Render({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("Usage: fenk-render [OPTIONS] SONG OUT [sample...]\n"), std::string::npos)
        << help.out;
    EXPECT_EQ(Render({"--version"}).out, "fenk-render (Fenk) " FENK_VERSION "\n");
}

// The player's walk is the one walk: fenk-render plays the rows and ticks
// that fenk-info counts, through an empty section and a section played
// twice.
TEST_F(RenderTest, PlaysTheRowsAndTicksThatFenkInfoCounts) {
    test_support::SongParts parts;
    parts.sections = {{Row(71, 0, 0, 0, 3), Row(80, 0, 0, 0, 5)}, {}, {Row(60, 0, 0, 0, 7)}};
    parts.order = {0, 1, 2, 0};
    const std::string song = dir.Write("walk.8xp", test_support::SongFile(parts));
    const RunResult info = tool_tests::Run(FENK_INFO_PATH, {song, "--json"});
    ASSERT_EQ(info.exitStatus, 0) << info.err;
    const nlohmann::json report = nlohmann::json::parse(info.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded());
    std::size_t rows = 0;
    for (const nlohmann::json& entry : report.at("song").at("order")) {
        rows += report.at("song").at("sections").at(entry.at("section_number").get<std::size_t>() - 1).at("rows").size();
    }
    const auto ticks = report.at("song").at("total_ticks").get<unsigned>();
    EXPECT_EQ(rows, 5u);
    EXPECT_EQ(ticks, 3u + 5 + 7 + 3 + 5);

    const std::string out = dir.File("walk.wav");
    const RunResult render = Render({song, out});
    ASSERT_EQ(render.exitStatus, 0) << render.err;
    EXPECT_NE(render.out.find(": " + std::to_string(rows) + " rows, "), std::string::npos) << render.out;
    EXPECT_EQ(ReadAudio(out).Frames(), (ticks * 5 + 2500) * 32u);
}

TEST_F(RenderTest, RendersATruncatedSongWithAWarning) {
    test_support::SongParts parts;
    parts.title = "cut";
    parts.sections = {{Row(71, 0, 0, 0, 4), Row(80, 0, 0, 0, 4)}};
    parts.order = {0};
    test_support::Bytes file = test_support::SongFile(parts);
    file.resize(file.size() - 10);  // inside the second row
    const std::string song = dir.Write("cut.8xp", file);
    const std::string out = dir.File("cut.wav");
    RunResult run = Render({song, out});
    EXPECT_EQ(run.exitStatus, 0);
    const std::size_t declared = file.size() + 10 - 74;
    EXPECT_EQ(run.err, "fenk-render: warning: the song data is truncated (" +
                           std::to_string(declared - 10) + " of " + std::to_string(declared) +
                           " bytes)\n");
    // Only the first row is whole: 4 ticks, then the end wait.
    EXPECT_EQ(ReadAudio(out).Frames(), (4 * 5 + 2500) * 32u);
}

// A small file system that fills up: a render (and fenk-make) that runs out
// of room says so, leaves the file that was there as it was, and leaves no
// temporary file. Needs root to mount the tmpfs.
TEST_F(RenderTest, AFullDiskLeavesTheEarlierFileAsItWas) {
    const std::string small = dir.File("small");
    std::filesystem::create_directory(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    const auto writeText = [](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    };

    // 10 s of 16-bit stereo at 32000 Hz: 1.3 MB, five times the room.
    const std::string song = Song({{Row(71, 0, 0, 0, 1500), Row(80, 0, 0, 0, 500)}}, {0});
    const std::string earlier(20000, 'w');
    const std::string out = small + "/out.wav";
    writeText(out, earlier);
    RunResult run = Render({song, out});
    EXPECT_EQ(run.exitStatus, 1);
    // One line with the system's words for it (Windows: "Disk full").
    const std::string said = "fenk-render: cannot write '" + out + "': System error : ";
    EXPECT_EQ(run.err.rfind(said, 0), 0u) << run.err;
    EXPECT_TRUE(run.err == said + "No space left on device.\n" || run.err == said + "Disk full.\n")
        << run.err;
    EXPECT_EQ(test_support::ReadText(out), earlier);
    EXPECT_EQ(tool_tests::EntriesIn(small), 1u);

    // The same for fenk-make, once nothing at all is left.
    const std::string made = small + "/song.8xp";
    writeText(made, "old song");
    std::FILE* filler = std::fopen((small + "/filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {}
    std::fclose(filler);
    const std::string text = dir.Write("song.txt", test_support::Text(
        "name X\ntitle \"t\"\nsection a\n 100 - - - 5t\nend\norder a\n"));
    RunResult make = tool_tests::Run(FENK_MAKE_PATH, {text, made});
    EXPECT_EQ(make.exitStatus, 1);
    EXPECT_EQ(make.err, "fenk-make: cannot write '" + made + "': No space left on device\n");
    EXPECT_EQ(test_support::ReadText(made), "old song");
    EXPECT_EQ(tool_tests::EntriesIn(small), 3u);  // out.wav, song.8xp, filler
}

}  // namespace
