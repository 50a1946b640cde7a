// A scripted calculator for the tests: the far end of a link, playing one
// kind of tilink::KnownDevices() (a TI-83 Plus family calculator behind a
// SilverLink cable, a TI-84 Plus or a TI-84 Plus CE on its own USB port).
//
// It is strict: it records a violation, with its reason, for every packet a
// host sends that the calculator's protocol does not allow — a wrong
// checksum, the handshake out of order, a raw packet larger than the buffer
// it allocated, a command before the mode set, a packet sent before the
// calculator's last answer was read and acknowledged, a raw packet split
// over bulk transfers or two in one, a read that asks for less than a whole
// USB packet (whose rest the calculator then loses, as real hardware does),
// a missing zero-length packet on the CE. It stores what a correct send
// gives it, byte for byte, and can be told to misbehave (see Fault).
//
// Time is the host's: every call carries the host's clock in milliseconds,
// and the calculator's delays run on it, so a test may run any clock.
//
//     scripted::Calculator calc = scripted::MakeCalculator(tilink::DeviceKind::Ti84PlusUsb);
//     scripted::HostWrite(calc, 0x02, packet, now);
//     scripted::ReadResult answer = scripted::HostRead(calc, 0x81, 64, now);
//     ... scripted::Stored(calc), scripted::Violations(calc)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"

namespace scripted {

using Bytes = std::vector<std::uint8_t>;

// Ways the calculator misbehaves. `value` is each one's number, where it
// takes one.
enum class FaultKind {
    OutOfMemory,  // refuses the variable for want of memory; value: the
                  // bytes it has free (0 when not given), told when asked
    Busy,         // busy, not on its home screen
    Delay,        // asks the host to wait `value` ms before its answer to
                  // the request to send (USB kinds only)
    ErrorCode,    // refuses the request to send with error code `value`
                  // (USB: an error packet; link port: SKP with that reason)
    Resend,       // reports the first `value` (at least 1) data packets
                  // damaged, asking for them again (link port only)
    Silence,      // stops answering after the host's first `value` writes
    ShortReads,   // hands out at most `value` (at least 1) bytes a read
    Gone,         // the cable is pulled after the host's first `value` writes
};

struct Fault {
    FaultKind kind = FaultKind::Silence;
    std::uint32_t value = 0;
};

// A fault from its command-line form: "out-of-memory[=FREE]", "busy",
// "delay=MS", "error=CODE" (decimal or 0x hex), "resend[=N]", "silence[=N]",
// "short-reads[=N]", "gone[=N]". False, with *error set, for anything else
// or a fault the device kind cannot have.
bool ParseFault(const std::string& text, tilink::DeviceKind kind, Fault* fault, std::string* error);

// The device kind from "silverlink", "ti84p" or "ti84pce"; false otherwise.
bool ParseDeviceKind(const std::string& text, tilink::DeviceKind* kind);

// A variable the calculator stored, as it holds it.
struct StoredVariable {
    std::string name;
    std::uint8_t type = 0;
    std::uint8_t version = 0;
    bool archived = false;
    Bytes data;  // the variable's data: size word and body
};

// One bulk transfer as the calculator saw it.
struct Exchanged {
    bool fromHost = false;
    std::uint8_t endpoint = 0;
    Bytes bytes;
    std::uint64_t timeMs = 0;
};

struct ReadResult {
    bool gone = false;  // the cable is gone: the read failed
    Bytes bytes;        // what the calculator sent since the last read (may be empty)
};

struct Calculator {
    struct State;
    std::shared_ptr<State> state;
};

// A calculator of `kind` at its home screen with room for anything, but
// for `faults`.
Calculator MakeCalculator(tilink::DeviceKind kind, const std::vector<Fault>& faults = {});

// The host wrote `bytes` (possibly none: a zero-length packet) to
// `endpoint` in one bulk transfer. False when the cable is gone.
bool HostWrite(Calculator& calculator, std::uint8_t endpoint, const Bytes& bytes, std::uint64_t timeMs);

// The host reads up to `maxBytes` from `endpoint`: what the calculator has
// sent and the host has not read yet, in whole USB packets (64 bytes; the
// SilverLink's 32) up to the first short one, or nothing.
ReadResult HostRead(Calculator& calculator, std::uint8_t endpoint, std::size_t maxBytes, std::uint64_t timeMs);

// The variables stored so far, in order.
const std::vector<StoredVariable>& Stored(const Calculator& calculator);
// Every violation of the protocol seen so far, each one line with its reason.
const std::vector<std::string>& Violations(const Calculator& calculator);
// Every bulk transfer in both directions, in order.
const std::vector<Exchanged>& Exchange(const Calculator& calculator);

// The host's writes only, each bulk transfer's bytes.
std::vector<Bytes> HostWrites(const Calculator& calculator);

// A tilink transfer of `variable` run against `calculator` on a fake clock
// that starts at 0 and moves only as the steps ask (a wait, a read that
// got nothing: 10 ms, or its whole timeout if shorter), as fenk-send's loop
// runs it.
struct DriveResult {
    tilink::Transfer transfer;
    std::uint64_t clockMs = 0;  // the fake clock when it ended
    std::size_t steps = 0;      // calls of tilink::Next
    std::uint64_t waitedMs = 0; // time spent in Wait steps
};
DriveResult DriveTransfer(Calculator& calculator, const tilink::Variable& variable);

}  // namespace scripted
