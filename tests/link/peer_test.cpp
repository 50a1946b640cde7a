// Our sender against Debian's libticalcs, whose stream is known to work
// with real calculators: both send the same files into the same scripted
// calculator, which must store each file's variable exactly (as libtifiles
// reads it from the file), and ours must write byte for byte what
// libticalcs writes, for each kind of device.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/link.h"
#include "tests/link/large_song.h"
#include "tests/link/scripted_calculator.h"
#include "tests/link/ticalcs_peer.h"
#include "tests/songfile/tifiles_peer.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Bytes;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Programs whose data lands on the fragments' edges: 53 bytes fill a CE
// bulk transfer to 64 bytes; 744 fill a TI-84 Plus's first raw packet and
// two more exactly; 1071 leave a CE last packet of 64 bytes; 2030 fill a
// CE's first raw packet and one more exactly.
Bytes EdgeProgram(std::size_t dataLength, const std::string& name) {
    Bytes body(dataLength - 2);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return test_support::ProgramFile(body, name);
}

std::string KindName(tilink::DeviceKind kind) {
    switch (kind) {
    case tilink::DeviceKind::SilverLink: return "SilverLink";
    case tilink::DeviceKind::Ti84PlusUsb: return "Ti84Plus";
    case tilink::DeviceKind::Ti84PlusCeUsb: return "Ti84PlusCe";
    }
    return "?";
}

class LinkPeerTest : public ::testing::TestWithParam<tilink::DeviceKind> {
protected:
    // The files sent: the demo songs, the large song, the edge programs.
    std::vector<std::string> Files() {
        std::vector<std::string> files = {std::string(FENK_DEMO_SONGS_DIR) + "/demo.8xp",
                                          std::string(FENK_DEMO_SONGS_DIR) + "/frere-jacques.8xp",
                                          dir.Write("large.8xp", link_test::LargeSong())};
        for (std::size_t length : {53u, 744u, 1071u, 2030u})
            files.push_back(dir.Write("edge" + std::to_string(length) + ".8xp",
                                      EdgeProgram(length, "E" + std::to_string(length))));
        // An archived, protected program of version 4: every field of the
        // variable's header is carried.
        songfile::TiProgramSpec archived;
        archived.name = "KEPT";
        archived.type = 0x06;
        archived.version = 0x04;
        archived.flags = 0x80;
        archived.body = {0xBB, 0x6D, 0x3F, 0xDE, 0x2A};
        files.push_back(dir.Write("kept.8xp", songfile::BuildTiProgramFile(archived).value));
        return files;
    }

    void ExpectStoredAsTheFileHolds(const scripted::Calculator& calculator, const std::string& path) {
        const tifiles_peer::Reading file = tifiles_peer::Read(path);
        ASSERT_TRUE(file.read) << path;
        ASSERT_EQ(scripted::Stored(calculator).size(), 1u) << path;
        const scripted::StoredVariable& stored = scripted::Stored(calculator)[0];
        EXPECT_EQ(stored.name, file.name);
        EXPECT_EQ(stored.type, file.type);
        EXPECT_EQ(stored.version, file.version);
        EXPECT_EQ(stored.archived, file.archived);
        EXPECT_EQ(stored.data, file.data) << path;
    }

    test_support::TempDir dir;
};

TEST_P(LinkPeerTest, SendsEveryFileByteForByteAsLibticalcsDoes) {
    const tilink::DeviceKind kind = GetParam();
    for (const std::string& path : Files()) {
        SCOPED_TRACE(path);
        scripted::Calculator theirs = scripted::MakeCalculator(kind);
        const ticalcs_peer::Run peer = ticalcs_peer::Send(theirs, kind, path);
        ASSERT_TRUE(peer.ok) << peer.error;
        EXPECT_EQ(scripted::Violations(theirs), std::vector<std::string>{});
        ExpectStoredAsTheFileHolds(theirs, path);

        const fenk::Result<tilink::Variable> variable = tilink::VariableFromProgramFile(ReadFile(path));
        ASSERT_TRUE(variable.ok()) << variable.reason;
        scripted::Calculator ours = scripted::MakeCalculator(kind);
        const scripted::DriveResult run = scripted::DriveTransfer(ours, variable.value);
        ASSERT_EQ(run.transfer.failure, tilink::FailureKind::None) << run.transfer.reason;
        EXPECT_EQ(scripted::Violations(ours), std::vector<std::string>{});
        ExpectStoredAsTheFileHolds(ours, path);
        EXPECT_EQ(run.transfer.bytesSent, run.transfer.bytesTotal);

        const std::vector<Bytes> theirWrites = scripted::HostWrites(theirs);
        const std::vector<Bytes> ourWrites = scripted::HostWrites(ours);
        if (kind == tilink::DeviceKind::SilverLink) {
            // The cable passes bytes: libticalcs cuts its packets into
            // chunks of its own, so the stream is what must agree.
            Bytes theirStream, ourStream;
            for (const Bytes& write : theirWrites) theirStream.insert(theirStream.end(), write.begin(), write.end());
            for (const Bytes& write : ourWrites) ourStream.insert(ourStream.end(), write.begin(), write.end());
            EXPECT_EQ(ourStream, theirStream);
        } else {
            EXPECT_EQ(ourWrites, theirWrites);
        }
        EXPECT_EQ(run.transfer.packetsSent, ourWrites.size());
    }
}

// Given the same replies, the same packets: the calculator asks for a
// delay, refuses, is busy or full. Where ours goes further than libticalcs
// (asking a full USB calculator how much it has free; sending a damaged
// packet again where libticalcs gives up), libticalcs's packets are where
// ours begin.
TEST_P(LinkPeerTest, AnswersTheCalculatorsRefusalsAsLibticalcsDoes) {
    const tilink::DeviceKind kind = GetParam();
    const bool usb = kind != tilink::DeviceKind::SilverLink;
    const std::string path = std::string(FENK_DEMO_SONGS_DIR) + "/demo.8xp";
    const fenk::Result<tilink::Variable> variable = tilink::VariableFromProgramFile(ReadFile(path));
    ASSERT_TRUE(variable.ok()) << variable.reason;
    struct Case {
        scripted::FaultKind kind;
        std::uint32_t value;
        bool oursGoOn;
    };
    std::vector<Case> cases = {{scripted::FaultKind::Busy, 0, false},
                               {scripted::FaultKind::ErrorCode, usb ? 0x0012u : 2u, false},
                               {scripted::FaultKind::OutOfMemory, 10, usb}};
    if (usb) {
        cases.push_back({scripted::FaultKind::Delay, 300, false});
    } else {
        cases.push_back({scripted::FaultKind::Resend, 1, true});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE("fault " + std::to_string(static_cast<int>(c.kind)));
        scripted::Fault fault;
        fault.kind = c.kind;
        fault.value = c.value;
        scripted::Calculator theirs = scripted::MakeCalculator(kind, {fault});
        ticalcs_peer::Send(theirs, kind, path);
        scripted::Calculator ours = scripted::MakeCalculator(kind, {fault});
        const scripted::DriveResult run = scripted::DriveTransfer(ours, variable.value);
        EXPECT_EQ(scripted::Violations(theirs), std::vector<std::string>{});
        EXPECT_EQ(scripted::Violations(ours), std::vector<std::string>{});
        // Only the delay leaves anything stored; ours rides out the resend too.
        EXPECT_EQ(scripted::Stored(ours).size(),
                  c.kind == scripted::FaultKind::Delay || c.kind == scripted::FaultKind::Resend ? 1u : 0u);

        Bytes theirStream, ourStream;
        for (const Bytes& write : scripted::HostWrites(theirs)) theirStream.insert(theirStream.end(), write.begin(), write.end());
        for (const Bytes& write : scripted::HostWrites(ours)) ourStream.insert(ourStream.end(), write.begin(), write.end());
        if (c.oursGoOn) {
            ASSERT_GT(ourStream.size(), theirStream.size());
            ourStream.resize(theirStream.size());
        }
        EXPECT_EQ(ourStream, theirStream);
        if (usb && !c.oursGoOn) {
            EXPECT_EQ(scripted::HostWrites(ours), scripted::HostWrites(theirs));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, LinkPeerTest,
                         ::testing::Values(tilink::DeviceKind::SilverLink, tilink::DeviceKind::Ti84PlusUsb,
                                           tilink::DeviceKind::Ti84PlusCeUsb),
                         [](const ::testing::TestParamInfo<tilink::DeviceKind>& info) { return KindName(info.param); });

}  // namespace
