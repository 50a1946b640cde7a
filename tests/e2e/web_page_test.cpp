// The web page (build/web, made by scripts/web) in Debian's Chromium,
// driven by web/tests/drive-page.mjs, heard through the private PulseAudio
// server that parec records: the same checks of the sound as the console
// player's, and what the page shows beside it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/e2e/audio_analysis.h"
#include "tests/e2e/player_run.h"
#include "tests/e2e/song_check.h"
#include "songfile/songfile.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

// A stretch of sound: frames [first, last) above the threshold, with less
// than `gap` of quiet anywhere inside.
struct Island {
    std::size_t first = 0;
    std::size_t last = 0;
    double Seconds(int rate) const { return static_cast<double>(last - first) / rate; }
};

std::vector<Island> Islands(const audio_analysis::Stereo& sound, double threshold, double gapSeconds) {
    std::vector<Island> islands;
    const std::size_t gap = static_cast<std::size_t>(gapSeconds * sound.rate);
    for (std::size_t frame = 0; frame < sound.Frames(); ++frame) {
        if (std::fabs(sound.left[frame]) <= threshold && std::fabs(sound.right[frame]) <= threshold) continue;
        if (islands.empty() || frame - islands.back().last > gap) islands.push_back({frame, frame});
        islands.back().last = frame + 1;
    }
    return islands;
}

// The song as a text for fenk-make's compiler: periods as numbers, "-" for
// a rest, durations in ticks.
std::string SongText(const test_support::SongParts& song) {
    std::string text = "title \"" + song.title + "\"\nname " + song.name + "\n";
    for (std::size_t section = 0; section < song.sections.size(); ++section) {
        text += "section s" + std::to_string(section) + "\n";
        for (const songfile::SongRow& row : song.sections[section]) {
            for (std::uint8_t period : row.periods) text += period == 0 ? "- " : std::to_string(period) + " ";
            text += std::to_string(row.duration) + "t\n";
        }
        text += "end\n";
    }
    text += "order";
    for (std::size_t section : song.order) text += " s" + std::to_string(section);
    return text + "\n";
}

std::string StatusLine(std::size_t row, std::size_t entry, std::uint16_t offset) {
    char line[64];
    std::snprintf(line, sizeof line, "Note:%03zu Section:%03zu=%04X", row, entry, static_cast<unsigned>(offset));
    return line;
}

TEST(WebPageTest, ThePageInChromiumSoundsAsThePlayerWithItsControlsHeard) {
    const player_run::PulseServer pulse = player_run::PulseServerFromEnvironment();
    const char* webDir = std::getenv("FENK_WEB_DIR");
    if (pulse.server.empty() || webDir == nullptr) {
        GTEST_SKIP() << "FENK_WEB_DIR and a private PulseAudio server are needed (scripts/web --test)";
    }
    test_support::TempDir dir;
    test_support::SongParts song;
    song.name = "WEB";
    song.title = "Web";
    song.sections = {{Row(50, 64, 56, 72, 40), Row(81, 100, 90, 113, 80), Row(90, 140, 115, 180, 40),
                      Row(105, 0, 0, 88, 40)},
                     {Row(60, 0, 75, 0, 60), Row(70, 0, 85, 0, 60)}};
    song.order = {0, 1};
    dir.Write("web.8xp", test_support::SongFile(song));
    const std::string text = SongText(song);
    dir.Write("web.txt", test_support::Bytes(text.begin(), text.end()));
    // The edit: the first section's second row, other pitches.
    const std::string editFrom = "81 100 90 113 80t";
    const std::string editTo = "45 - - 125 80t";
    const char* shots = std::getenv("FENK_WEB_SHOTS");
    const std::string outDir = shots != nullptr ? shots : dir.Path().string();
    std::filesystem::create_directories(outDir);

    const player_run::Run run = player_run::RecordOnPulseAudio(
        {"/usr/bin/env", "node", FENK_WEB_DRIVER, webDir, "web.8xp", "web.txt", editFrom, editTo, outDir}, {},
        pulse, dir.Path().string(), "web-page", 180000);
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(run.program.ExitStatus(), 0) << run.program.out << run.program.err;
    const nlohmann::json page = nlohmann::json::parse(test_support::ReadText(outDir + "/page.json"));
    EXPECT_EQ(page["failures"], nlohmann::json::array()) << page["failures"].dump(1);
    EXPECT_EQ(page["consoleErrors"], nlohmann::json::array());
    EXPECT_EQ(page["offOrigin"], nlohmann::json::array());

    // What the page shows: fenk's words.
    EXPECT_EQ(page["messages"]["badFile"], "Not a valid TI-83 Plus program file!");
    EXPECT_EQ(page["lines"]["picked"], "Loaded file WEB ()\nSong title:  Web\nSong artist: \nSong album:");
    EXPECT_EQ(page["lines"]["link"], page["lines"]["picked"]);
    EXPECT_EQ(page["messages"]["afterSong"], "");
    const std::string textOfProgram = page["textOfProgram"];
    EXPECT_NE(textOfProgram.find("\nsection s2\n"), std::string::npos) << textOfProgram;
    EXPECT_NE(textOfProgram.find("\norder s1 s2\n"), std::string::npos) << textOfProgram;
    EXPECT_EQ(page["midiDownload"]["name"], "web.mid");
    EXPECT_EQ(page["midiDownload"]["head"], "MThd");
    EXPECT_EQ(page["quickActions"], nlohmann::json::array({"paused", "paused", "playing", "playing"}));
    EXPECT_EQ(page["entryShown"], "Entry 2/2");
    EXPECT_EQ(page["messages"]["textError"], "");
    EXPECT_EQ(page["messages"]["textMistake"].get<std::string>().rfind("line 5: 'H4' is not a note", 0), 0u)
        << page["messages"]["textMistake"];

    // The status line, row by row, as long apart as the rows are heard.
    const test_support::Bytes body = test_support::SongBody(song);
    const songfile::ParseResult laid = songfile::ParseSong(body.data(), body.size());
    ASSERT_TRUE(laid.ok());
    std::vector<std::string> expectedStatus;
    std::vector<double> rowMs;
    for (std::size_t entry = 0; entry < song.order.size(); ++entry) {
        const auto& section = song.sections[song.order[entry]];
        for (std::size_t row = 0; row < section.size(); ++row) {
            expectedStatus.push_back(StatusLine(row, entry, songfile::OrderEntryAt(laid.value, laid.value.orderList + entry * songfile::kOrderEntryBytes)));
            rowMs.push_back(section[row].duration * 5.0);
        }
    }
    // The first row starts with the audio context, whose output times settle
    // in its first few hundred ms: the rows after it are timed.
    const nlohmann::json& status = page["status"];
    ASSERT_EQ(status.size(), expectedStatus.size()) << status.dump(1);
    double worstStatusErrorMs = 0;
    for (std::size_t k = 0; k < status.size(); ++k) {
        EXPECT_EQ(status[k]["text"], expectedStatus[k]);
        if (k < 2) continue;
        const double apartMs = status[k]["ms"].get<double>() - status[k - 1]["ms"].get<double>();
        worstStatusErrorMs = std::max(worstStatusErrorMs, std::fabs(apartMs - rowMs[k - 1]));
    }
    EXPECT_LT(worstStatusErrorMs, 50.0);
    std::printf("status line: each row shown within %.1f ms of its length after the one before\n",
                worstStatusErrorMs);

    // The sound: one island per phase, the pauses heard as gaps.
    const int rate = run.sound.rate;
    const std::vector<Island> islands = Islands(run.sound, 0.01, 0.8);
    std::string lengths;
    for (const Island& island : islands) lengths += " " + std::to_string(island.Seconds(rate)) + " s";
    ASSERT_EQ(islands.size(), 7u) << "phases of sound: play, pause, play on, the second entry muted, "
                                     "the text paused, the text edited, the share link; heard:" << lengths;
    const std::vector<song_check::PlayedRow> rows = song_check::RowsInPlayingOrder(song, false);
    std::vector<double> levels;
    const auto hear = [&](const Island& island, const std::vector<song_check::PlayedRow>& expected,
                          const std::string& phase) {
        const std::vector<std::string> failures =
            song_check::HearRowsNearTheirPlaces(run.sound, static_cast<long>(island.first), expected, levels);
        for (std::size_t row = 0; row < failures.size(); ++row)
            EXPECT_EQ(failures[row], "") << phase << ", row " << row;
    };

    // Played from the file picker: every row, on its side, then the end wait.
    hear(islands[0], rows, "played");
    EXPECT_NEAR(islands[0].Seconds(rate), 1.0 + 0.6 + 2.5, 0.1);
    const audio_analysis::RowStarts starts =
        audio_analysis::LocateRowStarts(run.sound, song_check::Heard(rows), static_cast<long>(islands[0].first));
    ASSERT_TRUE(starts.found);
    // The mix puts every row on its tick's frame (the Node test compares
    // it with fenk-render's sample for sample); what Chromium's and the
    // server's resamplers make of it is timed here: 0.04 ms in most runs,
    // but some runs locate the boundaries up to 2.5 ms off, so the bound is
    // a tick.
    const song_check::RowTiming timing = song_check::TimeRows(starts.frames, rows, rate, 5.0);
    EXPECT_EQ(timing.overBound, "");
    std::printf("through Chromium and PulseAudio: worst row-length error %+.3f ms (row %d)\n",
                timing.worstErrorMs, timing.worstRow);

    // A pause about 300 ms in, inside the second row (200 to 600 ms): the
    // sound stops there, and goes on with what was left of that row. The
    // island before the pause says how much of it had played.
    const auto fromThePause = [&](const Island& before, std::vector<song_check::PlayedRow> played) {
        EXPECT_GT(before.Seconds(rate), 0.25);
        EXPECT_LT(before.Seconds(rate), 0.45);
        played.erase(played.begin());
        played.front().row.duration =
            static_cast<std::uint16_t>(std::lround((0.6 - before.Seconds(rate)) * 200));
        return played;
    };
    hear(islands[2], fromThePause(islands[1], rows), "after the pause");

    // Home, voice 1 muted, the second entry: it alone, without voice 0.
    test_support::SongParts muted = song;
    for (songfile::SongRow& row : muted.sections[1]) row.periods[0] = 0;
    const std::vector<song_check::PlayedRow> mutedRows = song_check::RowsInPlayingOrder(muted, false);
    hear(islands[3], {mutedRows.begin() + 4, mutedRows.end()}, "the second entry, voice 0 muted");
    EXPECT_NEAR(islands[3].Seconds(rate), 0.6 + 2.5, 0.1);

    // The text, paused in its second row and edited there: the edit is
    // heard from where it paused.
    test_support::SongParts edited = song;
    edited.sections[0][1] = Row(45, 0, 0, 125, 80);
    hear(islands[5], fromThePause(islands[4], song_check::RowsInPlayingOrder(edited, false)), "after the edit");

    // The share link on a phone's page, from a tap: the whole song.
    hear(islands[6], rows, "the share link");
    EXPECT_NEAR(islands[6].Seconds(rate), 1.0 + 0.6 + 2.5, 0.1);

    ASSERT_FALSE(levels.empty());
    for (double level : levels) EXPECT_NEAR(20 * std::log10(level / levels.front()), 0.0, 1.0);
}

}  // namespace
