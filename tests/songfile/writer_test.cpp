// The program file writer and the song block builder.
#include <gtest/gtest.h>

#include "songfile/songfile.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Bytes;
using test_support::Row;

std::uint16_t WordAt(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// --- BuildTiProgramFile / ComputeTiChecksum ------------------------------------

TEST(ProgramFileTest, SmallFileHasTheChecksumWorkedOutByHand) {
    Bytes file = test_support::ProgramFile({0x01, 0x02}, "A");
    ASSERT_EQ(file.size(), 74u + 2 + 2);
    // From offset 55: entry header length 0D 00, data length 04 00, type 05,
    // name 41 and seven 00, version 00, flags 00, data length 04 00, size
    // word 02 00, body 01 02:
    // 0x0D + 0x04 + 0x05 + 0x41 + 0x04 + 0x02 + 0x01 + 0x02 = 0x60.
    EXPECT_EQ(WordAt(file, 76), 0x0060);
    std::uint16_t checksum = 0;
    ASSERT_TRUE(songfile::ComputeTiChecksum(file, &checksum));
    EXPECT_EQ(checksum, 0x0060);
}

TEST(ProgramFileTest, ChecksumKeepsTheLowSixteenBits) {
    Bytes file = test_support::ProgramFile(Bytes(300, 0xFF), "A");
    // 300 x 0xFF = 76500; header 0x0D, data length 302 = 2E 01 twice,
    // type 05, name 41, size word 300 = 2C 01:
    // 76500 + 13 + 2 x (46 + 1) + 5 + 65 + (44 + 1) = 76722 = 0x12BB2.
    EXPECT_EQ(WordAt(file, file.size() - 2), 0x2BB2);
}

TEST(ProgramFileTest, HeaderFieldsSitAtTheirOffsets) {
    songfile::TiProgramSpec spec;
    spec.name = "FENKSONG";
    spec.comment = "Hello";
    spec.type = 0x06;
    spec.version = 0x04;
    spec.flags = 0x80;
    spec.body = Bytes(10, 0xAA);
    Bytes file = songfile::BuildTiProgramFile(spec).value;
    ASSERT_EQ(file.size(), 74u + 10 + 2);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "**TI83F*");
    EXPECT_EQ(file[8], 0x1A);
    EXPECT_EQ(file[9], 0x0A);
    EXPECT_EQ(file[10], 0x00);
    EXPECT_EQ(std::string(file.begin() + 11, file.begin() + 16), "Hello");
    EXPECT_EQ(file[16], 0);
    EXPECT_EQ(WordAt(file, 53), file.size() - 57);  // the data section
    EXPECT_EQ(WordAt(file, 55), 13);                // entry header length
    EXPECT_EQ(WordAt(file, 57), 12);                // body + size word
    EXPECT_EQ(file[59], 0x06);
    EXPECT_EQ(std::string(file.begin() + 60, file.begin() + 68), "FENKSONG");
    EXPECT_EQ(file[68], 0x04);
    EXPECT_EQ(file[69], 0x80);
    EXPECT_EQ(WordAt(file, 70), 12);
    EXPECT_EQ(WordAt(file, 72), 10);
    EXPECT_EQ(file[74], 0xAA);
}

TEST(ProgramFileTest, LongNameAndCommentAreCut) {
    test_support::TempDir dir;
    std::string path = dir.Write(
        "long.8xp", test_support::ProgramFile({1}, "TOOLONGNAME", std::string(50, 'x')));
    songfile::ReadResult read = songfile::ReadTiProgramFile(path.c_str());
    ASSERT_EQ(read.failure, songfile::ReadFailure::None);
    EXPECT_EQ(songfile::NameText(read.value), "TOOLONGN");
    EXPECT_EQ(songfile::CommentText(read.value), std::string(42, 'x'));
}

TEST(ProgramFileTest, LargestBodyFillsEveryLengthField) {
    songfile::TiProgramSpec spec;
    spec.body = Bytes(songfile::kMaxProgramBody, 1);
    const fenk::Result<Bytes> built = songfile::BuildTiProgramFile(spec);
    ASSERT_TRUE(built.ok());
    const Bytes& file = built.value;
    EXPECT_EQ(WordAt(file, 53), 0xFFFF);
    EXPECT_EQ(WordAt(file, 70), songfile::kMaxProgramBody + 2);

    spec.body.push_back(1);
    EXPECT_FALSE(songfile::BuildTiProgramFile(spec).ok());
}

TEST(ProgramFileTest, ChecksumNeedsTheWholeDataSection) {
    Bytes file = test_support::ProgramFile({1, 2, 3});
    std::uint16_t checksum = 0x5555;
    EXPECT_FALSE(songfile::ComputeTiChecksum(Bytes(file.begin(), file.end() - 1), &checksum));
    EXPECT_FALSE(songfile::ComputeTiChecksum(Bytes(file.begin(), file.begin() + 54), &checksum));
    EXPECT_EQ(checksum, 0x5555);
    // The data section length, not the file size, says where the sum ends.
    Bytes padded = file;
    padded.insert(padded.end(), {0xFF, 0xFF});
    ASSERT_TRUE(songfile::ComputeTiChecksum(padded, &checksum));
    EXPECT_EQ(checksum, WordAt(file, file.size() - 2));
}

// --- BuildSong -----------------------------------------------------------------

TEST(BuildSongTest, LaysOutHeaderOrderListAndSections) {
    songfile::SongSource source;
    source.title = "T";
    source.artist = "Ar";
    source.album = "";
    source.sections = {{Row(1, 2, 3, 4, 0x0506)}, {}};
    source.order = {1, 0, 1};
    songfile::BuildSongResult built = songfile::BuildSong(source);
    ASSERT_TRUE(built.ok()) << built.reason;
    // The album's NUL is at 11, the order list of 3 entries and its 0 at
    // 12..19, then section 0 (a row and the end row) at 20, section 1 at 32.
    Bytes expected = test_support::Join({
        test_support::Text("FENK1"), {0}, test_support::Text("T"), {0},
        test_support::Text("Ar"), {0}, {0},
        test_support::Word(32), test_support::Word(20), test_support::Word(32),
        test_support::Word(0),
        {1, 2, 3, 4, 0x06, 0x05}, {0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0},
    });
    EXPECT_EQ(built.value.body, expected);
}

class BuildSongFailureTest : public ::testing::Test {
protected:
    BuildSongFailureTest() {
        source.title = "Title";
        source.sections = {{Row(10, 0, 0, 0, 1)}};
        source.order = {0};
    }
    void ExpectFailure() {
        songfile::BuildSongResult built = songfile::BuildSong(source);
        EXPECT_FALSE(built.ok());
        EXPECT_FALSE(built.reason.empty());
        EXPECT_TRUE(built.value.body.empty());
    }
    songfile::SongSource source;
};

TEST_F(BuildSongFailureTest, ValidSourceBuilds) { EXPECT_TRUE(songfile::BuildSong(source).ok()); }
TEST_F(BuildSongFailureTest, NulInsideAText) {
    source.artist = std::string("a\0b", 3);
    ExpectFailure();
}
TEST_F(BuildSongFailureTest, OrderIndexOutOfRange) {
    source.order = {0, 1};
    ExpectFailure();
}
TEST_F(BuildSongFailureTest, ZeroDurationInsideASection) {
    source.sections[0].push_back(Row(10, 0, 0, 0, 0));
    ExpectFailure();
}
TEST_F(BuildSongFailureTest, SongTooLargeForAProgram) {
    // 6 + "Title" 6 + 2 NULs + 2 order entries = 18 bytes, then the rows.
    std::size_t rows = (songfile::kMaxProgramBody - 18) / songfile::kRowBytes;  // with the end row
    source.sections[0].assign(rows - 1, Row(10, 0, 0, 0, 1));
    ASSERT_TRUE(songfile::BuildSong(source).ok());
    source.sections[0].push_back(Row(10, 0, 0, 0, 1));
    ExpectFailure();
}

}  // namespace
