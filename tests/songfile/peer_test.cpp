// Files from our writer, read by libtifiles, the file library of the TI link
// software: a second opinion on every header field and the checksum.
#include <gtest/gtest.h>

#include "songfile/songfile.h"
#include "tests/support/test_support.h"
#include "tests/songfile/tifiles_peer.h"

namespace {

using test_support::Bytes;

class PeerTest : public ::testing::Test {
protected:
    // Writes `file` under the TI-83 Plus program extension, which libtifiles
    // takes the calculator model from, and reads it back.
    tifiles_peer::Reading WriteAndRead(const Bytes& file) {
        return tifiles_peer::Read(dir.Write("peer.8xp", file));
    }

    test_support::TempDir dir;
};

TEST_F(PeerTest, ReadsOurSongFileAsATi83PlusProgram) {
    test_support::SongParts parts;
    parts.title = "Ode";
    parts.sections = {{test_support::Row(120, 96, 80, 60, 50)}};
    parts.order = {0, 0};
    parts.name = "FENKSONG";
    parts.comment = "Written by the Fenk tests";
    const Bytes body = test_support::SongBody(parts);
    const tifiles_peer::Reading peer = WriteAndRead(test_support::SongFile(parts));

    EXPECT_TRUE(peer.isTiFile);
    ASSERT_TRUE(tifiles_peer::ExpectOneProgram(peer, "FENKSONG", "Written by the Fenk tests"));
    // Its variable data is our size word and the body.
    EXPECT_EQ(peer.data, test_support::Join({test_support::Word(static_cast<std::uint16_t>(body.size())), body}));
}

TEST_F(PeerTest, ReadsVersionFlagsAndAShortName) {
    songfile::TiProgramSpec spec;
    spec.name = "AB";
    spec.version = 0x04;
    spec.flags = 0x80;  // archived
    spec.type = 0x06;   // protected program
    spec.body = {0xBB, 0xCC};
    const tifiles_peer::Reading peer = WriteAndRead(songfile::BuildTiProgramFile(spec).value);

    ASSERT_TRUE(peer.read);
    ASSERT_EQ(peer.entries, 1u);
    EXPECT_EQ(peer.name, "AB");
    EXPECT_EQ(peer.type, 0x06);
    EXPECT_EQ(peer.version, 0x04);
    EXPECT_TRUE(peer.archived);
    EXPECT_EQ(peer.data.size(), 4u);
}

// The agreement above means something only if the peer checks the sum.
TEST_F(PeerTest, NoticesAWrongChecksum) {
    Bytes file = test_support::ProgramFile({1, 2, 3});
    file.back() ^= 0x01;
    const tifiles_peer::Reading peer = WriteAndRead(file);
    EXPECT_TRUE(!peer.read || !peer.checksumMatches);
}

}  // namespace
