// The program file reader: good files, files cut short or with a wrong
// signature, and paths that are no regular file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "songfile/songfile.h"
#include "tests/support/test_support.h"

namespace {

using songfile::ReadFailure;
using songfile::ReadResult;
using test_support::Bytes;

class ReaderTest : public ::testing::Test {
protected:
    ReadResult Read(const Bytes& bytes) {
        return songfile::ReadTiProgramFile(dir.Write("song.8xp", bytes).c_str());
    }
    // A failed read hands back nothing of what it had read so far.
    static void ExpectEmpty(const ReadResult& result) {
        EXPECT_EQ(songfile::NameText(result.value), "");
        EXPECT_EQ(songfile::CommentText(result.value), "");
        EXPECT_EQ(result.value.declaredLength, 0);
        EXPECT_TRUE(result.value.data.empty());
    }

    test_support::TempDir dir;
};

TEST_F(ReaderTest, ReadsNameCommentAndTheBlockWithTheChecksumBytes) {
    Bytes file = test_support::ProgramFile({1, 2, 3}, "TUNE", "Made by hand");
    ReadResult result = Read(file);
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(songfile::NameText(result.value), "TUNE");
    EXPECT_EQ(songfile::CommentText(result.value), "Made by hand");
    // L counts the size word, so the block runs onto the two checksum bytes.
    EXPECT_EQ(result.value.declaredLength, 5);
    EXPECT_EQ(result.value.data, (Bytes{1, 2, 3, file[77], file[78]}));
    EXPECT_FALSE(songfile::IsTruncated(result.value));
}

TEST_F(ReaderTest, EightCharacterNameIsUsedWhole) {
    ReadResult result = Read(test_support::ProgramFile({}, "ABCDEFGH"));
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(songfile::NameText(result.value), "ABCDEFGH");
    EXPECT_EQ(result.value.name[8], '\0');
}

TEST_F(ReaderTest, AllNulCommentIsEmpty) {
    ReadResult result = Read(test_support::ProgramFile({7}, "A", ""));
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(songfile::CommentText(result.value), "");
}

TEST_F(ReaderTest, CommentWithoutNulIsAllFortyTwoCharacters) {
    const std::string comment(42, 'c');
    ReadResult result = Read(test_support::ProgramFile({7}, "A", comment));
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(songfile::CommentText(result.value), comment);
}

TEST_F(ReaderTest, ZeroLengthGivesAnEmptyBlock) {
    Bytes file = test_support::ProgramFile({1, 2, 3});
    file[70] = 0;  // L
    file[71] = 0;
    ReadResult result = Read(file);
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_TRUE(result.value.data.empty());
    EXPECT_FALSE(songfile::IsTruncated(result.value));
}

TEST_F(ReaderTest, LengthIsLittleEndianAndBoundsTheBlock) {
    // L = 0x0102 = 258 of a 300-byte body: the rest of the file is left.
    Bytes body(300);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i);
    Bytes file = test_support::ProgramFile(body);
    file[70] = 0x02;
    file[71] = 0x01;
    ReadResult result = Read(file);
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(result.value.declaredLength, 258);
    EXPECT_EQ(result.value.data, Bytes(body.begin(), body.begin() + 258));
}

TEST_F(ReaderTest, VariableThatIsNoProgramIsReadLikeAnyOther) {
    songfile::TiProgramSpec spec;
    spec.name = "L1";
    spec.type = 0x15;  // an application variable
    spec.body = {9, 8};
    ReadResult result = Read(songfile::BuildTiProgramFile(spec).value);
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(songfile::NameText(result.value), "L1");
    EXPECT_EQ(result.value.data.size(), 4u);
}

TEST_F(ReaderTest, LinkToAProgramFileIsRead) {
    std::string target = dir.Write("real.8xp", test_support::ProgramFile({5}, "LINKED"));
    std::string link = dir.File("link.8xp");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ReadResult result = songfile::ReadTiProgramFile(link.c_str());
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(songfile::NameText(result.value), "LINKED");
}

// --- Files that end early --------------------------------------------------

TEST_F(ReaderTest, FileEndingInsideTheBlockKeepsTheBytesRead) {
    Bytes file = test_support::ProgramFile({10, 20, 30, 40});
    file.resize(file.size() - 3);  // the checksum and the last body byte
    ReadResult result = Read(file);
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(result.value.declaredLength, 6);
    EXPECT_EQ(result.value.data, (Bytes{10, 20, 30}));
    EXPECT_TRUE(songfile::IsTruncated(result.value));
}

TEST_F(ReaderTest, FileEndingInsideTheSizeWordHasAnEmptyTruncatedBlock) {
    Bytes file = test_support::ProgramFile({10, 20});
    file.resize(73);
    ReadResult result = Read(file);
    ASSERT_EQ(result.failure, ReadFailure::None);
    EXPECT_EQ(result.value.declaredLength, 4);
    EXPECT_TRUE(result.value.data.empty());
    EXPECT_TRUE(songfile::IsTruncated(result.value));
}

// Files cut to their first N bytes, all before L is complete.
class ShortFileTest : public ReaderTest,
                      public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ShortFileTest, IsNotAProgramFile) {
    Bytes file = test_support::ProgramFile({1, 2, 3}, "NAME", "comment");
    file.resize(GetParam());
    ReadResult result = Read(file);
    EXPECT_EQ(result.failure, ReadFailure::NotTiProgram);
    ExpectEmpty(result);
}

// Empty, inside the signature, the signature alone, inside the comment,
// inside the skipped header, inside the name, inside version/flags, with
// L missing, and with only L's low byte.
INSTANTIATE_TEST_SUITE_P(CutAt, ShortFileTest,
                         ::testing::Values(0, 5, 10, 11, 30, 54, 65, 69, 70, 71));

// Each signature byte changed on its own.
class SignatureTest : public ReaderTest,
                      public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SignatureTest, DifferentByteIsNotAProgramFile) {
    Bytes file = test_support::ProgramFile({1, 2, 3});
    file[GetParam()] ^= 0x20;
    ReadResult result = Read(file);
    EXPECT_EQ(result.failure, ReadFailure::NotTiProgram);
    ExpectEmpty(result);
}

INSTANTIATE_TEST_SUITE_P(AtByte, SignatureTest, ::testing::Range<std::size_t>(0, 11));

TEST_F(ReaderTest, OlderModelSignatureIsNotAProgramFile) {
    Bytes file = test_support::ProgramFile({1});
    const char older[] = "**TI83**";  // the TI-83's own files
    std::copy(older, older + 8, file.begin());
    EXPECT_EQ(Read(file).failure, ReadFailure::NotTiProgram);
}

// --- Paths that cannot be opened as a file ---------------------------------

TEST_F(ReaderTest, MissingFileCannotBeOpened) {
    ReadResult result = songfile::ReadTiProgramFile(dir.File("absent.8xp").c_str());
    EXPECT_EQ(result.failure, ReadFailure::OpenFailed);
    ExpectEmpty(result);
}

TEST_F(ReaderTest, DirectoryCannotBeOpened) {
    EXPECT_EQ(songfile::ReadTiProgramFile(dir.Path().c_str()).failure,
              ReadFailure::OpenFailed);
}

TEST_F(ReaderTest, DeviceCannotBeOpened) {
    if (access("/dev/zero", R_OK) != 0) GTEST_SKIP() << "no readable /dev/zero";
    // Endless zeros would never end the block, nor fail the signature.
    EXPECT_EQ(songfile::ReadTiProgramFile("/dev/zero").failure,
              ReadFailure::OpenFailed);
}

TEST_F(ReaderTest, FifoCannotBeOpenedAndDoesNotBlock) {
    std::string path = dir.File("pipe.8xp");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto reading = std::async(std::launch::async, [&path] {
        return songfile::ReadTiProgramFile(path.c_str());
    });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the reader is blocked on the FIFO";
        // Release it: a writer that comes and goes lets its open return.
        int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
    }
    EXPECT_EQ(reading.get().failure, ReadFailure::OpenFailed);
}

TEST_F(ReaderTest, UnreadableFileCannotBeOpened) {
    std::string path = dir.Write("locked.8xp", test_support::ProgramFile({1}));
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    if (access(path.c_str(), R_OK) == 0) {
        GTEST_SKIP() << "this user (root?) can read a file without permissions";
    }
    EXPECT_EQ(songfile::ReadTiProgramFile(path.c_str()).failure,
              ReadFailure::OpenFailed);
}

}  // namespace
