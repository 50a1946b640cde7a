// The sender against the scripted calculator's faults, and the scripted
// calculator against hosts that break its protocol: each fault must end in
// the right failure with a reason a person can act on, on the fake clock,
// or be ridden out (a delay, a resend, short reads) with the variable stored.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "tests/link/scripted_calculator.h"
#include "tests/support/test_support.h"

namespace {

using test_support::Bytes;
using ::testing::HasSubstr;
using tilink::DeviceKind;
using tilink::FailureKind;

constexpr DeviceKind kAllKinds[] = {DeviceKind::SilverLink, DeviceKind::Ti84PlusUsb, DeviceKind::Ti84PlusCeUsb};

// A program of `dataLength` bytes of data (size word included).
tilink::Variable Program(std::size_t dataLength = 1000, const std::string& name = "DEMO") {
    Bytes body(dataLength - 2);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 13 + 1);
    const fenk::Result<tilink::Variable> variable =
        tilink::VariableFromProgramFile(test_support::ProgramFile(body, name));
    EXPECT_TRUE(variable.ok()) << variable.reason;
    return variable.value;
}

scripted::Fault Fault(scripted::FaultKind kind, std::uint32_t value = 0) {
    scripted::Fault fault;
    fault.kind = kind;
    fault.value = value;
    return fault;
}

std::string Name(DeviceKind kind) {
    return kind == DeviceKind::SilverLink ? "SilverLink" : kind == DeviceKind::Ti84PlusUsb ? "TI-84 Plus" : "TI-84 Plus CE";
}

struct Outcome {
    scripted::DriveResult run;
    scripted::Calculator calculator;
};

Outcome Send(DeviceKind kind, const std::vector<scripted::Fault>& faults, const tilink::Variable& variable = Program()) {
    Outcome outcome{{}, scripted::MakeCalculator(kind, faults)};
    outcome.run = scripted::DriveTransfer(outcome.calculator, variable);
    return outcome;
}

void ExpectStored(const Outcome& outcome, const tilink::Variable& variable) {
    EXPECT_EQ(outcome.run.transfer.failure, FailureKind::None) << outcome.run.transfer.reason;
    ASSERT_EQ(scripted::Stored(outcome.calculator).size(), 1u);
    const scripted::StoredVariable& stored = scripted::Stored(outcome.calculator)[0];
    EXPECT_EQ(stored.name, variable.name);
    EXPECT_EQ(stored.data, variable.data);
    EXPECT_EQ(scripted::Violations(outcome.calculator), std::vector<std::string>{});
}

void ExpectFailed(const Outcome& outcome, FailureKind kind, const std::string& words) {
    EXPECT_EQ(outcome.run.transfer.failure, kind) << outcome.run.transfer.reason;
    EXPECT_THAT(outcome.run.transfer.reason, HasSubstr(words));
    EXPECT_TRUE(scripted::Stored(outcome.calculator).empty());
    EXPECT_EQ(scripted::Violations(outcome.calculator), std::vector<std::string>{});
    // Failed is final: the transfer asks for nothing more.
    tilink::Transfer transfer = outcome.run.transfer;
    EXPECT_EQ(tilink::Next(transfer, outcome.run.clockMs + 1).kind, tilink::StepKind::Failed);
}

TEST(LinkFaultTest, RefusalsEndWithTheirReasons) {
    for (DeviceKind kind : kAllKinds) {
        SCOPED_TRACE(Name(kind));
        const bool usb = kind != DeviceKind::SilverLink;
        // Out of memory: the USB calculators are asked how much is free.
        ExpectFailed(Send(kind, {Fault(scripted::FaultKind::OutOfMemory, 300)}), FailureKind::OutOfMemory,
                     usb ? "has no room for DEMO (1000 bytes; it has 300 bytes free)" : "has no room for DEMO (1000 bytes)");
        ExpectFailed(Send(kind, {Fault(scripted::FaultKind::Busy)}), FailureKind::Busy, "shows its home screen");
        ExpectFailed(Send(kind, {Fault(scripted::FaultKind::ErrorCode, usb ? 0x0012 : 2)}), FailureKind::Refused,
                     usb ? "refused DEMO (error 0x0012: a variable of that name is locked or archived)"
                         : "skipped DEMO: it keeps a variable of that name");
    }
}

TEST(LinkFaultTest, AStallOrAPulledCableEndsTheTransferWithinTenSeconds) {
    for (DeviceKind kind : kAllKinds) {
        SCOPED_TRACE(Name(kind));
        for (std::uint32_t after : {0u, 1u, 3u}) {
            SCOPED_TRACE("silent after " + std::to_string(after) + " writes");
            const Outcome silent = Send(kind, {Fault(scripted::FaultKind::Silence, after)});
            ExpectFailed(silent, FailureKind::Timeout, "did not answer for 10 seconds");
            EXPECT_GE(silent.run.clockMs, tilink::kStallMilliseconds);
            EXPECT_LE(silent.run.clockMs, tilink::kStallMilliseconds + 100);
        }
        // Gone at the first write, and gone while the answer to a later
        // one is read.
        for (std::uint32_t after : {0u, 2u}) {
            const Outcome gone = Send(kind, {Fault(scripted::FaultKind::Gone, after)});
            ExpectFailed(gone, FailureKind::Unplugged,
                         std::string("the connection to the ") +
                             (kind == DeviceKind::SilverLink ? "calculator" : Name(kind)) +
                             " was lost: check that the cable is plugged in");
            EXPECT_LT(gone.run.clockMs, 100u);
        }
    }
}

TEST(LinkFaultTest, ShortReadsAndAsksForAgainAreRiddenOut) {
    const tilink::Variable variable = Program(3000);
    for (DeviceKind kind : kAllKinds) {
        SCOPED_TRACE(Name(kind));
        ExpectStored(Send(kind, {Fault(scripted::FaultKind::ShortReads, 3)}, variable), variable);
    }
    // The link port's checksum error: the data packet goes out again, as
    // often as asked, and a fourth time is too many.
    const Outcome resent = Send(DeviceKind::SilverLink, {Fault(scripted::FaultKind::Resend, 2)}, variable);
    ExpectStored(resent, variable);
    std::size_t dataPackets = 0;
    for (const Bytes& write : scripted::HostWrites(resent.calculator))
        if (write.size() > 2 && write[1] == 0x15) ++dataPackets;
    EXPECT_EQ(dataPackets, 3u);
    ExpectFailed(Send(DeviceKind::SilverLink, {Fault(scripted::FaultKind::Resend, 4)}, variable), FailureKind::Protocol,
                 "got the packet damaged 4 times");
}

TEST(LinkFaultTest, ADelayRequestIsHonoured) {
    const tilink::Variable variable = Program();
    for (DeviceKind kind : {DeviceKind::Ti84PlusUsb, DeviceKind::Ti84PlusCeUsb}) {
        SCOPED_TRACE(Name(kind));
        // The scripted calculator records a violation for a packet that
        // comes before the delay is over.
        const Outcome delayed = Send(kind, {Fault(scripted::FaultKind::Delay, 300)}, variable);
        ExpectStored(delayed, variable);
        EXPECT_EQ(delayed.run.waitedMs, 300u);
        // And the delay does not count against the stall timer: a delay
        // is no silence.
        EXPECT_EQ(delayed.run.transfer.failure, FailureKind::None);
    }
}

TEST(LinkFaultTest, AVariableThatCannotBeSentIsRefusedBeforeAnyPacket) {
    tilink::Variable nameless = Program();
    nameless.name.clear();
    tilink::Variable tooLong = Program();
    tooLong.name = "NINECHARS";
    tilink::Variable tooLarge = Program();
    tooLarge.data.resize(65536);
    for (const tilink::Variable& variable : {nameless, tooLong, tooLarge}) {
        scripted::Calculator calculator = scripted::MakeCalculator(DeviceKind::Ti84PlusUsb);
        const scripted::DriveResult run = scripted::DriveTransfer(calculator, variable);
        EXPECT_EQ(run.transfer.failure, FailureKind::BadVariable);
        EXPECT_FALSE(run.transfer.reason.empty());
        EXPECT_TRUE(scripted::Exchange(calculator).empty());
    }
    // A program file that ends inside its data gives no variable at all.
    Bytes file = test_support::ProgramFile(Bytes(100, 1), "CUT");
    file.resize(file.size() - 10);
    const fenk::Result<tilink::Variable> cut = tilink::VariableFromProgramFile(file);
    EXPECT_FALSE(cut.ok());
    EXPECT_EQ(cut.reason, "the file ends inside the variable's data");
    EXPECT_FALSE(tilink::VariableFromProgramFile(Bytes(80, 0)).ok());
}

// A TI-84 Plus may ask for a buffer size of its own in place of an
// acknowledgement: it is given what it asks for, and the packets after
// follow it; one too small for a packet's header ends the transfer.
TEST(LinkFaultTest, ACalculatorsOwnBufferSizeRequestIsAnswered) {
    const tilink::DeviceInfo& ti84 = *tilink::FindDevice(0x0451, 0xe003);
    for (std::uint8_t size : {std::uint8_t{100}, std::uint8_t{6}}) {
        tilink::Transfer transfer = tilink::StartTransfer(ti84, Program(600), 0);
        const auto write = [&] {
            tilink::Step step = tilink::Next(transfer, 0);
            EXPECT_EQ(step.kind, tilink::StepKind::Write);
            tilink::Wrote(transfer, true, 0);
            return step.bytes;
        };
        EXPECT_EQ(write(), (Bytes{0, 0, 0, 4, 1, 0, 0, 4, 0}));  // the PC offers 1024
        tilink::Read(transfer, {0, 0, 0, 4, 2, 0, 0, 0, 250}, 0);
        EXPECT_EQ(write().size(), 5u + 6u + 10u);  // the mode set
        tilink::Read(transfer, {0, 0, 0, 4, 1, 0, 0, 0, size}, 0);
        if (size == 6) {
            EXPECT_EQ(tilink::Next(transfer, 0).kind, tilink::StepKind::Failed);
            EXPECT_EQ(transfer.failure, FailureKind::Protocol);
            EXPECT_THAT(transfer.reason, HasSubstr("asked for a buffer of 6 bytes"));
            continue;
        }
        EXPECT_EQ(write(), (Bytes{0, 0, 0, 4, 2, 0, 0, 0, 100}));
        tilink::Read(transfer, {0, 0, 0, 2, 5, 0xE0, 0x00}, 0);  // the mode set's acknowledgement
        tilink::Read(transfer, {0, 0, 0, 6, 4, 0, 0, 0, 0, 0x00, 0x12}, 0);
        EXPECT_EQ(write(), (Bytes{0, 0, 0, 2, 5, 0xE0, 0x00}));
        EXPECT_EQ(write()[4], 4);  // the request to send, small enough for one packet
        tilink::Read(transfer, {0, 0, 0, 2, 5, 0xE0, 0x00}, 0);
        tilink::Read(transfer, {0, 0, 0, 6, 4, 0, 0, 0, 0, 0xAA, 0x00}, 0);
        EXPECT_EQ(write(), (Bytes{0, 0, 0, 2, 5, 0xE0, 0x00}));
        // The contents go in raw packets of the 100 bytes asked for.
        const Bytes first = write();
        EXPECT_EQ(first.size(), 5u + 100u);
        EXPECT_EQ(first[4], 3);
    }
}

// ---------------------------------------------------------------------------
// The scripted calculator is strict: hosts that break the protocol are
// caught. Each case replays a correct send's writes, one of them changed.

// Replays `writes`, reading everything the calculator has after each one
// with reads of `readSize` bytes; returns the violations.
std::vector<std::string> Replay(DeviceKind kind, const std::vector<Bytes>& writes, std::size_t readSize = 64,
                                bool readAfterEach = true) {
    scripted::Calculator calculator = scripted::MakeCalculator(kind);
    for (const Bytes& write : writes) {
        scripted::HostWrite(calculator, 0x02, write, 0);
        while (readAfterEach && !scripted::HostRead(calculator, 0x81, readSize, 0).bytes.empty()) {
        }
    }
    return scripted::Violations(calculator);
}

std::vector<Bytes> CorrectWrites(DeviceKind kind, const tilink::Variable& variable) {
    scripted::Calculator calculator = scripted::MakeCalculator(kind);
    const scripted::DriveResult run = scripted::DriveTransfer(calculator, variable);
    EXPECT_EQ(run.transfer.failure, FailureKind::None) << run.transfer.reason;
    return scripted::HostWrites(calculator);
}

TEST(ScriptedCalculatorTest, CatchesHostsThatBreakTheUsbProtocol) {
    const tilink::Variable variable = Program(600);
    const std::vector<Bytes> writes = CorrectWrites(DeviceKind::Ti84PlusUsb, variable);
    ASSERT_TRUE(Replay(DeviceKind::Ti84PlusUsb, writes).empty());
    // writes: 0 buffer size, 1 mode set, 2 ack, 3 RTS, 4 ack, 5.. contents.

    std::vector<Bytes> noModeSet = writes;
    noModeSet.erase(noModeSet.begin() + 1, noModeSet.begin() + 3);
    EXPECT_THAT(Replay(DeviceKind::Ti84PlusUsb, noModeSet), ::testing::Contains(HasSubstr("before the mode set")));

    std::vector<Bytes> twoInOne = writes;
    twoInOne[5].insert(twoInOne[5].end(), twoInOne[6].begin(), twoInOne[6].end());
    twoInOne.erase(twoInOne.begin() + 6);
    EXPECT_THAT(Replay(DeviceKind::Ti84PlusUsb, twoInOne),
                ::testing::Contains(HasSubstr("each raw packet goes in one bulk transfer")));

    // The CE's buffer, 1018 bytes, is too large for a TI-84 Plus.
    const std::vector<Bytes> ceWrites = CorrectWrites(DeviceKind::Ti84PlusCeUsb, Program(3000));
    EXPECT_THAT(Replay(DeviceKind::Ti84PlusUsb, ceWrites),
                ::testing::Contains(HasSubstr("more than the 250 the calculator takes")));

    // Not reading the answers: each packet goes out before the last was read.
    EXPECT_THAT(Replay(DeviceKind::Ti84PlusUsb, writes, 64, false),
                ::testing::Contains(HasSubstr("written before the calculator's answer was read")));

    // A read of less than a USB packet loses the rest of it.
    EXPECT_THAT(Replay(DeviceKind::Ti84PlusUsb, writes, 5), ::testing::Contains(HasSubstr("bytes are lost")));

    // On the CE, a 64-byte bulk transfer not ended by a zero-length packet.
    const tilink::Variable fills64 = Program(53);
    std::vector<Bytes> ceExact = CorrectWrites(DeviceKind::Ti84PlusCeUsb, fills64);
    std::size_t before = ceExact.size();
    for (std::size_t i = 0; i < ceExact.size(); ++i) {
        if (ceExact[i].empty()) {
            ceExact.erase(ceExact.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    ASSERT_EQ(ceExact.size(), before - 1) << "the 53-byte variable's contents end on a USB packet";
    EXPECT_THAT(Replay(DeviceKind::Ti84PlusCeUsb, ceExact),
                ::testing::AllOf(::testing::Contains(HasSubstr("waits for the zero-length packet")),
                                 ::testing::Contains(HasSubstr("not ended by a zero-length packet"))));
}

TEST(ScriptedCalculatorTest, CatchesHostsThatBreakTheLinkPortProtocol) {
    const tilink::Variable variable = Program(200);
    const std::vector<Bytes> writes = CorrectWrites(DeviceKind::SilverLink, variable);
    // writes: RDY, RTS, ACK (of the CTS), data, EOT.
    ASSERT_EQ(writes.size(), 5u);
    ASSERT_TRUE(Replay(DeviceKind::SilverLink, writes, 32).empty());

    std::vector<Bytes> badSum = writes;
    badSum[3].back() ^= 0x01;
    EXPECT_THAT(Replay(DeviceKind::SilverLink, badSum, 32), ::testing::Contains(HasSubstr("checksum")));

    std::vector<Bytes> noAck = writes;
    noAck.erase(noAck.begin() + 2);
    EXPECT_THAT(Replay(DeviceKind::SilverLink, noAck, 32),
                ::testing::Contains(HasSubstr("data before the CTS was acknowledged")));

    // The cable passes bytes: the same stream cut anywhere is the same send.
    Bytes stream;
    for (const Bytes& write : writes) stream.insert(stream.end(), write.begin(), write.end());
    scripted::Calculator calculator = scripted::MakeCalculator(DeviceKind::SilverLink);
    std::size_t at = 0;
    for (std::size_t piece : {1u, 3u, 7u, 30u}) {
        const Bytes part(stream.begin() + static_cast<std::ptrdiff_t>(at),
                         stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + piece)));
        scripted::HostWrite(calculator, 0x02, part, 0);
        at += part.size();
    }
    // (Written without reading: the calculator notices, and still stores.)
    scripted::HostWrite(calculator, 0x02, Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end()), 0);
    ASSERT_EQ(scripted::Stored(calculator).size(), 1u);
    EXPECT_EQ(scripted::Stored(calculator)[0].data, variable.data);
}

TEST(ScriptedCalculatorTest, ParsesFaultsAsTiCalcSimTakesThem) {
    scripted::Fault fault;
    std::string error;
    ASSERT_TRUE(scripted::ParseFault("out-of-memory=300", DeviceKind::Ti84PlusUsb, &fault, &error));
    EXPECT_EQ(fault.kind, scripted::FaultKind::OutOfMemory);
    EXPECT_EQ(fault.value, 300u);
    ASSERT_TRUE(scripted::ParseFault("error=0x27", DeviceKind::Ti84PlusCeUsb, &fault, &error));
    EXPECT_EQ(fault.value, 0x27u);
    ASSERT_TRUE(scripted::ParseFault("resend", DeviceKind::SilverLink, &fault, &error));
    EXPECT_EQ(fault.value, 1u);
    EXPECT_FALSE(scripted::ParseFault("delay=100", DeviceKind::SilverLink, &fault, &error));
    EXPECT_THAT(error, HasSubstr("only the USB calculators"));
    EXPECT_FALSE(scripted::ParseFault("delay", DeviceKind::Ti84PlusUsb, &fault, &error));
    EXPECT_FALSE(scripted::ParseFault("gone=x", DeviceKind::Ti84PlusUsb, &fault, &error));
    EXPECT_FALSE(scripted::ParseFault("melt", DeviceKind::Ti84PlusUsb, &fault, &error));
}

}  // namespace
