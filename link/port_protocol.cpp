// The link port's packets, which the SilverLink cable passes through as
// bytes: a machine id, a command, a 16-bit little-endian length, and for
// the commands that carry data, the data and the low 16 bits of its sum,
// little-endian. A silent send from the PC (machine id 0x23 for the TI-83
// Plus and 84 Plus families; they answer with 0x73): RDY, its ACK (whose
// length word is the calculator's status), RTS with the variable's header,
// ACK, CTS (or SKP with the reason it refuses), ACK, the data, ACK, EOT.
#include <cstdio>
#include <utility>

#include "link/internal.h"

namespace tilink {
namespace {

constexpr std::uint8_t kFromPc = 0x23;
constexpr std::uint8_t kFromCalculator = 0x73;

constexpr std::uint8_t kVar = 0x06;
constexpr std::uint8_t kCts = 0x09;
constexpr std::uint8_t kData = 0x15;
constexpr std::uint8_t kSkip = 0x36;
constexpr std::uint8_t kId = 0x47;
constexpr std::uint8_t kAck = 0x56;
constexpr std::uint8_t kChecksumError = 0x5A;
constexpr std::uint8_t kReady = 0x68;
constexpr std::uint8_t kEnd = 0x92;
constexpr std::uint8_t kRequest = 0xA2;
constexpr std::uint8_t kChecksumError2 = 0xB4;
constexpr std::uint8_t kIndex = 0xB7;
constexpr std::uint8_t kRts = 0xC9;

// Times a packet is sent again on the calculator's checksum error before
// the transfer gives up.
constexpr int kMostResends = 3;

std::string Hex8(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

bool CarriesData(std::uint8_t command) {
    switch (command) {
    case kVar: case kData: case kSkip: case kId: case kRequest: case kIndex: case kRts:
        return true;
    default:
        return false;
    }
}

Bytes ShortPacket(std::uint8_t command) {
    return Bytes{kFromPc, command, 0x00, 0x00};
}

Bytes DataPacket(std::uint8_t command, const Bytes& data) {
    // Reserved, then appended: GCC 12 at -O2 takes an insert after a
    // four-byte initializer list for a write past its end (-Warray-bounds).
    Bytes packet;
    packet.reserve(4 + data.size() + 2);
    packet.push_back(kFromPc);
    packet.push_back(command);
    packet.push_back(static_cast<std::uint8_t>(data.size()));
    packet.push_back(static_cast<std::uint8_t>(data.size() >> 8));
    packet.insert(packet.end(), data.begin(), data.end());
    std::uint16_t sum = 0;
    for (std::uint8_t byte : data) sum = static_cast<std::uint16_t>(sum + byte);
    packet.push_back(static_cast<std::uint8_t>(sum));
    packet.push_back(static_cast<std::uint8_t>(sum >> 8));
    return packet;
}

// Sends a packet the calculator acknowledges, keeping it for a resend.
void SendAcknowledged(Transfer& transfer, Bytes packet, PortState::Phase awaiting) {
    PortState& port = transfer.state->port;
    port.lastPacket = packet;
    port.resends = 0;
    port.phase = awaiting;
    Queue(transfer, std::move(packet));
}

Bytes RtsData(const Variable& variable) {
    // Size (little-endian), type, the name NUL-padded to 8 bytes, version,
    // and 0x80 for an archived variable.
    const std::size_t size = variable.data.size();
    Bytes data{static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8), variable.type};
    Bytes name(8, 0);
    for (std::size_t i = 0; i < variable.name.size() && i < 8; ++i)
        name[i] = static_cast<std::uint8_t>(variable.name[i]);
    data.insert(data.end(), name.begin(), name.end());
    data.push_back(variable.version);
    data.push_back(variable.archived ? 0x80 : 0x00);
    return data;
}

void Refused(Transfer& transfer, std::uint8_t code) {
    const std::string& name = transfer.state->variable.name;
    switch (code) {
    case 1:
        Fail(transfer, FailureKind::Refused, Calculator(transfer) + " cancelled the transfer of " + name);
        return;
    case 2:
        Fail(transfer, FailureKind::Refused,
             Calculator(transfer) + " skipped " + name + ": it keeps a variable of that name it will not replace");
        return;
    case 3:
        Fail(transfer, FailureKind::OutOfMemory,
             Calculator(transfer) + " has no room for " + name + " (" +
                 std::to_string(transfer.state->variable.data.size()) +
                 " bytes): delete or archive something (2nd MEM, Mem Mgmt/Del) and send again");
        return;
    case 4:
        Fail(transfer, FailureKind::Refused, Calculator(transfer) + " refused " + name + ": its OS cannot hold this version of it");
        return;
    default:
        Fail(transfer, FailureKind::Refused,
             Calculator(transfer) + " refused " + name + " (reason " + std::to_string(code) + ")");
        return;
    }
}

void TakePacket(Transfer& transfer, std::uint8_t command, std::uint16_t length, const Bytes& data) {
    Transfer::State& state = *transfer.state;
    PortState& port = state.port;
    const auto unexpected = [&] {
        Fail(transfer, FailureKind::Protocol,
             Calculator(transfer) + " sent command " + Hex8(command) + " out of turn: try again");
    };

    if ((command == kChecksumError || command == kChecksumError2) &&
        (port.phase == PortState::Phase::RtsAck || port.phase == PortState::Phase::DataAck ||
         port.phase == PortState::Phase::Ready)) {
        // The calculator got the packet damaged and asks for it again.
        if (++port.resends > kMostResends) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " got the packet damaged " + std::to_string(kMostResends + 1) +
                     " times: check the cable and send again");
            return;
        }
        Queue(transfer, port.lastPacket);
        return;
    }

    switch (port.phase) {
    case PortState::Phase::Ready:
        if (command != kAck) return unexpected();
        // The ACK's length word is the calculator's status: bit 8 set, busy.
        if (length & 0x0100) {
            Fail(transfer, FailureKind::Busy,
                 Calculator(transfer) + " is busy: leave any menu or program (2nd QUIT) so that it shows its home screen, and send again");
            return;
        }
        SendAcknowledged(transfer, DataPacket(kRts, RtsData(state.variable)), PortState::Phase::RtsAck);
        return;
    case PortState::Phase::RtsAck:
        if (command != kAck) return unexpected();
        port.phase = PortState::Phase::Cts;
        return;
    case PortState::Phase::Cts:
        if (command == kSkip) {
            Queue(transfer, ShortPacket(kAck));
            Refused(transfer, data.empty() ? 0 : data[0]);
            return;
        }
        if (command != kCts) return unexpected();
        Queue(transfer, ShortPacket(kAck));
        SendAcknowledged(transfer, DataPacket(kData, state.variable.data), PortState::Phase::DataAck);
        return;
    case PortState::Phase::DataAck:
        if (command != kAck) return unexpected();
        transfer.bytesSent = transfer.bytesTotal;
        // The EOT ends the send; the known-good sender does not wait for
        // its acknowledgement.
        Queue(transfer, ShortPacket(kEnd));
        port.phase = PortState::Phase::Finished;
        Finish(transfer);
        return;
    case PortState::Phase::Finished:
        return;
    }
}

}  // namespace

void StartPort(Transfer& transfer) {
    SendAcknowledged(transfer, ShortPacket(kReady), PortState::Phase::Ready);
}

void TakePortBytes(Transfer& transfer) {
    Transfer::State& state = *transfer.state;
    for (;;) {
        if (state.failed || state.done) return;
        Bytes& inbox = state.inbox;
        if (inbox.size() < 4) return;
        if (inbox[0] != kFromCalculator) {
            Fail(transfer, FailureKind::Protocol,
                 "a packet came from machine id " + Hex8(inbox[0]) +
                     ", not from a TI-83 Plus or TI-84 Plus: is another calculator model on the cable?");
            return;
        }
        const std::uint8_t command = inbox[1];
        const std::uint16_t length = static_cast<std::uint16_t>(inbox[2] | (inbox[3] << 8));
        std::size_t whole = 4;
        Bytes data;
        if (CarriesData(command)) {
            whole = 4 + std::size_t{length} + 2;
            if (inbox.size() < whole) return;
            data.assign(inbox.begin() + 4, inbox.begin() + 4 + length);
            std::uint16_t sum = 0;
            for (std::uint8_t byte : data) sum = static_cast<std::uint16_t>(sum + byte);
            const std::uint16_t stored = static_cast<std::uint16_t>(inbox[4 + length] | (inbox[5 + length] << 8));
            if (sum != stored) {
                Fail(transfer, FailureKind::Protocol,
                     Calculator(transfer) + " sent a packet with a wrong checksum: check the cable and send again");
                return;
            }
        }
        inbox.erase(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(whole));
        TakePacket(transfer, command, length, data);
    }
}

}  // namespace tilink
