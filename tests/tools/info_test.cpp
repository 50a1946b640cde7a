// fenk-info, run as a program: what it reads back from fenk-make's output,
// and how it names data that is broken, cut short or out of bounds.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"
#include "tests/tools/tool_runner.h"

namespace {

using test_support::Bytes;
using test_support::Join;
using test_support::Text;
using test_support::Word;
using Json = nlohmann::json;
using tool_tests::RunResult;

class InfoTest : public ::testing::Test {
protected:
    RunResult Info(const std::vector<std::string>& arguments) {
        return tool_tests::Run(FENK_INFO_PATH, arguments);
    }
    // fenk-info --json of `path`, parsed; fails the test on invalid JSON.
    Json InfoJson(const std::string& path, int expectedStatus = 0) {
        RunResult run = Info({path, "--json"});
        EXPECT_EQ(run.exitStatus, expectedStatus) << run.err;
        Json json = Json::parse(run.out, nullptr, false);
        EXPECT_FALSE(json.is_discarded()) << run.out;
        return json;
    }
    // A program file whose data block, as the player reads it, is exactly
    // `block`: the file is cut right after it, so it reports truncation.
    std::string FileWithBlock(const Bytes& block, const std::string& name = "cut.8xp") {
        Bytes file = test_support::ProgramFile(block);
        file.resize(74 + block.size());
        return dir.Write(name, file);
    }

    test_support::TempDir dir;
};

bool HasProblem(const Json& json, const std::string& text) {
    for (const Json& problem : json.at("problems")) {
        if (problem.get<std::string>() == text) return true;
    }
    return false;
}

TEST_F(InfoTest, GivesBackWhatTheSourceSaid) {
    const std::string source = dir.Write(
        "song.txt", Text("title \"Round\"\nartist \"Anon\"\nalbum \"Tests\"\nname ROUND\n"
                         "comment \"a comment\"\ntempo 120\n"
                         "section a\n A4 - C#5 200 1\n - B2 - - 1/2\nend\n"
                         "section b\n 1 2 3 4 7t\nend\n"
                         "order a b a\n"));
    const std::string song = dir.File("song.8xp");
    ASSERT_EQ(tool_tests::Run(FENK_MAKE_PATH, {source, song}).exitStatus, 0);
    Json json = InfoJson(song);

    Json header = json["header"];
    EXPECT_TRUE(header["signature_matches"].get<bool>());
    EXPECT_EQ(header["name"].get<std::string>(), "ROUND");
    EXPECT_EQ(header["comment"].get<std::string>(), "a comment");
    EXPECT_EQ(header["type"].get<double>(), 5);
    EXPECT_EQ(header["entry_header_length"].get<double>(), 13);
    EXPECT_TRUE(header["checksum_matches"].get<bool>());
    EXPECT_EQ(header["data_length"].get<double>(), header["size_word"].get<double>() + 2);
    EXPECT_EQ(header["data_section_length"].get<double>(), header["data_length"].get<double>() + 17);
    EXPECT_EQ(json["file_size"].get<double>(), header["data_length"].get<double>() + 74);
    EXPECT_TRUE(json["problems"].empty());

    Json songJson = json["song"];
    EXPECT_EQ(songJson["title"].get<std::string>(), "Round");
    EXPECT_EQ(songJson["artist"].get<std::string>(), "Anon");
    EXPECT_EQ(songJson["album"].get<std::string>(), "Tests");
    ASSERT_EQ(songJson["order"].size(), 3u);
    // Entries, sections and rows count from 1, in the JSON as in the text.
    EXPECT_EQ(songJson["order"][2]["number"].get<double>(), 3);
    EXPECT_EQ(songJson["order"][0]["section_number"].get<double>(), 1);
    EXPECT_EQ(songJson["order"][1]["section_number"].get<double>(), 2);
    EXPECT_EQ(songJson["order"][2]["section_number"].get<double>(), 1);
    EXPECT_TRUE(songJson["order_terminated"].get<bool>());

    Json a = songJson["sections"][0];
    ASSERT_EQ(a["rows"].size(), 2u);
    Json first = a["rows"][0];
    EXPECT_EQ(first["periods"][0].get<double>(), 71);
    EXPECT_EQ(first["rates"][0].get<double>(), 14084);
    EXPECT_EQ(first["pitches"][0].get<double>(), 440.1);  // with the default sample
    EXPECT_TRUE(first["pitches"][1].is_null());
    EXPECT_EQ(a["rows"][1]["number"].get<double>(), 2);
    EXPECT_EQ(first["notes"][0]["name"].get<std::string>(), "A4");
    EXPECT_NEAR(first["notes"][0]["cents"].get<double>(), 0.5, 0.051);
    EXPECT_TRUE(first["notes"][1].is_null());  // a rest
    EXPECT_EQ(first["rates"][1].get<double>(), -1);
    EXPECT_EQ(first["notes"][2]["name"].get<std::string>(), "C#5");
    EXPECT_EQ(first["periods"][3].get<double>(), 200);
    EXPECT_EQ(first["rates"][3].get<double>(), 5000);
    EXPECT_EQ(first["ticks"].get<double>(), 100);
    EXPECT_EQ(first["ms"].get<double>(), 500);
    EXPECT_EQ(a["rows"][1]["notes"][1]["name"].get<std::string>(), "B2");
    EXPECT_EQ(a["rows"][1]["ticks"].get<double>(), 50);
    EXPECT_EQ(a["end"].get<std::string>(), "end_row");
    EXPECT_EQ(a["played_at_entries"], Json::parse("[1, 3]"));
    // a twice (150 ticks each) and b once (7 ticks).
    EXPECT_EQ(songJson["total_ticks"].get<double>(), 307);
    EXPECT_EQ(songJson["total_ms"].get<double>(), 1535);

    RunResult text = Info({song});
    EXPECT_EQ(text.exitStatus, 0);
    EXPECT_EQ(text.err, "");
    for (const char* line :
         {"  name                 ROUND\n", "  checksum             0x", ", matches\n",
          "  title                \"Round\"\n",
          "  length               307 ticks = 1535 ms (0:01.535), then the player waits 2500 ms\n",
          "played at order entries 1, 3\n", "       3  section 1 at 0x", "No problems found.\n"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    }
    // A row: its number and offset, then period, rate, pitch, note and cents
    // of each voice.
    EXPECT_NE(text.out.find("     1 0x"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(" 71   14084 Hz   440.1 Hz A4    +0   0 silent"), std::string::npos)
        << text.out;
}

TEST_F(InfoTest, SaysWhenTheChecksumOrTheHeaderFieldsDisagree) {
    test_support::SongParts parts;
    parts.title = "t";
    Bytes file = test_support::SongFile(parts);
    file[59] = 0x15;          // the variable type
    file[file.size() - 1] ^= 0x40;  // the stored checksum
    file.push_back(0xAA);     // a byte after the checksum
    Json json = InfoJson(dir.Write("odd.8xp", file));
    EXPECT_FALSE(json["header"]["checksum_matches"].get<bool>());
    EXPECT_TRUE(HasProblem(json, "the variable type is 15, not a program (05) or protected "
                                 "program (06)"));
    EXPECT_TRUE(HasProblem(json, "1 bytes follow the checksum (another variable?); the player "
                                 "reads only the first variable"));
    ASSERT_EQ(json["problems"].size(), 3u);
    EXPECT_EQ(json["problems"][1].get<std::string>().rfind("the checksum does not match: stored 0x", 0), 0u);
}

TEST_F(InfoTest, NamesTruncationAndRowsCutAtTheBlockEnd) {
    // Section at offset 13: one whole row, then 3 bytes of the next.
    const Bytes block = Join({Text("FENK1"), {0}, {0, 0, 0}, Word(13), Word(0),
                              {10, 20, 30, 40}, Word(9), {1, 2, 3}});
    Json json = InfoJson(FileWithBlock(block));
    EXPECT_TRUE(json["truncated"].get<bool>());
    EXPECT_EQ(json["block_bytes"].get<double>(), block.size());
    Json section = json["song"]["sections"][0];
    EXPECT_EQ(section["end"].get<std::string>(), "cut_short");
    EXPECT_EQ(section["end_offset"].get<double>(), 19);
    ASSERT_EQ(section["rows"].size(), 1u);
    EXPECT_EQ(section["rows"][0]["ticks"].get<double>(), 9);
    EXPECT_TRUE(HasProblem(json, "the song data is truncated: " + std::to_string(block.size()) +
                                     " of " + std::to_string(block.size() + 2) +
                                     " bytes are in the file"));
    EXPECT_TRUE(HasProblem(json, "the section at 0x000D has no end row: its row at 0x0013 is cut "
                                 "off by the block's end, so the section ends there"));
}

TEST_F(InfoTest, NamesAnOrderListWithoutItsEndAndSectionsOutsideTheBlock) {
    // Entries 0x4000 (outside) and 0x0100 (outside), then one odd byte.
    const Bytes block = Join({Text("FENK1"), {0}, {0, 0, 0}, Word(0x4000), Word(0x0100), {7}});
    Json json = InfoJson(FileWithBlock(block));
    Json song = json["song"];
    EXPECT_FALSE(song["order_terminated"].get<bool>());
    EXPECT_EQ(song["order"].size(), 2u);
    EXPECT_EQ(song["sections"][0]["end"].get<std::string>(), "outside_block");
    EXPECT_EQ(song["total_ticks"].get<double>(), 0);
    EXPECT_TRUE(HasProblem(json, "the order list has no 0 entry: it runs to the end of the block "
                                 "(after 2 entries)"));
    EXPECT_TRUE(HasProblem(json, "section offset 0x4000 lies outside the 14-byte block: it plays "
                                 "as an empty section"));
    EXPECT_TRUE(HasProblem(json, "section offset 0x0100 lies outside the 14-byte block: it plays "
                                 "as an empty section"));
}

TEST_F(InfoTest, EscapesTextsInJsonAndOnTheTerminal) {
    // A quote, a backslash, a control byte, a Latin-1 e-acute (not UTF-8)
    // and a real UTF-8 u-umlaut.
    const Bytes block = Join({Text("FENK1"), {0}, Text("a\"b\\c"), {0x01, 0}, {0xE9, 0},
                              {0xC3, 0xBC, 0}, Word(0)});
    const std::string path = dir.Write("texts.8xp", test_support::ProgramFile(block));
    Json json = InfoJson(path);
    EXPECT_EQ(json["song"]["title"].get<std::string>(), "a\"b\\c\x01");
    EXPECT_EQ(json["song"]["artist"].get<std::string>(), "\xC3\xA9");  // U+00E9
    EXPECT_EQ(json["song"]["album"].get<std::string>(), "\xC3\xBC");

    RunResult text = Info({path});
    EXPECT_NE(text.out.find("  title                \"a\\\"b\\\\c\\x01\"\n"), std::string::npos)
        << text.out;
}

TEST_F(InfoTest, RefusesWhatFenkRefuses) {
    RunResult missing = Info({dir.File("none.8xp")});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "fenk-info: cannot open '" + dir.File("none.8xp") +
                               "': No such file or directory\n");

    Bytes notTi = Text("**TI83F*\x1a\x0a\x01 and more");
    RunResult wrong = Info({dir.Write("wrong.8xp", notTi)});
    EXPECT_EQ(wrong.exitStatus, 1);
    EXPECT_EQ(wrong.err,
              "fenk-info: not a TI-83 Plus program file: the signature differs at byte 10\n");

    Bytes shortHeader = test_support::ProgramFile(Text("FENK1"));
    shortHeader.resize(71);  // ends inside the data length word
    RunResult cut = Info({dir.Write("short.8xp", shortHeader)});
    EXPECT_EQ(cut.exitStatus, 1);
    EXPECT_EQ(cut.err, "fenk-info: not a TI-83 Plus program file: it ends before the data "
                       "length at offset 70\n");

    Json notSong = InfoJson(dir.Write("fenk2.8xp", test_support::ProgramFile(Text("FENK2\0"))), 1);
    EXPECT_TRUE(notSong["is_program"].get<bool>());
    EXPECT_FALSE(notSong["is_song"].get<bool>());
    EXPECT_TRUE(notSong["song"].is_null());
    EXPECT_TRUE(HasProblem(notSong, "not a Fenk song: the data block does not start with the "
                                    "signature FENK1"));

    RunResult noText = Info({dir.Write("open.8xp", test_support::ProgramFile(Text("FENK1xabc")))});
    EXPECT_EQ(noText.exitStatus, 1);
    // The block's two checksum bytes cannot end all three texts.
    EXPECT_EQ(noText.err, "fenk-info: not a Fenk song: the title, artist or album has no NUL "
                          "before the end of the data block\n");

    RunResult usage = Info({});
    EXPECT_EQ(usage.exitStatus, 1);
    EXPECT_EQ(usage.err, "fenk-info: SONG is required (try 'fenk-info --help')\n");
    RunResult version = Info({"--version"});
    EXPECT_EQ(version.out, "fenk-info (Fenk) " FENK_VERSION "\n");
}

}  // namespace
