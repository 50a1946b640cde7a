// Files from our writer, read by libtifiles, the file library of the TI link
// software: a second opinion on every header field and the checksum.
#include <gtest/gtest.h>

// ticonv.h, which tifiles.h includes, uses C99's `restrict`; C++ spells it
// __restrict.
#define restrict __restrict
#include <tifiles.h>
#undef restrict

#include <cstring>

#include "songfile.h"
#include "test_support.h"

namespace {

using test_support::Bytes;

class PeerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tifiles_library_init(); }
    static void TearDownTestSuite() { tifiles_library_exit(); }

    // Writes `file` under the TI-83 Plus program extension, which libtifiles
    // takes the calculator model from.
    std::string Write(const Bytes& file) { return dir.Write("peer.8xp", file); }

    test_support::TempDir dir;
};

TEST_F(PeerTest, ReadsOurSongFileAsATi83PlusProgram) {
    test_support::SongParts parts;
    parts.title = "Ode";
    parts.sections = {{test_support::Row(120, 96, 80, 60, 50)}};
    parts.order = {0, 0};
    parts.name = "FENKSONG";
    parts.comment = "Written by the Fenk tests";
    Bytes body = test_support::SongBody(parts);
    std::string path = Write(test_support::SongFile(parts));

    EXPECT_TRUE(tifiles_file_is_ti(path.c_str()));
    EXPECT_TRUE(tifiles_file_is_regular(path.c_str()));
    EXPECT_EQ(tifiles_file_get_model(path.c_str()), CALC_TI83P);

    FileContent* content = tifiles_content_create_regular(CALC_TI83P);
    ASSERT_NE(content, nullptr);
    ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0);
    EXPECT_STREQ(content->comment, "Written by the Fenk tests");
    EXPECT_EQ(content->checksum, content->stored_checksum);
    ASSERT_EQ(content->num_entries, 1u);
    const VarEntry* entry = content->entries[0];
    EXPECT_STREQ(entry->name, "FENKSONG");
    EXPECT_EQ(entry->type, 0x05);
    // Its variable data is our size word and the body.
    ASSERT_EQ(entry->size, body.size() + 2);
    EXPECT_EQ(entry->data[0] | (entry->data[1] << 8), static_cast<int>(body.size()));
    EXPECT_EQ(std::memcmp(entry->data + 2, body.data(), body.size()), 0);
    tifiles_content_delete_regular(content);
}

TEST_F(PeerTest, ReadsVersionFlagsAndAShortName) {
    songfile::TiProgramSpec spec;
    spec.name = "AB";
    spec.version = 0x04;
    spec.flags = 0x80;  // archived
    spec.type = 0x06;   // protected program
    spec.body = {0xBB, 0xCC};
    std::string path = Write(songfile::BuildTiProgramFile(spec));

    FileContent* content = tifiles_content_create_regular(CALC_TI83P);
    ASSERT_NE(content, nullptr);
    ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0);
    ASSERT_EQ(content->num_entries, 1u);
    const VarEntry* entry = content->entries[0];
    EXPECT_STREQ(entry->name, "AB");
    EXPECT_EQ(entry->type, 0x06);
    EXPECT_EQ(entry->version, 0x04);
    EXPECT_EQ(entry->attr, ATTRB_ARCHIVED);
    EXPECT_EQ(entry->size, 4u);
    tifiles_content_delete_regular(content);
}

// The agreement above means something only if the peer checks the sum.
TEST_F(PeerTest, NoticesAWrongChecksum) {
    Bytes file = test_support::ProgramFile({1, 2, 3});
    file.back() ^= 0x01;
    std::string path = Write(file);
    FileContent* content = tifiles_content_create_regular(CALC_TI83P);
    ASSERT_NE(content, nullptr);
    int error = tifiles_file_read_regular(path.c_str(), content);
    EXPECT_TRUE(error != 0 || content->checksum != content->stored_checksum);
    tifiles_content_delete_regular(content);
}

}  // namespace
