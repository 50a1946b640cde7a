// What the two protocols share: the transfer's state, its queue of writes,
// the bytes received and not yet taken apart, and the way a transfer ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/link.h"

namespace tilink {

using Bytes = std::vector<std::uint8_t>;

// The calculators' own USB protocol, as far as one transfer has come.
struct UsbState {
    enum class Phase {
        BufferSize,    // the buffer size request is out; waiting for the allocation
        SendingPacket, // a virtual packet's raw packets go out, each acknowledged
        AwaitReply,    // waiting for the calculator's virtual packet
        Finished,
    };
    Phase phase = Phase::BufferSize;
    std::size_t rawMax = 0;  // payload bytes the calculator allocated per raw packet
    int stage = 0;           // 0 mode set, 1 request to send, 2 contents, 3 end
    std::deque<Bytes> fragments;  // the current virtual packet's raw packets not yet sent
    std::size_t fragmentBytes = 0;  // the variable's bytes in the raw packet out
    bool firstFragment = false;     // the next raw packet carries the virtual header
    std::uint16_t expected = 0;   // the virtual packet type awaited
    Bytes reply;                  // the calculator's virtual packet so far
    bool replyStarted = false;
    bool askedFreeMemory = false;  // after an out-of-memory error
};

// The link port's packets through the SilverLink cable.
struct PortState {
    enum class Phase {
        Ready,       // RDY out, waiting for its ACK
        RtsAck,      // RTS out, waiting for its ACK
        Cts,         // waiting for CTS (or SKP)
        DataAck,     // the data out, waiting for its ACK
        Finished,
    };
    Phase phase = Phase::Ready;
    Bytes lastPacket;  // what a checksum error asks to have sent again
    int resends = 0;
};

struct Transfer::State {
    DeviceInfo device{};
    Variable variable;
    std::deque<Bytes> outbox;  // writes to make, each one bulk transfer
    Bytes inbox;               // bytes read and not yet taken apart
    std::uint64_t lastHeard = 0;  // last time the link made progress
    std::uint64_t waitUntil = 0;  // a delay the calculator asked for ends here
    bool waiting = false;
    bool done = false;
    bool failed = false;
    UsbState usb;
    PortState port;
};

// Ends the transfer with `kind` and `reason` (the first failure stands).
void Fail(Transfer& transfer, FailureKind kind, const std::string& reason);
// Queues one bulk transfer.
void Queue(Transfer& transfer, Bytes bytes);
// Ends the transfer: the variable is on the calculator.
void Finish(Transfer& transfer);

// Where the calculator's name goes in a reason: "the TI-84 Plus".
std::string Calculator(const Transfer& transfer);

// Each protocol: its first packets, and what to do with the bytes in the
// inbox (taking whole packets out of it and leaving a partial one).
void StartUsb(Transfer& transfer);
void TakeUsbBytes(Transfer& transfer, std::uint64_t nowMs);
void StartPort(Transfer& transfer);
void TakePortBytes(Transfer& transfer);

// The largest variable either protocol carries (a 16-bit size on the link
// port; the calculators' RAM is smaller still).
constexpr std::size_t kMaxVariableBytes = 65535;

}  // namespace tilink
