// PlaySong: the rows it sounds, the status lines, the ticks and the key stop.
#include <algorithm>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/playback/playback_fakes.h"

namespace {

using playback::PlayOutcome;
using playback_test::ExactBlock;
using playback_test::SongBlock;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct SequencerTest : playback_test::RecordingTest {
    playback::ToneOutput output = LoadedToneOutput(playback::PlaybackSettings());

    PlayOutcome Play(const SongBlock& block) {
        ExactBlock exact(block);
        playback::ConsolePrinter printer(out.file());
        playback::SongPlayer player = playback::MakeSongPlayer(exact.view);
        return playback::PlaySong(player, output, clock, printer);
    }

    // The rate each SetDefaults gave, in call order.
    std::vector<std::string> RatesGiven() const {
        std::vector<std::string> rates;
        for (const std::string& call : log.calls)
            if (call.rfind("SetDefaults(", 0) == 0)
                rates.push_back(call.substr(15, call.find(',', 15) - 15));
        return rates;
    }

    long Count(const std::string& call) const {
        return std::count(log.calls.begin(), log.calls.end(), call);
    }
};

TEST(RateForPeriod, IsOneMillionOverThePeriodTruncatedOrSilentForZero) {
    EXPECT_EQ(playback::RateForPeriod(0), playback::kSilentRate);
    EXPECT_EQ(playback::RateForPeriod(1), 1000000);
    EXPECT_EQ(playback::RateForPeriod(3), 333333);
    EXPECT_EQ(playback::RateForPeriod(7), 142857);
    EXPECT_EQ(playback::RateForPeriod(255), 3921);
}

TEST_F(SequencerTest, PlaysEverySectionInOrderWithItsStatusLines) {
    // Order list at 9..14 (two entries and the end), sections at 15 and 33.
    SongBlock block;
    block.Word(15);
    block.Word(33);
    block.Word(0);
    block.Row(1, 3, 255, 0, 2);  // offset 15
    block.Row(7, 0, 0, 0, 1);
    block.EndRow();
    block.Row(100, 100, 100, 100, 3);  // offset 33
    block.EndRow();
    log.cpuUsage = 12.5f;

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(),
              "Note:000 Section:000=000F CPU:12.50%\r"
              "Note:001 Section:000=000F CPU:12.50%\r"
              "Note:000 Section:001=0021 CPU:12.50%\r");
    EXPECT_THAT(RatesGiven(), ElementsAre("1000000", "333333", "3921", "-1",
                                          "142857", "-1", "-1", "-1",
                                          "10000", "10000", "10000", "10000"));
    EXPECT_EQ(Count("StopSound(-3)"), 3);
    EXPECT_EQ(Count("GetCPUUsage()"), 3);
    EXPECT_EQ(clock.polls, 6);
    EXPECT_EQ(clock.tickSleeps, 6);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
    // The last row's voices are left sounding through the final wait.
    EXPECT_EQ(Count("Close()"), 0);
}

TEST_F(SequencerTest, EachTickPollsTheKeyThenSleepsFiveMilliseconds) {
    SongBlock block;
    block.Word(13);
    block.Word(0);
    block.Row(10, 0, 0, 0, 2);  // offset 13
    block.EndRow();
    clock.log = &log.calls;

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    const std::vector<std::string> tail(log.calls.end() - 6, log.calls.end());
    EXPECT_THAT(tail, ElementsAre("GetCPUUsage()", "StopRequested", "SleepMs(5)",
                                  "StopRequested", "SleepMs(5)", "SleepMs(2500)"));
}

TEST_F(SequencerTest, MatchesTheStatusLineOfTheFifthRowOfTheThirdSection) {
    SongBlock block;
    block.Word(0x0100);
    block.Word(0x0100);
    block.Word(0x01F6);
    block.Word(0);
    block.PadTo(0x0100);
    block.Row(50, 0, 0, 0, 1);
    block.EndRow();
    block.PadTo(0x01F6);
    for (int row = 0; row < 5; ++row) block.Row(60, 61, 62, 63, 1);
    block.EndRow();

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(),
              "Note:000 Section:000=0100 CPU:0.37%\r"
              "Note:000 Section:001=0100 CPU:0.37%\r"
              "Note:000 Section:002=01F6 CPU:0.37%\r"
              "Note:001 Section:002=01F6 CPU:0.37%\r"
              "Note:002 Section:002=01F6 CPU:0.37%\r"
              "Note:003 Section:002=01F6 CPU:0.37%\r"
              "Note:004 Section:002=01F6 CPU:0.37%\r");
}

TEST_F(SequencerTest, EmptySectionPrintsNothingButStillCounts) {
    SongBlock block;
    block.Word(17);
    block.Word(29);  // empty: its first row ends it
    block.Word(17);  // listed again: same offset, next number
    block.Word(0);
    block.Row(9, 9, 9, 9, 1);  // offset 17
    block.EndRow();
    block.EndRow();  // offset 29

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(),
              "Note:000 Section:000=0011 CPU:0.37%\r"
              "Note:000 Section:002=0011 CPU:0.37%\r");
    EXPECT_EQ(Count("StopSound(-3)"), 2);
    EXPECT_EQ(clock.polls, 2);
}

TEST_F(SequencerTest, SongWithoutSectionsOnlyWaitsAtTheEnd) {
    SongBlock block;
    block.Word(0);
    block.Row(1, 1, 1, 1, 100);  // never listed
    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(), "");
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(clock.polls, 0);
    EXPECT_EQ(clock.tickSleeps, 0);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
}

TEST_F(SequencerTest, KeyWaitingAtTheFirstTickStopsAfterTheFirstRowHasStarted) {
    SongBlock block;
    block.Word(13);
    block.Word(0);
    block.Row(20, 0, 0, 40, 50);  // offset 13
    block.Row(30, 0, 0, 0, 50);
    block.EndRow();
    clock.keyAtPoll = 1;
    clock.log = &log.calls;

    EXPECT_EQ(Play(block), PlayOutcome::StoppedByKey);
    EXPECT_EQ(out.Text(), "Note:000 Section:000=000D CPU:0.37%\r\n");
    // One row sounded in full (two voices), then one poll; no sleep at all.
    EXPECT_EQ(Count("PlaySoundEx(-1,S0,null,1)->10"), 1);
    EXPECT_EQ(Count("PlaySoundEx(-1,S3,null,1)->11"), 1);
    EXPECT_EQ(log.calls.back(), "StopRequested");
    EXPECT_EQ(log.calls[log.calls.size() - 2], "GetCPUUsage()");
    EXPECT_EQ(clock.tickSleeps, 0);
    EXPECT_TRUE(clock.otherSleeps.empty());
}

TEST_F(SequencerTest, KeyDuringARowStopsAtThatTick) {
    SongBlock block;
    block.Word(13);
    block.Word(0);
    block.Row(20, 20, 20, 20, 4);  // offset 13
    block.Row(30, 30, 30, 30, 4);
    block.EndRow();
    clock.keyAtPoll = 7;  // third tick of the second row

    EXPECT_EQ(Play(block), PlayOutcome::StoppedByKey);
    EXPECT_EQ(out.Text(),
              "Note:000 Section:000=000D CPU:0.37%\r"
              "Note:001 Section:000=000D CPU:0.37%\r\n");
    EXPECT_EQ(clock.polls, 7);
    EXPECT_EQ(clock.tickSleeps, 6);
    EXPECT_TRUE(clock.otherSleeps.empty());
}

TEST_F(SequencerTest, LongestRowPollsAndSleepsEveryOneOfItsTicks) {
    SongBlock block;
    block.Word(13);
    block.Word(0);
    block.Row(0, 0, 0, 0, 65535);  // all silent: still a status line and a wait
    block.EndRow();

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(), "Note:000 Section:000=000D CPU:0.37%\r");
    EXPECT_EQ(clock.polls, 65535);
    EXPECT_EQ(clock.tickSleeps, 65535);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
}

TEST_F(SequencerTest, CountersPastNineHundredNinetyNineShowAllDigits) {
    // 1001 entries of one one-row section, then a section of 1001 rows.
    const std::uint16_t shortSection = 9 + 2 * 1003;
    const std::uint16_t longSection = shortSection + 12;
    SongBlock block;
    for (int entry = 0; entry < 1001; ++entry) block.Word(shortSection);
    block.Word(longSection);
    block.Word(0);
    block.Row(1, 0, 0, 0, 1);
    block.EndRow();
    for (int row = 0; row < 1001; ++row) block.Row(2, 0, 0, 0, 1);
    block.EndRow();

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    const std::string text = out.Text();
    EXPECT_THAT(text, HasSubstr("\rNote:000 Section:999=07DF CPU:0.37%\r"
                                "Note:000 Section:1000=07DF CPU:0.37%\r"
                                "Note:000 Section:1001=07EB CPU:0.37%\r"));
    EXPECT_THAT(text, HasSubstr("\rNote:999 Section:1001=07EB CPU:0.37%\r"
                                "Note:1000 Section:1001=07EB CPU:0.37%\r"));
    EXPECT_EQ(clock.polls, 2002);
}

TEST_F(SequencerTest, RowsAndSectionsReachingPastTheBlockEndEndThere) {
    SongBlock block;
    block.Word(17);
    block.Word(0xFFF0);  // outside the block: an empty section
    block.Word(17);
    block.Word(0);
    block.Row(5, 5, 5, 5, 1);  // offset 17
    block.Row(6, 6, 6, 6, 1);
    block.bytes.insert(block.bytes.end(), {7, 7, 7, 7, 1});  // five of six bytes

    EXPECT_EQ(Play(block), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(),
              "Note:000 Section:000=0011 CPU:0.37%\r"
              "Note:001 Section:000=0011 CPU:0.37%\r"
              "Note:000 Section:002=0011 CPU:0.37%\r"
              "Note:001 Section:002=0011 CPU:0.37%\r");
    EXPECT_EQ(clock.polls, 4);
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
}

TEST_F(SequencerTest, OrderListWithoutItsEndEntryEndsAtTheBlockEnd) {
    SongBlock block;
    block.Row(5, 5, 5, 5, 1);  // offset 9
    block.EndRow();
    block.Word(9);  // the order list, at 21
    block.Word(9);
    block.bytes.push_back(9);  // half an entry

    ExactBlock exact(block, 21);
    playback::ConsolePrinter printer(out.file());
    playback::SongPlayer player = playback::MakeSongPlayer(exact.view);
    EXPECT_EQ(playback::PlaySong(player, output, clock, printer), PlayOutcome::Finished);
    EXPECT_EQ(out.Text(),
              "Note:000 Section:000=0009 CPU:0.37%\r"
              "Note:000 Section:001=0009 CPU:0.37%\r");
    EXPECT_THAT(clock.otherSleeps, ElementsAre(2500u));
}

// Sections may start inside one another: every entry of an order list that
// points into one run of rows is measured from its own row on, and a long
// list of such entries costs one pass over the rows.
TEST(SongTimeline, SectionsThatStartInsideOneAnotherShareTheirRows) {
    SongBlock block;
    const std::size_t entries = 3000;
    const std::size_t rows = 2000;
    const std::size_t runStart = 9 + 2 * (entries + 1);
    for (std::size_t entry = 0; entry < entries; ++entry)
        block.Word(static_cast<std::uint16_t>(runStart + 6 * (entry % rows)));
    block.Word(0);
    for (std::size_t row = 0; row < rows; ++row) block.Row(10, 0, 0, 0, static_cast<std::uint16_t>(row + 1));
    block.EndRow();

    ExactBlock exact(block);
    const playback::SongTimeline timeline = playback::MeasureSong(exact.view);
    ASSERT_EQ(timeline.entries.size(), entries);
    EXPECT_EQ(timeline.sections.size(), rows);
    // The entry at row r of the run holds rows r..1999, of r+1..2000 ticks.
    const playback::TimelineEntry& third = timeline.entries[2];
    EXPECT_EQ(third.rows, rows - 2);
    EXPECT_EQ(third.ticks, rows * (rows + 1) / 2 - 3);
    EXPECT_EQ(playback::RowStartTick(timeline, 2, 1), 3u);
    std::uint64_t total = 0;
    for (std::size_t entry = 0; entry < entries; ++entry) {
        const std::size_t first = entry % rows;
        total += rows * (rows + 1) / 2 - first * (first + 1) / 2;
    }
    EXPECT_EQ(timeline.totalTicks, total);
    const playback::SongPosition last = playback::PositionAtTick(timeline, total - 1);
    EXPECT_EQ(last.entry, entries - 1);
    EXPECT_EQ(last.row, timeline.entries.back().rows - 1);
    EXPECT_EQ(last.tick, rows - 1);
}

}  // namespace
