// fenk-make, run as a program: what it writes, what libtifiles makes of it,
// and how it reports mistakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "songfile/songfile.h"
#include "tests/support/test_support.h"
#ifdef FENK_HAVE_TIFILES_PEER
#include "tests/songfile/tifiles_peer.h"
#endif
#include "tests/tools/tool_runner.h"

namespace {

using tool_tests::RunResult;

class MakeTest : public ::testing::Test {
protected:
    std::string Source(const std::string& text, const std::string& name = "song.txt") {
        return dir.Write(name, test_support::Text(text));
    }
    RunResult Make(const std::vector<std::string>& arguments) {
        return tool_tests::Run(FENK_MAKE_PATH, arguments);
    }
    // Reads a written song back through the player's own reader.
    void Load(const std::string& path) {
        songfile::ReadResult read = songfile::ReadTiProgramFile(path.c_str());
        ASSERT_EQ(read.failure, songfile::ReadFailure::None);
        file = read.value;
        songfile::ParseResult parsed = songfile::ParseSong(file.data.data(), file.data.size());
        ASSERT_TRUE(parsed.ok());
        song = parsed.value;
    }
    // The rows of the section that order entry `entry` names.
    std::vector<songfile::SongRow> SectionRows(std::size_t entry) {
        std::vector<songfile::SongRow> rows;
        std::size_t offset = songfile::OrderEntryAt(song, song.orderList + 2 * entry);
        for (songfile::SongRow row = songfile::RowAt(song, offset); row.duration != 0;
             row = songfile::RowAt(song, offset)) {
            rows.push_back(row);
            offset += songfile::kRowBytes;
        }
        return rows;
    }

    // `song` through its text and back: fenk-make SONG TEXT, then TEXT BACK.8xp.
    // The text's run; the song file written from it in `back`.
    RunResult ThroughText(const std::string& song, std::string* text, std::string* back) {
        *text = dir.File("back.txt");
        *back = dir.File("back.8xp");
        std::filesystem::remove(*text);
        std::filesystem::remove(*back);
        RunResult written = tool_tests::Run(FENK_MAKE_PATH, {song, *text});
        if (written.exitStatus == 0) {
            const RunResult compiled = tool_tests::Run(FENK_MAKE_PATH, {*text, *back});
            EXPECT_EQ(compiled.exitStatus, 0) << compiled.err << test_support::ReadText(*text);
        }
        return written;
    }

    test_support::TempDir dir;
    songfile::TiProgramFile file;
    songfile::SongView song;
};

const char kTwoSections[] =
    "# A test song\n"
    "title   \"Two \\\"Sections\\\"\"\n"
    "artist  \"Tester\"\n"
    "album   \"Album #1\"   # a # inside quotes is kept\n"
    "name    TWOSEC\n"
    "comment \"Made by the tests\"\n"
    "tempo 90\n"
    "section verse\n"
    "  A4 C#5 Bb3 B2   1\n"
    "  cb4 B#3 - 200   1/2\n"
    "  0   255 - -     3/2\n"
    "  tempo 92.5\n"
    "  A4  -   - -     1\n"
    "end\n"
    "section chorus\n"
    "  - - - A4  65535t\n"
    "  - - - A4  1t\n"
    "end\n"
    "order verse chorus\n"
    "order verse\n";

TEST_F(MakeTest, WritesTheSongTheSourceDescribes) {
    const std::string out = dir.File("song.8xp");
    RunResult run = Make({Source(kTwoSections), out});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    // (133 + 67 + 200 + 130) x 2 + 65536 ticks = 332.98 s; 2 sections, 6 rows.
    EXPECT_EQ(run.out, out + ": " + std::to_string(std::filesystem::file_size(out)) +
                           " bytes, 5:32.9 long, 2 sections, 6 rows\n");
    ASSERT_NO_FATAL_FAILURE(Load(out));

    EXPECT_EQ(songfile::NameText(file), "TWOSEC");
    EXPECT_EQ(songfile::CommentText(file), "Made by the tests");
    EXPECT_EQ(songfile::TitleText(song), "Two \"Sections\"");
    EXPECT_EQ(songfile::ArtistText(song), "Tester");
    EXPECT_EQ(songfile::AlbumText(song), "Album #1");

    // The order list: verse, chorus, verse again (the same offset), then 0.
    const std::uint16_t verse = songfile::OrderEntryAt(song, song.orderList);
    EXPECT_NE(verse, songfile::OrderEntryAt(song, song.orderList + 2));
    EXPECT_EQ(songfile::OrderEntryAt(song, song.orderList + 4), verse);
    EXPECT_EQ(songfile::OrderEntryAt(song, song.orderList + 6), 0);

    // Notes by name become the nearest period for the 32-frame square:
    // A4 71, C#5 56, Bb3 134, B2 253 (the lowest), Cb4 = B3 127, B#3 = C4
    // 119; raw periods stay; beats at 90 bpm are 133.3 ticks, rounded.
    const std::vector<songfile::SongRow> rows = SectionRows(0);
    ASSERT_EQ(rows.size(), 4u);
    const std::uint8_t expected[4][4] = {
        {71, 56, 134, 253}, {127, 119, 0, 200}, {0, 255, 0, 0}, {71, 0, 0, 0}};
    const std::uint16_t ticks[4] = {133, 67, 200, 130};  // the last at 92.5 bpm
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (int voice = 0; voice < 4; ++voice) {
            EXPECT_EQ(rows[row].periods[voice], expected[row][voice]) << "row " << row;
        }
        EXPECT_EQ(rows[row].duration, ticks[row]) << "row " << row;
    }
    const std::vector<songfile::SongRow> chorus = SectionRows(1);
    ASSERT_EQ(chorus.size(), 2u);
    EXPECT_EQ(chorus[0].duration, 65535);
    EXPECT_EQ(chorus[1].duration, 1);
}

#ifdef FENK_HAVE_TIFILES_PEER
TEST_F(MakeTest, LibtifilesReadsTheOutputAsAValidTi83PlusProgram) {
    const std::string out = dir.File("peer.8xp");
    ASSERT_EQ(Make({Source(kTwoSections), out}).exitStatus, 0);
    ASSERT_NO_FATAL_FAILURE(Load(out));

    const tifiles_peer::Reading peer = tifiles_peer::Read(out);
    ASSERT_TRUE(tifiles_peer::ExpectOneProgram(peer, "TWOSEC", "Made by the tests"));
    // The variable is the size word and the song block (the reader's block
    // also holds the two checksum bytes after it).
    ASSERT_EQ(peer.data.size(), file.declaredLength);
    EXPECT_TRUE(std::equal(peer.data.begin() + 2, peer.data.end(), file.data.begin()));
}
#endif

TEST_F(MakeTest, LeavesOutSectionsThatAreNeverPlayed) {
    const std::string out = dir.File("song.8xp");
    RunResult run = Make({Source("name X\ntitle \"t\"\n"
                                 "section used\n 100 - - - 5t\nend\n"
                                 "section spare\n 50 - - - 5t\nend\n"
                                 "order used\n"),
                          out});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, dir.File("song.txt") +
                           ":6: warning: section 'spare' is never played (the order does not "
                           "name it)\n");
    ASSERT_NO_FATAL_FAILURE(Load(out));
    // "FENK1", 0, "t", three NULs, two order words, one row and the end row,
    // and the reader's two checksum bytes: nothing of the spare section.
    EXPECT_EQ(file.data.size(), 6u + 1 + 3 + 4 + 12 + 2);
}

// A byte-order mark is skipped; high notes the square cannot reach within
// 30 cents are named once each; texts the calculator cannot show are named.
TEST_F(MakeTest, WarnsAboutNotesOffPitchAndTextsTheCalculatorCannotShow) {
    const std::string out = dir.File("song.8xp");
    const std::string source = Source("\xEF\xBB\xBFname X\ntitle \"Caf\xC3\xA9\"\n"
                                      "section a\n D7 A4 - - 5t\n D7 - - - 5t\n F#7 - - - 5t\nend\n"
                                      "order a\n");
    RunResult run = Make({source, out});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err,
              source + ":2: warning: the title holds characters other than printable ASCII, "
                       "which the calculator cannot show\n" +
              source + ":4: warning: note D7 sounds 40 cents sharp with the default sample "
                       "(period 13: 2403.8 Hz)\n" +
              source + ":6: warning: note F#7 sounds 71 cents flat with the default sample "
                       "(period 11: 2840.9 Hz)\n");
    ASSERT_NO_FATAL_FAILURE(Load(out));
    EXPECT_EQ(songfile::NameText(file), "X");
}

struct Mistake {
    const char* lines;     // the song's lines after a valid header
    const char* message;   // expected on stderr after "FILE:LINE: "
    int line;              // counted in the whole source
};

// Every mistake: reported with its line, exit 1, no output file.
TEST_F(MakeTest, ReportsEachMistakeWithItsLineAndWritesNothing) {
    const std::string header = "name BAD\ntitle \"Bad\"\n";  // lines 1, 2
    const Mistake mistakes[] = {
        {"section a\n H4 - - - 5t\nend\norder a\n",
         "'H4' is not a note (such as A4, C#5, Bb3), a period (0..255) or '-'", 4},
        {"section a\n A1 - - - 5t\nend\norder a\n",
         "note A1 needs period 568, outside 1..255 (the lowest note is B2)", 4},
        {"section a\n 256 - - - 5t\nend\norder a\n",
         "period '256' is not a whole number from 0 to 255", 4},
        {"section a\n A4 - - - 1\nend\norder a\n",
         "duration '1' is in beats, but no tempo line comes before it", 4},
        {"tempo 120\nsection a\n A4 - - - 1/512\nend\norder a\n",
         "duration '1/512' is 0 ticks at tempo 120; a row lasts 1 to 65535 ticks", 5},
        {"tempo 1\nsection a\n A4 - - - 6\nend\norder a\n",
         "duration '6' is 72000 ticks at tempo 1; a row lasts 1 to 65535 ticks", 5},
        {"section a\n A4 - - - 65536t\nend\norder a\n",
         "duration '65536t' must be 1t to 65535t ticks", 4},
        {"section a\n A4 - - 5t\nend\norder a\n",
         "a row needs four voices and a duration, found 4 fields", 4},
        {"section a\n A4 - - - 5t\nend\norder a b\n",
         "the order names section 'b', which is not defined", 6},
        {"section a\n A4 - - - 5t\norder a\n",
         "'end' is missing: section 'a' (line 3) is still open at this 'order'", 5},
        {"order a\nsection a\n A4 - - - 5t\n", "section 'a' has no 'end'", 4},
        {" A4 - - - 5t\nsection a\nend\norder a\n", "a row must stand inside a section", 3},
        {"comment \"0123456789012345678901234567890123456789012\"\nsection a\nend\norder a\n",
         "the comment is 43 bytes long; a program file holds at most 42", 3},
        {"title \"again\"\nsection a\nend\norder a\n",
         "'title' is given twice (first on line 2)", 3},
        {"artist \"open\nsection a\nend\norder a\n", "a text is missing its closing '\"'", 3},
        {"album plain\nsection a\nend\norder a\n", "'album' needs one text in double quotes", 3},
        {"tempo fast\nsection a\nend\norder a\n",
         "'tempo' needs one number of beats per minute, such as 120", 3},
        {"section a\nend\nsection a\nend\norder a\n",
         "section 'a' is defined twice (first on line 3)", 5},
        {"section a\nend\n", "the source has no 'order' line (the sections to play)", 4},
        {"verse\nsection a\nend\norder a\n",
         "unknown line starting with 'verse' (expected title, artist, album, name, comment, "
         "tempo, section or order)",
         3},
    };
    for (const Mistake& mistake : mistakes) {
        SCOPED_TRACE(mistake.lines);
        const std::string source = Source(header + mistake.lines);
        const std::string out = dir.File("out.8xp");
        RunResult run = Make({source, out});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.err, source + ":" + std::to_string(mistake.line) + ": " + mistake.message +
                               "\n");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST_F(MakeTest, ChecksTheProgramName) {
    for (const char* name : {"lower", "NINECHARS", "1ABC", "A-B"}) {
        SCOPED_TRACE(name);
        const std::string source =
            Source(std::string("name ") + name + "\ntitle \"t\"\nsection a\nend\norder a\n");
        RunResult run = Make({source, dir.File("out.8xp")});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.err, source +
                               ":1: 'name' needs a program name of 1 to 8 characters: capital "
                               "letters A-Z and digits, starting with a letter\n");
    }
}

TEST_F(MakeTest, ReportsAllMistakesInLineOrderAndKeepsAnExistingOutput) {
    const std::string out = dir.Write("old.8xp", test_support::Text("old content"));
    const std::string source = Source(
        "title \"t\"\nsection a\n X1 - - - 5t\n A4 - - - 0t\nend\norder a missing\n");
    RunResult run = Make({source, out});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err,
              source + ":3: 'X1' is not a note (such as A4, C#5, Bb3), a period (0..255) or '-'\n" +
                  source + ":4: duration '0t' must be 1t to 65535t ticks\n" + source +
                  ":6: the order names section 'missing', which is not defined\n" + source +
                  ":6: the source has no 'name' line (the program's name, such as ODE)\n");
    EXPECT_EQ(test_support::ReadText(out), "old content");
}

TEST_F(MakeTest, ReplacesAnExistingOutputOnSuccess) {
    const std::string out = dir.Write("old.8xp", test_support::Text("old content"));
    ASSERT_EQ(Make({Source(kTwoSections), out}).exitStatus, 0);
    ASSERT_NO_FATAL_FAILURE(Load(out));
    EXPECT_EQ(songfile::NameText(file), "TWOSEC");
    // Nothing is left beside it.
    EXPECT_EQ(tool_tests::EntriesIn(dir.Path().string()), 2u);  // the source and the output
}

TEST_F(MakeTest, NeverWritesOverItsSourceAndReplacesALinkNotWhatItNames) {
    const std::string source = Source(kTwoSections);
    const std::string text = test_support::ReadText(source);
    std::filesystem::create_directory(dir.File("sub"));
    for (const std::string& out : {source, dir.File("sub/../") + std::filesystem::path(source).filename().string()}) {
        RunResult run = Make({source, out});
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.err, "fenk-make: refusing to write '" + out + "': it is the input '" + source + "'\n");
        EXPECT_EQ(test_support::ReadText(source), text);
    }
    // Written through a symbolic link, the link is replaced by the program;
    // the file it named stays as it was.
    const std::string other = dir.Write("other.8xp", test_support::Text("other"));
    std::filesystem::create_symlink(other, dir.File("link.8xp"));
    ASSERT_EQ(Make({source, dir.File("link.8xp")}).exitStatus, 0);
    EXPECT_FALSE(std::filesystem::is_symlink(dir.File("link.8xp")));
    EXPECT_EQ(test_support::ReadText(other), "other");
}

TEST_F(MakeTest, CommandLine) {
    RunResult none = Make({});
    EXPECT_EQ(none.exitStatus, 1);
    EXPECT_EQ(none.err, "fenk-make: SOURCE is required (try 'fenk-make --help')\n");
    EXPECT_EQ(Make({"a", "b", "c"}).err,
              "fenk-make: The following argument was not expected: c (try 'fenk-make --help')\n");

    RunResult help = Make({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("Usage: fenk-make [OPTIONS] SOURCE OUT.8xp\n"), std::string::npos) << help.out;

    RunResult version = Make({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "fenk-make (Fenk) " FENK_VERSION "\n");

    RunResult unknown = Make({"--frobnicate", "a", "b"});
    EXPECT_EQ(unknown.exitStatus, 1);
    EXPECT_EQ(unknown.err,
              "fenk-make: The following argument was not expected: --frobnicate (try 'fenk-make --help')\n");

    RunResult missing = Make({dir.File("nothing.txt"), dir.File("out.8xp")});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.err,
              "fenk-make: cannot open '" + dir.File("nothing.txt") + "': No such file or directory\n");

    RunResult noFolder = Make({Source(kTwoSections), dir.File("no/such/folder/out.8xp")});
    EXPECT_EQ(noFolder.exitStatus, 1);
    EXPECT_EQ(noFolder.err, "fenk-make: cannot create a file in '" +
                                dir.File("no/such/folder") + "': No such file or directory\n");
}

// ---------------------------------------------------------------------------
// Song files back to their text

// Every song of the fuzz corpus that fenk plays comes back from its text
// playing the same rows in the same order, with its texts, name and
// comment; the others are refused with fenk's message and nothing written.
TEST_F(MakeTest, EverySongFilePlaysTheSameFromItsText) {
    std::size_t songs = 0, refused = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FENK_SONG_CORPUS)) {
        SCOPED_TRACE(entry.path().string());
        // Named as a song file, as a user would name it.
        const std::string path = dir.File("song.8xp");
        std::filesystem::copy_file(entry.path(), path, std::filesystem::copy_options::overwrite_existing);
        std::string text, back;
        const RunResult written = ThroughText(path, &text, &back);
        const std::string played = test_support::PlayedSong(path);
        if (played.empty()) {
            ++refused;
            EXPECT_EQ(written.exitStatus, 1);
            EXPECT_TRUE(written.err.find("Not a valid TI-83 Plus program file!\n") != std::string::npos ||
                        written.err.find("This is not a valid Fenk music file!\n") != std::string::npos)
                << written.err;
            EXPECT_FALSE(std::filesystem::exists(text));
            continue;
        }
        ++songs;
        ASSERT_EQ(written.exitStatus, 0) << written.err;
        // A program without a name is given one from the file's name.
        std::string expected = played;
        const std::size_t unnamed = expected.find("' name '' comment");
        if (unnamed != std::string::npos) {
            expected.replace(unnamed, 9, "' name 'SONG'");
            EXPECT_NE(written.err.find("warning: the program has no name; the text names it SONG\n"), std::string::npos);
        }
        EXPECT_EQ(test_support::PlayedSong(back), expected);
    }
    std::printf("corpus: %zu songs came back from their text, %zu files refused\n", songs, refused);
    EXPECT_GT(songs, 20u);
}

// fenk-make's own songs come back byte for byte.
TEST_F(MakeTest, DemoSongsComeBackByteForByte) {
    for (const char* name : {"demo.8xp", "frere-jacques.8xp"}) {
        SCOPED_TRACE(name);
        const std::string original = std::string(FENK_DEMO_SONGS_DIR) + "/" + name;
        std::string text, back;
        ASSERT_EQ(ThroughText(original, &text, &back).exitStatus, 0);
        EXPECT_EQ(test_support::ReadText(back), test_support::ReadText(original));
    }
}

// A song no text made: texts with every kind of byte, a name the editor
// cannot type, raw periods, the longest and shortest rows, one section
// listed twice, one that starts inside another's rows, an empty one; then an
// empty order list and a file cut short inside its rows.
TEST_F(MakeTest, OddLayoutsComeBackAsTheyPlay) {
    using test_support::Join;
    using test_support::Row;
    using test_support::Text;
    using test_support::Word;
    const std::string title = "Tab\tquote\"back\\slash";
    const std::string artist = "caf\xE9 \x01\x7F";
    const std::size_t header = 6 + title.size() + 1 + artist.size() + 1 + 1;
    const std::size_t first = header + 2 * 5;  // four entries and the 0
    const auto row = [](const songfile::SongRow& r) {
        return Join({{r.periods[0], r.periods[1], r.periods[2], r.periods[3]}, Word(r.duration)});
    };
    const test_support::Bytes body = Join({
        Text("FENK1"), {7}, Text(title), {0}, Text(artist), {0}, {0},
        Word(first), Word(first + 6), Word(first), Word(first + 24), Word(0),
        row(Row(71, 72, 2, 255, 1)), row(Row(0, 200, 1, 0, 65535)), row(Row(56, 0, 0, 0, 100)),
        row(Row(0, 0, 0, 0, 0)), row(Row(9, 9, 9, 9, 0))});
    const std::string odd = dir.Write("odd.8xp", test_support::ProgramFile(body, "th[ta", std::string(42, 'c')));
    std::string text, back;
    RunResult written = ThroughText(odd, &text, &back);
    ASSERT_EQ(written.exitStatus, 0) << written.err;
    EXPECT_EQ(written.err, odd + ": warning: section s2 starts inside the rows of section s1 (at byte " +
                               std::to_string(first + 6) + "): its 2 rows are written again, 18 bytes more\n");
    EXPECT_EQ(test_support::PlayedSong(back), test_support::PlayedSong(odd));
    const std::string source = test_support::ReadText(text);
    for (const char* part : {"title   \"Tab\\x09quote\\\"back\\\\slash\"\n", "artist  \"caf\\xE9 \\x01\\x7F\"\n",
                             "name    \"th[ta\"\n", "  A4     72     2      255    ", "65535t\n",
                             "order s1 s2 s1 s3\n"}) {
        EXPECT_NE(source.find(part), std::string::npos) << part << "\n" << source;
    }

    const std::string silent = dir.Write("silent.8xp", test_support::ProgramFile(Join({Text("FENK1"), {0, 0, 0, 0}, Word(0)})));
    ASSERT_EQ(ThroughText(silent, &text, &back).exitStatus, 0);
    EXPECT_NE(test_support::ReadText(text).find("\norder\n"), std::string::npos);
    EXPECT_EQ(test_support::PlayedSong(back), test_support::PlayedSong(silent));

    test_support::Bytes cut = test_support::ProgramFile(body);
    cut.resize(cut.size() - 12);  // the checksum, the last rows
    const std::string shortFile = dir.Write("short.8xp", cut);
    written = ThroughText(shortFile, &text, &back);
    ASSERT_EQ(written.exitStatus, 0);
    EXPECT_NE(written.err.find(shortFile + ": warning: the song data is truncated ("), std::string::npos) << written.err;
    EXPECT_EQ(test_support::PlayedSong(back), test_support::PlayedSong(shortFile));

    const std::string notSong = dir.Write("not.8xp", test_support::ProgramFile(Text("FENK2 and more")));
    written = ThroughText(notSong, &text, &back);
    EXPECT_EQ(written.exitStatus, 1);
    EXPECT_EQ(written.err, notSong + ": This is not a valid Fenk music file!\n");
    EXPECT_FALSE(std::filesystem::exists(text));
}

}  // namespace
