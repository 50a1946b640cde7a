// The song check and the bounded accessors the sequencer reads through.
#include <gtest/gtest.h>

#include "songfile/songfile.h"
#include "tests/support/test_support.h"

namespace {

using songfile::OrderEntryAt;
using songfile::RowAt;
using songfile::SongRow;
using songfile::SongView;
using test_support::Bytes;
using test_support::Join;
using test_support::Text;
using test_support::Word;

// "FENK1", byte 5, three empty texts: the order list starts at 9.
Bytes Header() { return Join({Text("FENK1"), {0, 0, 0, 0}}); }

// Views over the first `length` bytes of `buffer` only. The bytes after
// them are a valid continuation, so an accessor that reads past the block
// would see plausible data there rather than crash.
SongView ViewOfPrefix(const Bytes& buffer, std::size_t length) {
    songfile::ParseResult parsed = songfile::ParseSong(buffer.data(), length);
    EXPECT_TRUE(parsed.ok());
    return parsed.value;
}

void ExpectRow(const SongRow& row, const SongRow& expected) {
    for (int voice = 0; voice < 4; ++voice) {
        EXPECT_EQ(row.periods[voice], expected.periods[voice]) << "voice " << voice;
    }
    EXPECT_EQ(row.duration, expected.duration);
}

// Walks the song as the sequencer does: order entries until a 0, and in
// each section rows until one of duration 0.
std::vector<std::vector<SongRow>> Walk(const SongView& song) {
    std::vector<std::vector<SongRow>> played;
    for (std::size_t position = song.orderList;; position += 2) {
        std::uint16_t section = OrderEntryAt(song, position);
        if (section == 0) break;
        played.emplace_back();
        for (std::size_t offset = section;; offset += songfile::kRowBytes) {
            SongRow row = RowAt(song, offset);
            if (row.duration == 0) break;
            played.back().push_back(row);
        }
    }
    return played;
}

// --- ParseSong ---------------------------------------------------------------

TEST(ParseSongTest, SignatureAndThreeNulsGiveEmptyTexts) {
    Bytes block = Header();
    songfile::ParseResult parsed = songfile::ParseSong(block.data(), block.size());
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(songfile::TitleText(parsed.value), "");
    EXPECT_EQ(songfile::ArtistText(parsed.value), "");
    EXPECT_EQ(songfile::AlbumText(parsed.value), "");
    EXPECT_EQ(parsed.value.orderList, 9u);
    // The block ends where its order list starts: a song with no sections.
    EXPECT_EQ(OrderEntryAt(parsed.value, parsed.value.orderList), 0);
}

TEST(ParseSongTest, TextsFollowEachOtherFromOffsetSix) {
    // Byte 5 is not looked at, whatever it holds.
    Bytes block = Join({Text("FENK1"), {0xFF}, Text("Tune"), {0}, Text("Me"), {0},
                        Text("Hits"), {0}, Word(0)});
    songfile::ParseResult parsed = songfile::ParseSong(block.data(), block.size());
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(songfile::TitleText(parsed.value), "Tune");
    EXPECT_EQ(songfile::ArtistText(parsed.value), "Me");
    EXPECT_EQ(songfile::AlbumText(parsed.value), "Hits");
    EXPECT_EQ(parsed.value.orderList, 6u + 5 + 3 + 5);
}

class NotASongTest : public ::testing::Test {
protected:
    static bool Parses(const Bytes& buffer, std::size_t length) {
        return songfile::ParseSong(buffer.data(), length).ok();
    }
    static bool Parses(const Bytes& block) { return Parses(block, block.size()); }
};

TEST_F(NotASongTest, EmptyBlock) { EXPECT_FALSE(songfile::ParseSong(nullptr, 0).ok()); }
TEST_F(NotASongTest, ShorterThanTheSignature) { EXPECT_FALSE(Parses(Header(), 4)); }
TEST_F(NotASongTest, OtherVersionDigit) {
    EXPECT_FALSE(Parses(Join({Text("FENK2"), {0, 0, 0, 0}})));
}
TEST_F(NotASongTest, LowerCaseSignature) {
    EXPECT_FALSE(Parses(Join({Text("fenk1"), {0, 0, 0, 0}})));
}
TEST_F(NotASongTest, SignatureAloneHasNoTitle) { EXPECT_FALSE(Parses(Header(), 5)); }
TEST_F(NotASongTest, TitleWithoutNul) {
    EXPECT_FALSE(Parses(Join({Text("FENK1"), {0}, Text("Endless")})));
}
TEST_F(NotASongTest, ArtistWithoutNul) { EXPECT_FALSE(Parses(Header(), 7)); }
TEST_F(NotASongTest, AlbumWithoutNulInsideTheBlock) {
    // The album's NUL is the first byte after the block.
    Bytes buffer = Join({Text("FENK1"), {0}, Text("T"), {0}, Text("A"), {0},
                         Text("Album"), {0}});
    EXPECT_FALSE(Parses(buffer, buffer.size() - 1));
}

// --- Order list ----------------------------------------------------------------

TEST(OrderEntryTest, ListWithoutItsZeroEntryEndsAtTheBlockEndAndAnOddByteIsNoEntry) {
    const Bytes buffer = Join({Header(), Word(0x1234), Word(0x0040)});
    for (std::size_t cut : {2, 1}) {
        SCOPED_TRACE(cut);
        SongView song = ViewOfPrefix(buffer, buffer.size() - cut);
        EXPECT_EQ(OrderEntryAt(song, 9), 0x1234);
        EXPECT_EQ(OrderEntryAt(song, 11), 0);
    }
}

TEST(OrderEntryTest, PositionFarOutsideTheBlockIsTheEnd) {
    Bytes block = Join({Header(), Word(0x1234)});
    SongView song = ViewOfPrefix(block, block.size());
    EXPECT_EQ(OrderEntryAt(song, 1000), 0);
    EXPECT_EQ(OrderEntryAt(song, SIZE_MAX), 0);
}

// --- Rows ----------------------------------------------------------------------

TEST(RowTest, RowIsFourPeriodsAndALittleEndianDuration) {
    Bytes block = Join({Header(), Word(11), {1, 2, 254, 0}, Word(0x0302)});
    SongView song = ViewOfPrefix(block, block.size());
    ExpectRow(RowAt(song, 11), test_support::Row(1, 2, 254, 0, 0x0302));
}

TEST(RowTest, RowEndingExactlyAtTheBlockEndIsRead) {
    Bytes block = Join({Header(), Word(11), {9, 9, 9, 9}, Word(7)});
    SongView song = ViewOfPrefix(block, block.size());
    EXPECT_EQ(RowAt(song, block.size() - 6).duration, 7);
}

TEST(RowTest, RowStraddlingTheBlockEndEndsItsSection) {
    Bytes buffer = Join({Header(), Word(11), {9, 9, 9, 9}, Word(7)});
    SongView song = ViewOfPrefix(buffer, buffer.size() - 1);
    ExpectRow(RowAt(song, 11), SongRow{});
}

TEST(RowTest, SectionOffsetOutsideTheBlockIsAnEmptySection) {
    Bytes block = Join({Header(), Word(11), {9, 9, 9, 9}, Word(7)});
    SongView song = ViewOfPrefix(block, block.size());
    EXPECT_EQ(RowAt(song, block.size()).duration, 0);
    EXPECT_EQ(RowAt(song, 0xFFFF).duration, 0);
    EXPECT_EQ(RowAt(song, SIZE_MAX).duration, 0);
}

TEST(RowTest, SectionsMayOverlapTheHeader) {
    // Offset 1 reads "ENK1" as periods and the 0 at 5 and the title's
    // first character as the duration: odd, but inside the block.
    Bytes block = Join({Text("FENK1"), {0}, Text("\x01"), {0, 0, 0}, Word(1), Word(0)});
    SongView song = ViewOfPrefix(block, block.size());
    ExpectRow(RowAt(song, 1), test_support::Row('E', 'N', 'K', '1', 0x0100));
}

// --- Whole songs through the file --------------------------------------------

TEST(SongRoundTripTest, FileReadBackPlaysTheSectionsInOrder) {
    test_support::SongParts parts;
    parts.title = "Frere Jacques";
    parts.artist = "Traditional";
    parts.album = "Rounds";
    parts.name = "JACQUES";
    parts.comment = "four voices";
    parts.sections = {
        {test_support::Row(120, 0, 60, 0, 40), test_support::Row(107, 0, 53, 0, 40)},
        {},  // empty: still a section of the order list
        {test_support::Row(95, 80, 71, 60, 65535)},
    };
    parts.order = {0, 2, 0, 1};

    test_support::TempDir dir;
    std::string path = dir.Write("jacques.8xp", test_support::SongFile(parts));
    songfile::ReadResult read = songfile::ReadTiProgramFile(path.c_str());
    ASSERT_EQ(read.failure, songfile::ReadFailure::None);
    EXPECT_EQ(songfile::NameText(read.value), "JACQUES");
    EXPECT_EQ(songfile::CommentText(read.value), "four voices");
    songfile::ParseResult parsed =
        songfile::ParseSong(read.value.data.data(), read.value.data.size());
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(songfile::TitleText(parsed.value), "Frere Jacques");
    EXPECT_EQ(songfile::ArtistText(parsed.value), "Traditional");
    EXPECT_EQ(songfile::AlbumText(parsed.value), "Rounds");

    // A section listed twice is the same bytes, so the same offset.
    EXPECT_EQ(OrderEntryAt(parsed.value, parsed.value.orderList),
              OrderEntryAt(parsed.value, parsed.value.orderList + 4));

    std::vector<std::vector<SongRow>> played = Walk(parsed.value);
    ASSERT_EQ(played.size(), parts.order.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        const std::vector<SongRow>& expected = parts.sections[parts.order[i]];
        ASSERT_EQ(played[i].size(), expected.size()) << "order entry " << i;
        for (std::size_t r = 0; r < expected.size(); ++r) ExpectRow(played[i][r], expected[r]);
    }
}

TEST(SongRoundTripTest, TruncatedFilePlaysOnlyWhatIsThere) {
    test_support::SongParts parts;
    parts.sections = {{test_support::Row(1, 1, 1, 1, 5), test_support::Row(2, 2, 2, 2, 5)}};
    parts.order = {0};
    Bytes file = test_support::SongFile(parts);
    file.resize(file.size() - 2 - 6 - 1);  // checksum, end row, a byte of row 2

    test_support::TempDir dir;
    std::string path = dir.Write("cut.8xp", file);
    songfile::ReadResult read = songfile::ReadTiProgramFile(path.c_str());
    ASSERT_EQ(read.failure, songfile::ReadFailure::None);
    EXPECT_TRUE(songfile::IsTruncated(read.value));
    songfile::ParseResult parsed =
        songfile::ParseSong(read.value.data.data(), read.value.data.size());
    ASSERT_TRUE(parsed.ok());
    std::vector<std::vector<SongRow>> played = Walk(parsed.value);
    ASSERT_EQ(played.size(), 1u);
    ASSERT_EQ(played[0].size(), 1u);
    EXPECT_EQ(played[0][0].periods[0], 1);
}

}  // namespace
