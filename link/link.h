// Sending a program variable to a TI calculator: the link protocols, with
// no I/O of their own.
//
// A transfer is a state machine. The caller (fenk-send over libusb, the
// page over WebUSB, the tests over a scripted calculator) asks it what to do
// next with Next(), does that on its own transport, and tells it what came
// of it with Wrote(), Read() or ReadTimedOut(), until Next() says Done or
// Failed. Time is the caller's too: every call takes the time of the moment,
// in milliseconds on any steady clock, so a test runs a transfer as fast as
// it likes and a stall still ends (within kStallMilliseconds).
//
//     tilink::Transfer transfer = tilink::StartTransfer(device, variable, now);
//     for (;;) {
//         tilink::Step step = tilink::Next(transfer, Now());
//         if (step.kind == tilink::StepKind::Write) {
//             bool ok = BulkOut(step.endpoint, step.bytes);
//             tilink::Wrote(transfer, ok, Now());
//         } else if (step.kind == tilink::StepKind::Read) {
//             std::vector<uint8_t> got;
//             if (BulkIn(step.endpoint, step.maxBytes, step.timeoutMs, &got))
//                 tilink::Read(transfer, got, Now());
//             else
//                 tilink::ReadTimedOut(transfer, Now());
//         } else {
//             break;  // Done, or Failed with transfer's reason
//         }
//     }
//
// Two protocols: the link port's packets (machine id, command, length,
// data, checksum), which the SilverLink cable passes through as bytes, and
// the calculators' own USB protocol (raw packets with the buffer size
// handshake, virtual packets carrying the mode set, the variable's
// parameters, its contents and the end of transmission).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"

namespace tilink {

// ---------------------------------------------------------------------------
// Devices

// The ways a computer reaches a calculator.
enum class DeviceKind {
    SilverLink,   // TI's SilverLink (TI-GRAPH LINK USB) cable to a link port
    Ti84PlusUsb,  // a TI-84 Plus or 84 Plus Silver Edition's own USB port
    Ti84PlusCeUsb,  // a TI-84 Plus CE, 83 Premium CE or 84 Plus C SE's own port
};

// What the link library knows of a device by its USB id.
struct DeviceInfo {
    DeviceKind kind;
    std::uint16_t vendorId;   // 0x0451 (Texas Instruments)
    std::uint16_t productId;  // 0xe001, 0xe003 or 0xe008
    const char* name;         // for people: "TI-84 Plus", "SilverLink cable"
    const char* calculator;   // what "Sent ... to the %s." names: "TI-84 Plus",
                              // "TI-84 Plus CE", "calculator" for a cable
    std::uint8_t outEndpoint;  // bulk OUT endpoint address (0x02 on all three)
    std::uint8_t inEndpoint;   // bulk IN endpoint address (0x81 on all three)
    std::size_t readSize;      // bytes a read asks for: whole USB packets (64;
                               // the SilverLink's 32), since a read asking
                               // for less than a packet loses the rest of it
};

// Every device the library can send to, one entry per USB id.
const std::vector<DeviceInfo>& KnownDevices();

// The device with this USB id, or null when it is none of KnownDevices().
const DeviceInfo* FindDevice(std::uint16_t vendorId, std::uint16_t productId);

// ---------------------------------------------------------------------------
// What is sent

// A program variable as a program file holds it.
struct Variable {
    std::string name;       // as stored: at most 8 bytes, no NUL padding
    std::uint8_t type = 0x05;  // 0x05 program, 0x06 protected program
    std::uint8_t version = 0;
    bool archived = false;  // the file's flag byte has bit 7 set
    std::vector<std::uint8_t> data;  // the variable's data: size word and body
};

// The first variable of the program file (.8xp) held in `bytes`, as the
// songfile module reads it: name, type, version, archived flag (bit 7 of
// the flags byte) and data. Fails with the reader's reason when the bytes
// are no program file or end inside the variable's data.
fenk::Result<Variable> VariableFromProgramFile(const std::vector<std::uint8_t>& bytes);

// ---------------------------------------------------------------------------
// A transfer

// Why a transfer failed; each has a message a person can act on.
enum class FailureKind {
    None,
    OutOfMemory,   // the calculator has no room; the USB calculators are
                   // then asked for their free RAM, which the message gives
                   // (the link port's refusal carries no figure)
    Busy,          // the calculator is busy or not on its home screen
    Unplugged,     // a write or read failed: the cable or calculator is gone
    Timeout,       // nothing came back for kStallMilliseconds (a delay the
                   // calculator asked for does not count)
    Refused,       // the calculator answered with an error code
    Protocol,      // the calculator answered something the protocol does not allow
    BadVariable,   // the variable cannot be sent (no name, too large)
};

// A transfer with no answer for this long fails with Timeout.
constexpr std::uint64_t kStallMilliseconds = 10000;

enum class StepKind {
    Write,  // send `bytes` to `endpoint` in one bulk transfer (may be empty:
            // a zero-length packet), then call Wrote()
    Read,   // read up to `maxBytes` from `endpoint`, waiting at most
            // `timeoutMs`, then call Read() or ReadTimedOut()
    Wait,   // do nothing until `timeoutMs` from now (a delay the calculator
            // asked for), then call Next() again
    Done,   // the variable is on the calculator
    Failed, // the transfer ended: see Transfer::failure and Transfer::reason
            // (set as soon as it failed, while the acknowledgement of the
            // calculator's error packet may still be a Write step away)
};

struct Step {
    StepKind kind = StepKind::Failed;
    std::uint8_t endpoint = 0;
    std::vector<std::uint8_t> bytes;  // Write only
    std::size_t maxBytes = 0;         // Read only
    std::uint64_t timeoutMs = 0;      // Read and Wait
};

// The state of one transfer. Fields other than those below are the
// library's own; read only these.
struct Transfer {
    FailureKind failure = FailureKind::None;
    // When Failed: one line for people, in lower case and without a
    // program's name, naming the calculator ("the TI-84 Plus has no room
    // for DEMO (1000 bytes; it has 300 bytes free): delete or archive
    // something (2nd MEM, Mem Mgmt/Del) and send again"); fenk-send and the
    // page say it as it is.
    std::string reason;
    std::size_t bytesSent = 0;   // the variable's bytes acknowledged so far
    std::size_t bytesTotal = 0;  // the variable's bytes in all
    std::size_t packetsSent = 0; // bulk transfers written so far (a
                                 // zero-length packet counts)

    // The library's own state.
    struct State;
    std::shared_ptr<State> state;
};

// A transfer of `variable` to `device`, starting at time `nowMs`. A
// variable that cannot be sent (a name not of 1 to 8 bytes, data not of 2
// to 65535 bytes) gives a transfer already Failed with BadVariable, before
// any packet.
Transfer StartTransfer(const DeviceInfo& device, const Variable& variable,
                       std::uint64_t nowMs);

// What the caller is to do next.
Step Next(Transfer& transfer, std::uint64_t nowMs);

// The Write step's result: `ok` false when the transport failed.
void Wrote(Transfer& transfer, bool ok, std::uint64_t nowMs);
// The Read step's bytes (possibly fewer than asked for, or none: a
// zero-length packet).
void Read(Transfer& transfer, const std::vector<std::uint8_t>& bytes,
          std::uint64_t nowMs);
// The Read step gave nothing within its time.
void ReadTimedOut(Transfer& transfer, std::uint64_t nowMs);
// The transport itself failed (device gone) during a read.
void ReadFailed(Transfer& transfer, std::uint64_t nowMs);

}  // namespace tilink
