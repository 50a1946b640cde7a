// fenk-live: the position logic on its own, then the real program on a
// pseudo-terminal as a composer uses it (keys in, screen out, the song
// edited while it plays), and a seek heard through SDL's disk driver.
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/audio_analysis.h"
#include "tests/platform/child_process.h"
#include "compose/live_song.h"
#include "playback/song_engine.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Row;

// intro (2 rows), an empty section, verse (3 rows), intro again.
const char kSong[] =
    "name LIVE\ntitle \"Live One\"\nartist \"Tests\"\n"
    "section intro\n A4 - - - 100t\n B4 - - - 200t\nend\n"
    "section nothing\nend\n"
    "section verse\n C5 - - - 4000t\n D5 - - - 4000t\n E5 - - - 4000t\nend\n"
    "order intro nothing verse intro\n";

live::Song Load(const std::string& text) {
    live::LoadResult loaded =
        live::LoadSongBytes("song.txt", std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(loaded.ok()) << loaded.reason;
    return loaded.value;
}

// The song engine over fenk-live's song: its timeline, named entries and
// the mapping between ticks and positions.
TEST(LiveSongTest, EntriesThatPlayWithTheirNamesAndTimes) {
    const live::Song song = Load(kSong);
    EXPECT_EQ(song.title, "Live One");
    const playback::SongTimeline timeline = playback::MeasureSong(live::View(song));
    EXPECT_EQ(timeline.orderCount, 4u);
    ASSERT_EQ(timeline.entries.size(), 3u);  // the empty section's entry is passed over
    EXPECT_EQ(timeline.sections.size(), 3u);  // intro measured once, the empty one too
    EXPECT_EQ(live::SectionName(song, timeline.entries[0].sectionOffset), "intro");
    EXPECT_EQ(live::SectionName(song, timeline.entries[1].sectionOffset), "verse");
    EXPECT_EQ(timeline.entries[1].orderIndex, 2u);
    EXPECT_EQ(timeline.entries[2].startTick, 12300u);
    EXPECT_EQ(timeline.totalTicks, 12600u);
    EXPECT_EQ(timeline.rows, 7u);
    EXPECT_EQ(playback::TickAtPosition(timeline, {1, 2, 7}), 8307u);
    for (std::uint64_t tick : {0u, 99u, 100u, 8307u, 12599u}) {
        EXPECT_EQ(playback::TickAtPosition(timeline, playback::PositionAtTick(timeline, tick)), tick);
    }
    EXPECT_EQ(playback::PositionAtTick(timeline, 12600).entry, 3u);  // the end
    EXPECT_EQ(playback::EntryAtOrderIndex(timeline, 1), 1u);  // the empty entry: the next

    // A program file: sections go by their offsets.
    test_support::SongParts parts;
    parts.sections = {{Row(71, 0, 0, 0, 10)}};
    parts.order = {0, 0};
    const test_support::Bytes file = test_support::SongFile(parts);
    const live::LoadResult program =
        live::LoadSongBytes("song.8xp", std::vector<std::uint8_t>(file.begin(), file.end()));
    ASSERT_TRUE(program.ok());
    const playback::SongTimeline programTimeline = playback::MeasureSong(live::View(program.value));
    EXPECT_EQ(live::SectionName(program.value, programTimeline.entries[1].sectionOffset).rfind("0x00", 0), 0u);

    const live::LoadResult mistake = live::LoadSongBytes("song.txt", {'x', '\n'});
    EXPECT_EQ(mistake.reason.rfind("song.txt:1: unknown line starting with 'x'", 0), 0u)
        << mistake.reason;
}

// Plays `player` until a row starts (or the end), and returns the row's
// first period.
int NextRowPeriod(playback::SongPlayer& player) {
    for (;;) {
        const playback::PlayedTick played = playback::PlayTick(player);
        if (played.ended || played.paused) return -1;
        if (played.rowStarted) return played.row.periods[0];
    }
}

TEST(LiveSongTest, MovesAlongTheEntriesAndKeepsItsPlaceAcrossEdits) {
    const live::Song song = Load(kSong);
    playback::SongPlayer player = playback::MakeSongPlayer(live::View(song));
    const int a4 = NextRowPeriod(player), b4 = NextRowPeriod(player), c5 = NextRowPeriod(player);
    EXPECT_EQ(player.position.entry, 1u);  // intro's last row -> verse
    EXPECT_EQ(playback::TickAtPosition(player.timeline, player.position), 301u);

    player.loopEntry = true;
    playback::SeekTo(player, 1, 2);
    EXPECT_TRUE(player.jumped);
    const playback::PlayedTick jumped = playback::PlayTick(player);
    EXPECT_TRUE(jumped.rowStarted && jumped.row.jumped && jumped.row.rowIndex == 2u);
    EXPECT_EQ(NextRowPeriod(player), c5);  // looping: verse again
    EXPECT_EQ(player.position.entry, 1u);
    player.loopEntry = false;

    player.muted[0] = true;
    playback::SeekTo(player, 2);
    playback::PlayedTick muted = playback::PlayTick(player);
    EXPECT_EQ(muted.row.periods[0], a4);
    EXPECT_EQ(muted.row.rates[0], playback::kSilentRate);
    player.muted[0] = false;
    player.paused = true;
    EXPECT_TRUE(playback::PlayTick(player).paused);
    player.paused = false;
    EXPECT_EQ(NextRowPeriod(player), b4);
    EXPECT_EQ(NextRowPeriod(player), -1);  // the end
    EXPECT_TRUE(playback::AtEnd(player));

    // Playing a part: the engine ends before endEntry.
    playback::SeekTo(player, 0);
    player.endEntry = 1;
    EXPECT_EQ(NextRowPeriod(player), a4);
    EXPECT_EQ(NextRowPeriod(player), b4);
    EXPECT_EQ(NextRowPeriod(player), -1);

    // Verse cut to one row, intro's second row halved and the last entry
    // dropped: row 3 of verse becomes its only row; the last intro, gone,
    // falls back to verse.
    std::string shorter = kSong;
    shorter.replace(shorter.find("200t"), 4, "100t");
    shorter.replace(shorter.find(" D5"), 32, "");  // " D5 - - - 4000t\n E5 - - - 4000t\n"
    shorter.replace(shorter.find("verse intro"), 11, "verse");
    const playback::SongTimeline edited = playback::MeasureSong(live::View(Load(shorter)));
    ASSERT_EQ(edited.entries[1].rows, 1u);
    playback::SongPosition kept;
    ASSERT_TRUE(live::KeepPlace(player.timeline, {1, 2, 3900}, edited, kept));
    EXPECT_EQ(kept.entry, 1u);
    EXPECT_EQ(kept.row, 0u);
    EXPECT_EQ(kept.tick, 3900u);
    ASSERT_TRUE(live::KeepPlace(player.timeline, {2, 1, 150}, edited, kept));
    EXPECT_EQ(kept.entry, 1u);
    EXPECT_EQ(kept.tick, 150u);
    ASSERT_TRUE(live::KeepPlace(player.timeline, {0, 1, 199}, edited, kept));
    EXPECT_EQ(kept.tick, 99u);  // intro's second row got shorter: its last tick
    const playback::SongTimeline empty =
        playback::MeasureSong(live::View(Load("name X\ntitle \"t\"\nsection e\nend\norder e\n")));
    EXPECT_FALSE(live::KeepPlace(player.timeline, {1, 0, 0}, empty, kept));
}

// ---------------------------------------------------------------------------
// The program on a terminal

// The last whole screen in what fenk-live wrote: from the last "home" whose
// frame is complete, line ends as "\n", the clear-to-end-of-line dropped.
std::string CurrentScreen(const std::string& raw) {
    const std::size_t end = raw.rfind("\x1b[J");
    if (end == std::string::npos) return "";
    const std::size_t start = raw.rfind("\x1b[H", end);
    if (start == std::string::npos) return "";
    std::string screen = raw.substr(start + 3, end - start - 3);
    screen = std::regex_replace(screen, std::regex("\x1b\\[K"), "");
    return std::regex_replace(screen, std::regex("\r\n"), "\n");
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string TimeShown(const std::string& screen) {
    std::smatch match;
    return std::regex_search(screen, match, std::regex("Time     ([0-9:.]+) /")) ? match[1].str()
                                                                            : "";
}

class LiveTerminalTest : public ::testing::Test {
protected:
    child_process::TerminalChild Start(const std::vector<std::string>& extra,
                                       const std::vector<std::string>& environment) {
        std::vector<std::string> arguments = {FENK_LIVE_PATH};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::vector<std::string> env = child_process::EnvironmentWith(environment);
        child_process::TerminalChild child = child_process::StartOnTerminal([&](int) {
            std::vector<char*> argv = child_process::NullTerminated(arguments);
            std::vector<char*> envp = child_process::NullTerminated(env);
            execve(argv[0], argv.data(), envp.data());
            return 127;
        });
        EXPECT_GT(child.pid, 0);
        return child;
    }

    // Reads the terminal until the screen passes `test`, for 10 s at most.
    bool WaitFor(const std::function<bool(const std::string&)>& test, int timeoutMs = 10000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!test(CurrentScreen(raw))) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            char byte = 0;
            if (child_process::ReadByte(child.master, &byte, 100)) {
                raw += byte;
                raw += child_process::ReadAvailable(child.master);
            }
        }
        return true;
    }
    bool WaitForText(const std::string& text) {
        return WaitFor([&](const std::string& screen) { return screen.find(text) != std::string::npos; });
    }
    void Press(const std::string& keys) {
        ASSERT_EQ(write(child.master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    void TearDown() override {
        if (child.pid > 0) child_process::WaitForExit(child.pid, 100);
        child_process::CloseTerminal(child);
    }

    test_support::TempDir dir;
    child_process::TerminalChild child;
    std::string raw;
};

TEST_F(LiveTerminalTest, PlaysSeeksPausesAndFollowsTheEditsOfTheSong) {
    const std::string path = dir.Write("live.txt", test_support::Text(kSong));
    child = Start({path}, {"SDL_AUDIODRIVER=dummy"});
    ASSERT_TRUE(WaitForText("Entry    1/4  intro")) << CurrentScreen(raw);
    const std::string first = CurrentScreen(raw);
    for (const char* line : {"fenk-live  ", "Title    Live One", "Artist   Tests", "Time     0:",
                             "/ 1:03.0", "Voice    0 [1]       1 [2]", "Playing", "q quit"}) {
        EXPECT_NE(first.find(line), std::string::npos) << line << "\n" << first;
    }
    // The screen fits 80 x 24.
    EXPECT_LE(std::count(first.begin(), first.end(), '\n'), 23);

    // Right: the next entry that plays (the empty one is passed over).
    Press("\x1b[C");
    ASSERT_TRUE(WaitForText("Entry    3/4  verse")) << CurrentScreen(raw);
    ASSERT_TRUE(WaitForText("Now      C5 ")) << CurrentScreen(raw);

    // Pause: the time holds; space again: it goes on.
    Press(" ");
    ASSERT_TRUE(WaitForText("Paused"));
    const std::string paused = TimeShown(CurrentScreen(raw));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    WaitFor([](const std::string&) { return false; }, 100);
    EXPECT_EQ(TimeShown(CurrentScreen(raw)), paused);
    Press(" ");
    ASSERT_TRUE(WaitFor([&](const std::string& screen) {
        return screen.find("Playing") != std::string::npos && TimeShown(screen) != paused;
    })) << CurrentScreen(raw);

    // Key 1 mutes voice 0; the entry looped.
    Press("1l");
    ASSERT_TRUE(WaitForText("C5 muted")) << CurrentScreen(raw);
    ASSERT_TRUE(WaitForText("Playing, looping this entry")) << CurrentScreen(raw);

    // An edit is picked up where the song is; a mistake is shown while the
    // last good version plays on.
    std::string edited = kSong;
    edited.replace(edited.find("Live One"), 8, "Live Two");
    edited.replace(edited.find(" C5"), 3, " G5");
    dir.Write("live.txt", test_support::Text(edited));
    ASSERT_TRUE(WaitForText("Title    Live Two")) << CurrentScreen(raw);
    EXPECT_NE(CurrentScreen(raw).find("Entry    3/4  verse"), std::string::npos);
    EXPECT_NE(CurrentScreen(raw).find("G5 muted"), std::string::npos) << CurrentScreen(raw);
    EXPECT_NE(CurrentScreen(raw).find("Read again (1)"), std::string::npos);
    std::string broken = edited;
    broken.replace(broken.find(" G5"), 3, " H5");
    dir.Write("live.txt", test_support::Text(broken));
    ASSERT_TRUE(WaitForText(path + ":11: 'H5' is not a note")) << CurrentScreen(raw);
    const std::string during = TimeShown(CurrentScreen(raw));
    ASSERT_TRUE(WaitFor([&](const std::string& screen) { return TimeShown(screen) != during; }));
    EXPECT_NE(CurrentScreen(raw).find("Title    Live Two"), std::string::npos);

    // Past the last entry: at the end, paused; Home goes back to the start.
    Press("l\x1b[C\x1b[C");
    ASSERT_TRUE(WaitForText("At the end (paused)")) << CurrentScreen(raw);
    EXPECT_EQ(TimeShown(CurrentScreen(raw)), "1:03.0");
    Press("\x1b[H");
    ASSERT_TRUE(WaitForText("Entry    1/4  intro")) << CurrentScreen(raw);

    // q ends it with the terminal as it was.
    Press("q");
    const int status = child_process::WaitForExit(child.pid, 10000);
    child.pid = -1;
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    raw += child_process::ReadAvailable(child.master);
    EXPECT_TRUE(EndsWith(raw, "\x1b[?25h\x1b[?1049l")) << raw.substr(raw.size() - 40);
    termios after = {};
    ASSERT_EQ(tcgetattr(child.master, &after), 0);
    EXPECT_EQ(after.c_lflag, child.initial.c_lflag);
}

TEST_F(LiveTerminalTest, CtrlCLeavesTheScreenAndTheTerminalAsTheyWere) {
    const std::string path = dir.Write("live.txt", test_support::Text(kSong));
    child = Start({path}, {"SDL_AUDIODRIVER=dummy"});
    ASSERT_TRUE(WaitForText("Playing")) << CurrentScreen(raw);
    Press("\x03");
    const int status = child_process::WaitForExit(child.pid, 10000);
    child.pid = -1;
    EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    raw += child_process::ReadAvailable(child.master);
    EXPECT_TRUE(EndsWith(raw, "\x1b[?25h\x1b[?1049l")) << raw.substr(raw.size() - 40);
    termios after = {};
    ASSERT_EQ(tcgetattr(child.master, &after), 0);
    EXPECT_EQ(after.c_lflag, child.initial.c_lflag);

    // A song that cannot be compiled at start: one line, status 1.
    child_process::ProgramResult bad = child_process::RunProgram(
        {FENK_LIVE_PATH, dir.Write("bad.txt", test_support::Text("name X\nverse\n"))});
    EXPECT_EQ(bad.ExitStatus(), 1);
    EXPECT_EQ(bad.err, "fenk-live: " + dir.File("bad.txt") + ":2: unknown line starting with "
                       "'verse' (expected title, artist, album, name, comment, tempo, section "
                       "or order)\n");
}

// The seek heard: voice 1 at one pitch in the first entry, another in the
// second; Right moves from one to the other long before the first ends.
TEST_F(LiveTerminalTest, ASeekIsHeardAtOnce) {
    test_support::SongParts parts;
    parts.title = "Seek";
    parts.sections = {{Row(100, 0, 0, 0, 65535)}, {Row(50, 0, 0, 0, 65535)}};
    parts.order = {0, 1};
    const std::string song = dir.Write("seek.8xp", test_support::SongFile(parts));
    const std::string sound = dir.File("sound.raw");
    child = Start({song, FENK_SQUARE_PATH},
                  {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + sound});
    ASSERT_TRUE(WaitForText("Entry    1/2")) << CurrentScreen(raw);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Press("\x1b[C");
    ASSERT_TRUE(WaitForText("Entry    2/2")) << CurrentScreen(raw);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Press("q");
    ASSERT_NE(child_process::WaitForExit(child.pid, 10000), -1);
    child.pid = -1;

    std::ifstream file(sound, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    const audio_analysis::Stereo heard = audio_analysis::FromFloatFrames(bytes, 32000);
    // About a second of sound, not the 327 s the first entry lasts.
    ASSERT_GT(heard.Frames(), 16000u);
    ASSERT_LT(heard.Frames(), 32000u * 5);
    const double low = audio_analysis::SquarePitchForPeriod(100);
    const double high = audio_analysis::SquarePitchForPeriod(50);
    const std::size_t frames = heard.Frames();
    // The device's first blocks are silence until the song starts.
    const long start = audio_analysis::FirstSound(heard, 1e-3);
    ASSERT_GE(start, 0);
    const std::size_t first = static_cast<std::size_t>(start) + 800;
    ASSERT_LT(first + 6400, frames - 8000);
    const std::vector<audio_analysis::Peak> early =
        audio_analysis::StrongestPeaks(heard.left, 32000, first, first + 6400, 1);
    const std::vector<audio_analysis::Peak> late =
        audio_analysis::StrongestPeaks(heard.left, 32000, frames - 8000, frames, 1);
    ASSERT_FALSE(early.empty());
    ASSERT_FALSE(late.empty());
    EXPECT_NEAR(early[0].hz, low, 2.0);
    EXPECT_NEAR(late[0].hz, high, 2.0);
}

}  // namespace
