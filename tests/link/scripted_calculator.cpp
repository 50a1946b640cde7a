// The scripted calculator: both protocols from the calculator's side.
#include "tests/link/scripted_calculator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <utility>

namespace scripted {
namespace {

constexpr std::uint8_t kOut = 0x02;
constexpr std::uint8_t kIn = 0x81;

// What a TI-84 Plus and a CE allocate for a raw packet's payload, and the
// most a CE takes in fact.
constexpr std::uint32_t kTi84PlusBuffer = 250;
constexpr std::uint32_t kCeBuffer = 1023;
constexpr std::size_t kCeLargestTaken = 1018;
// Free memory a calculator reports when nothing was said.
constexpr std::uint64_t kPlentyFree = 24000;

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::uint32_t Big32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint16_t Big16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
void PutBig32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}
void PutBig16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

Bytes Raw(std::uint8_t type, const Bytes& payload) {
    Bytes raw;
    PutBig32(raw, static_cast<std::uint32_t>(payload.size()));
    raw.push_back(type);
    raw.insert(raw.end(), payload.begin(), payload.end());
    return raw;
}

// A bulk transfer the calculator has put on the bus, cut in USB packets.
struct Pending {
    Bytes bytes;
    std::uint64_t releaseAt = 0;  // not readable before this host time
};

}  // namespace

struct Calculator::State {
    tilink::DeviceKind kind = tilink::DeviceKind::Ti84PlusUsb;
    std::vector<Fault> faults;
    std::vector<StoredVariable> stored;
    std::vector<std::string> violations;
    std::vector<Exchanged> exchange;
    std::size_t hostWrites = 0;
    bool gone = false;
    std::deque<Pending> outgoing;  // the calculator's transfers not yet read
    std::size_t readOffset = 0;    // bytes of outgoing.front() already read

    // The USB protocol.
    bool bufferAsked = false;
    bool modeSet = false;
    bool awaitingAck = false;      // the calculator's raw packet is out, unacknowledged
    Bytes hostPacket;              // the host's virtual packet so far
    bool hostPacketStarted = false;
    bool zeroLengthDue = false;    // CE: a write of 64k bytes waits for its end
    bool zeroLengthNoted = false;
    Bytes heldWrite;
    std::uint32_t delayMs = 0;     // a delay asked for, running once acknowledged
    bool delayAsked = false;
    Bytes afterDelay;              // the answer that follows the delay
    std::uint64_t delayEnds = 0;
    bool delaying = false;

    // The send in progress, both protocols.
    bool accepted = false;         // a request to send was answered yes
    bool contentsIn = false;
    std::uint32_t size = 0;
    StoredVariable incoming;

    // The link port.
    Bytes hostStream;
    enum class Port { Idle, CtsOut, SkipOut, DataDue, EotDue } port = Port::Idle;
    std::uint32_t resendsLeft = 0;

    bool Has(FaultKind kind_, std::uint32_t* value = nullptr) const {
        for (const Fault& fault : faults) {
            if (fault.kind == kind_) {
                if (value) *value = fault.value;
                return true;
            }
        }
        return false;
    }
    bool Silent() const {
        std::uint32_t after = 0;
        return Has(FaultKind::Silence, &after) && hostWrites > after;
    }
    std::size_t UsbPacket() const { return kind == tilink::DeviceKind::SilverLink ? 32 : 64; }
    void Violation(const std::string& reason) { violations.push_back(reason); }
    void Send(Bytes bytes, std::uint64_t releaseAt = 0) {
        if (Silent()) return;
        outgoing.push_back({std::move(bytes), releaseAt});
    }
    std::uint64_t Free() const {
        std::uint32_t free = 0;
        if (Has(FaultKind::OutOfMemory, &free)) return free;
        return kPlentyFree;
    }
};

namespace {

using State = Calculator::State;

// ---------------------------------------------------------------------------
// The calculators' own USB

void SendVirtual(State& s, std::uint16_t type, const Bytes& data, std::uint64_t releaseAt = 0) {
    Bytes payload;
    PutBig32(payload, static_cast<std::uint32_t>(data.size()));
    PutBig16(payload, type);
    payload.insert(payload.end(), data.begin(), data.end());
    s.Send(Raw(4, payload), releaseAt);  // every answer fits one raw packet
    s.awaitingAck = true;
}

void ResetSend(State& s) {
    s.accepted = false;
    s.contentsIn = false;
    s.incoming = StoredVariable{};
}

void TakeRequestToSend(State& s, const Bytes& d) {
    // Folder (length, name, NUL), name (length, name, NUL), size (4),
    // transfer mode (1), attribute count (2), attributes (id 2, size 2, data).
    std::size_t at = 0;
    const auto need = [&](std::size_t n) { return d.size() - at >= n; };
    if (!need(1)) return s.Violation("request to send: empty");
    const std::size_t folder = d[at++];
    if (folder != 0) {
        if (!need(folder + 1)) return s.Violation("request to send: the folder runs past its end");
        at += folder + 1;
    }
    if (!need(1)) return s.Violation("request to send: no name");
    const std::size_t nameLength = d[at++];
    if (nameLength == 0 || nameLength > 8 || !need(nameLength + 1))
        return s.Violation("request to send: a name of " + std::to_string(nameLength) + " bytes");
    StoredVariable variable;
    variable.name.assign(d.begin() + static_cast<std::ptrdiff_t>(at), d.begin() + static_cast<std::ptrdiff_t>(at + nameLength));
    at += nameLength;
    if (d[at++] != 0) s.Violation("request to send: the name is not followed by a NUL");
    if (!need(4 + 1 + 2)) return s.Violation("request to send: ends before the size, mode and attributes");
    const std::uint32_t size = Big32(&d[at]);
    at += 4;
    const std::uint8_t mode = d[at++];
    if (mode != 0x01) s.Violation("request to send: mode " + Hex(mode, 2) + ", not silent (0x01)");
    const std::size_t count = Big16(&d[at]);
    at += 2;
    bool haveType = false, haveArchived = false, haveVersion = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!need(4)) return s.Violation("request to send: attribute " + std::to_string(i) + " runs past the end");
        const std::uint16_t id = Big16(&d[at]);
        const std::size_t length = Big16(&d[at + 2]);
        at += 4;
        if (!need(length)) return s.Violation("request to send: attribute " + Hex(id, 4) + " runs past the end");
        const std::uint8_t* value = &d[at];
        at += length;
        if (id == 0x0002 && length == 4 && value[0] == 0xF0 && value[1] == 0x07 && value[2] == 0x00) {
            variable.type = value[3];
            haveType = true;
        } else if (id == 0x0003 && length == 1) {
            variable.archived = value[0] != 0;
            haveArchived = true;
        } else if (id == 0x0008 && length == 4) {
            variable.version = value[3];
            haveVersion = true;
        } else {
            s.Violation("request to send: unexpected attribute " + Hex(id, 4) + " of " + std::to_string(length) + " bytes");
        }
    }
    if (at != d.size()) s.Violation("request to send: " + std::to_string(d.size() - at) + " bytes after the attributes");
    if (!haveType || !haveArchived || !haveVersion)
        s.Violation("request to send: the type, archived and version attributes must all be given");

    std::uint32_t code = 0;
    if (s.Has(FaultKind::Busy)) return SendVirtual(s, 0xEE00, {0x00, 0x27});
    if (s.Has(FaultKind::OutOfMemory) && size > s.Free()) return SendVirtual(s, 0xEE00, {0x00, 0x0C});
    if (s.Has(FaultKind::ErrorCode, &code))
        return SendVirtual(s, 0xEE00, {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)});
    s.accepted = true;
    s.size = size;
    s.incoming = variable;
    std::uint32_t delay = 0;
    if (s.Has(FaultKind::Delay, &delay) && !s.delayAsked) {
        // The data acknowledgement waits until the host has waited.
        s.delayAsked = true;
        s.delayMs = delay;
        Bytes micro;
        PutBig32(micro, delay * 1000);
        SendVirtual(s, 0xBB00, micro);
        s.afterDelay = {};
        PutBig32(s.afterDelay, 0);
        PutBig16(s.afterDelay, 0xAA00);
        return;
    }
    SendVirtual(s, 0xAA00, {});
}

void TakeParameterRequest(State& s, const Bytes& d) {
    if (d.size() < 2 || d.size() != 2 + 2 * std::size_t{Big16(d.data())})
        return s.Violation("parameter request: its count and its length disagree");
    const std::size_t count = Big16(d.data());
    Bytes answer;
    PutBig16(answer, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t id = Big16(&d[2 + 2 * i]);
        PutBig16(answer, id);
        if (id == 0x000E) {  // free RAM, 8 bytes
            answer.push_back(0);
            PutBig16(answer, 8);
            const std::uint64_t free = s.Free();
            for (int shift = 56; shift >= 0; shift -= 8) answer.push_back(static_cast<std::uint8_t>(free >> shift));
        } else {
            answer.push_back(1);  // not given
        }
    }
    SendVirtual(s, 0x0008, answer);
}

void TakeVirtual(State& s, std::uint16_t type, const Bytes& data) {
    if (type == 0x0001) {
        if (data.size() != 10) s.Violation("mode set of " + std::to_string(data.size()) + " bytes, not 10");
        s.modeSet = true;
        SendVirtual(s, 0x0012, {});
        return;
    }
    if (!s.modeSet) s.Violation("virtual packet " + Hex(type, 4) + " before the mode set");
    switch (type) {
    case 0x000B:
        ResetSend(s);
        TakeRequestToSend(s, data);
        return;
    case 0x000D:
        if (!s.accepted) return s.Violation("contents without an accepted request to send");
        if (data.size() != s.size)
            s.Violation("contents of " + std::to_string(data.size()) + " bytes after a request to send of " +
                        std::to_string(s.size));
        s.incoming.data = data;
        s.contentsIn = true;
        SendVirtual(s, 0xAA00, {});
        return;
    case 0xDD00:
        if (!data.empty()) s.Violation("end of transmission with data");
        if (s.contentsIn) s.stored.push_back(s.incoming);
        else if (s.accepted) s.Violation("end of transmission before the contents");
        ResetSend(s);
        return;  // nothing answers it but the raw acknowledgement
    case 0x0007:
        TakeParameterRequest(s, data);
        return;
    default:
        s.Violation("unexpected virtual packet " + Hex(type, 4));
        return;
    }
}

void TakeRawPacket(State& s, std::uint8_t type, const Bytes& payload, std::uint64_t timeMs) {
    if (!s.outgoing.empty())
        s.Violation("raw packet type " + std::to_string(type) + " written before the calculator's answer was read");
    if (type == 1) {
        if (payload.size() != 4) s.Violation("buffer size request of " + std::to_string(payload.size()) + " bytes");
        s.bufferAsked = true;
        Bytes allocation;
        PutBig32(allocation, s.kind == tilink::DeviceKind::Ti84PlusCeUsb ? kCeBuffer : kTi84PlusBuffer);
        s.Send(Raw(2, allocation));
        return;
    }
    if (!s.bufferAsked) s.Violation("raw packet type " + std::to_string(type) + " before the buffer size request");
    if (type == 5) {
        if (payload != Bytes{0xE0, 0x00}) s.Violation("a raw acknowledgement that is not E0 00");
        if (!s.awaitingAck) return s.Violation("a raw acknowledgement with nothing to acknowledge");
        s.awaitingAck = false;
        if (s.delayMs != 0 && !s.afterDelay.empty()) {
            s.delaying = true;
            s.delayEnds = timeMs + s.delayMs;
            s.Send(Raw(4, s.afterDelay), s.delayEnds);
            s.awaitingAck = true;
            s.afterDelay.clear();
        }
        return;
    }
    if (type != 3 && type != 4) return s.Violation("unknown raw packet type " + std::to_string(type));
    if (s.awaitingAck) s.Violation("a raw packet before the calculator's last one was acknowledged");
    if (s.delaying) {
        if (timeMs < s.delayEnds)
            s.Violation("a packet " + std::to_string(s.delayEnds - timeMs) + " ms before the delay asked for was over");
        s.delaying = false;
    }
    const std::size_t allocated = s.kind == tilink::DeviceKind::Ti84PlusCeUsb ? kCeLargestTaken : kTi84PlusBuffer;
    if (payload.size() > allocated)
        s.Violation("a raw packet of " + std::to_string(payload.size()) + " bytes, more than the " +
                    std::to_string(allocated) + " the calculator takes");
    s.Send(Raw(5, {0xE0, 0x00}));
    s.hostPacket.insert(s.hostPacket.end(), payload.begin(), payload.end());
    if (!s.hostPacketStarted) {
        if (s.hostPacket.size() < 6) {
            s.Violation("a virtual packet's first raw packet too short for its header");
            s.hostPacket.clear();
            return;
        }
        s.hostPacketStarted = true;
    }
    const std::size_t declared = Big32(s.hostPacket.data());
    const std::size_t have = s.hostPacket.size() - 6;
    if (type == 3) {
        // A packet whose full raw packets hold it all still ends with an
        // empty last one.
        if (have > declared) s.Violation("a virtual packet continued past its size of " + std::to_string(declared));
        return;
    }
    const std::uint16_t vtype = Big16(&s.hostPacket[4]);
    if (have != declared)
        s.Violation("virtual packet " + Hex(vtype, 4) + " of " + std::to_string(have) + " bytes says it has " +
                    std::to_string(declared));
    const Bytes data(s.hostPacket.begin() + 6, s.hostPacket.end());
    s.hostPacket.clear();
    s.hostPacketStarted = false;
    TakeVirtual(s, vtype, data);
}

void TakeUsbWrite(State& s, const Bytes& bytes, std::uint64_t timeMs) {
    const bool ce = s.kind == tilink::DeviceKind::Ti84PlusCeUsb;
    if (s.zeroLengthDue) {
        s.zeroLengthDue = false;
        const Bytes held = std::move(s.heldWrite);
        if (!bytes.empty())
            s.Violation("a " + std::to_string(held.size()) +
                        "-byte bulk transfer (whole 64-byte USB packets) not ended by a zero-length packet");
        TakeRawPacket(s, held[4], Bytes(held.begin() + 5, held.end()), timeMs);
        if (bytes.empty()) return;
    }
    if (bytes.empty()) return s.Violation("a zero-length packet where none was due");
    if (bytes.size() < 5) return s.Violation("a bulk transfer of " + std::to_string(bytes.size()) + " bytes is no raw packet");
    const std::size_t size = Big32(bytes.data());
    if (bytes.size() != size + 5) {
        s.Violation("a bulk transfer of " + std::to_string(bytes.size()) + " bytes for a raw packet of " +
                    std::to_string(size + 5) + ": each raw packet goes in one bulk transfer");
        return;
    }
    if (ce && bytes.size() % 64 == 0) {
        // The CE takes such a transfer as unfinished until a zero-length
        // packet ends it.
        s.zeroLengthDue = true;
        s.heldWrite = bytes;
        return;
    }
    TakeRawPacket(s, bytes[4], Bytes(bytes.begin() + 5, bytes.end()), timeMs);
}

// ---------------------------------------------------------------------------
// The link port

Bytes PortPacket(std::uint8_t command, const Bytes& data, bool withData) {
    Bytes packet{0x73, command, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    if (!withData) return packet;
    packet.insert(packet.end(), data.begin(), data.end());
    std::uint16_t sum = 0;
    for (std::uint8_t b : data) sum = static_cast<std::uint16_t>(sum + b);
    packet.push_back(static_cast<std::uint8_t>(sum));
    packet.push_back(static_cast<std::uint8_t>(sum >> 8));
    return packet;
}

void SendPort(State& s, std::uint8_t command, std::uint16_t length = 0) {
    s.Send(Bytes{0x73, command, static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)});
}

void Skip(State& s, std::uint8_t code) {
    SendPort(s, 0x56);
    s.Send(PortPacket(0x36, {code}, true));
    s.port = State::Port::SkipOut;
}

void TakePortPacket(State& s, std::uint8_t command, const Bytes& data) {
    using Port = State::Port;
    switch (command) {
    case 0x68:  // RDY
        SendPort(s, 0x56, s.Has(FaultKind::Busy) ? 0x0100 : 0x0000);
        return;
    case 0xC9: {  // RTS
        if (s.port != Port::Idle) s.Violation("RTS in the middle of a send");
        if (data.size() != 13) return s.Violation("RTS of " + std::to_string(data.size()) + " bytes, not 13");
        ResetSend(s);
        const std::uint32_t size = static_cast<std::uint32_t>(data[0] | (data[1] << 8));
        StoredVariable variable;
        variable.type = data[2];
        for (std::size_t i = 3; i < 11 && data[i] != 0; ++i) variable.name.push_back(static_cast<char>(data[i]));
        variable.version = data[11];
        variable.archived = (data[12] & 0x80) != 0;
        if (data[12] != 0x00 && data[12] != 0x80) s.Violation("RTS flag byte " + Hex(data[12], 2));
        std::uint32_t code = 0;
        if (s.Has(FaultKind::Busy)) return Skip(s, 1);
        if (s.Has(FaultKind::OutOfMemory) && size > s.Free()) return Skip(s, 3);
        if (s.Has(FaultKind::ErrorCode, &code)) return Skip(s, static_cast<std::uint8_t>(code));
        s.size = size;
        s.incoming = variable;
        s.accepted = true;
        SendPort(s, 0x56);
        SendPort(s, 0x09);
        s.port = Port::CtsOut;
        return;
    }
    case 0x56:  // ACK
        if (s.port == Port::CtsOut) s.port = Port::DataDue;
        else if (s.port == Port::SkipOut) s.port = Port::Idle;
        else s.Violation("an ACK with nothing to acknowledge");
        return;
    case 0x15:  // data
        if (s.port == Port::CtsOut) s.Violation("data before the CTS was acknowledged");
        else if (s.port != Port::DataDue) return s.Violation("data without an accepted RTS");
        if (s.resendsLeft > 0) {
            --s.resendsLeft;
            SendPort(s, 0x5A);  // damaged: send it again
            s.port = Port::DataDue;
            return;
        }
        if (data.size() != s.size)
            s.Violation("data of " + std::to_string(data.size()) + " bytes after an RTS of " + std::to_string(s.size));
        s.incoming.data = data;
        s.contentsIn = true;
        SendPort(s, 0x56);
        s.port = Port::EotDue;
        return;
    case 0x92:  // EOT; the known-good host does not wait for an answer to it
        if (s.port == Port::EotDue) s.stored.push_back(s.incoming);
        else if (s.port != Port::Idle) s.Violation("EOT before the data was sent");
        ResetSend(s);
        s.port = Port::Idle;
        return;
    default:
        s.Violation("unexpected command " + Hex(command, 2));
        return;
    }
}

bool PortCommandCarriesData(std::uint8_t command) {
    switch (command) {
    case 0x06: case 0x15: case 0x36: case 0x47: case 0xA2: case 0xB7: case 0xC9: case 0x88: case 0x89:
        return true;
    default:
        return false;
    }
}

void TakePortWrite(State& s, const Bytes& bytes) {
    if (bytes.empty()) return;  // the cable passes bytes; an empty write carries none
    s.hostStream.insert(s.hostStream.end(), bytes.begin(), bytes.end());
    for (;;) {
        Bytes& in = s.hostStream;
        if (in.size() < 4) return;
        if (in[0] != 0x23) {
            s.Violation("machine id " + Hex(in[0], 2) + ", not 0x23 (a PC to a TI-83 Plus or 84 Plus)");
            in.clear();
            return;
        }
        const std::uint8_t command = in[1];
        const std::size_t length = in[2] | (in[3] << 8);
        std::size_t whole = 4;
        Bytes data;
        if (PortCommandCarriesData(command)) {
            whole = 4 + length + 2;
            if (in.size() < whole) return;
            data.assign(in.begin() + 4, in.begin() + 4 + static_cast<std::ptrdiff_t>(length));
            std::uint16_t sum = 0;
            for (std::uint8_t b : data) sum = static_cast<std::uint16_t>(sum + b);
            const std::uint16_t stored = static_cast<std::uint16_t>(in[4 + length] | (in[5 + length] << 8));
            if (sum != stored) {
                s.Violation("command " + Hex(command, 2) + ": checksum " + Hex(stored, 4) + ", the data sums to " + Hex(sum, 4));
                in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(whole));
                SendPort(s, 0x5A);
                continue;
            }
        } else if (length != 0) {
            s.Violation("command " + Hex(command, 2) + " without data has length " + std::to_string(length));
        }
        if (!s.outgoing.empty()) s.Violation("command " + Hex(command, 2) + " sent before the calculator's answer was read");
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(whole));
        TakePortPacket(s, command, data);
    }
}

}  // namespace

bool ParseDeviceKind(const std::string& text, tilink::DeviceKind* kind) {
    if (text == "silverlink") *kind = tilink::DeviceKind::SilverLink;
    else if (text == "ti84p") *kind = tilink::DeviceKind::Ti84PlusUsb;
    else if (text == "ti84pce") *kind = tilink::DeviceKind::Ti84PlusCeUsb;
    else return false;
    return true;
}

bool ParseFault(const std::string& text, tilink::DeviceKind kind, Fault* fault, std::string* error) {
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    std::uint32_t value = 0;
    const bool hasValue = equals != std::string::npos;
    if (hasValue) {
        const std::string number = text.substr(equals + 1);
        char* end = nullptr;
        const unsigned long parsed = std::strtoul(number.c_str(), &end, 0);
        if (number.empty() || *end != '\0' || parsed > 0xFFFFFFFFul) {
            *error = "fault " + name + ": '" + number + "' is not a number";
            return false;
        }
        value = static_cast<std::uint32_t>(parsed);
    }
    const bool usb = kind != tilink::DeviceKind::SilverLink;
    struct Known { const char* name; FaultKind kind; bool needsValue; std::uint32_t byDefault; };
    static const Known known[] = {
        {"out-of-memory", FaultKind::OutOfMemory, false, 0}, {"busy", FaultKind::Busy, false, 0},
        {"delay", FaultKind::Delay, true, 0},               {"error", FaultKind::ErrorCode, true, 0},
        {"resend", FaultKind::Resend, false, 1},            {"silence", FaultKind::Silence, false, 0},
        {"short-reads", FaultKind::ShortReads, false, 1},   {"gone", FaultKind::Gone, false, 0},
    };
    for (const Known& k : known) {
        if (name != k.name) continue;
        if (k.needsValue && !hasValue) {
            *error = "fault " + name + " needs a value (" + name + "=N)";
            return false;
        }
        if (k.kind == FaultKind::Delay && !usb) {
            *error = "fault delay: the link port has no delay request; only the USB calculators ask for one";
            return false;
        }
        if (k.kind == FaultKind::Resend && usb) {
            *error = "fault resend: only the link port asks for a packet again (--device silverlink)";
            return false;
        }
        fault->kind = k.kind;
        fault->value = hasValue ? value : k.byDefault;
        if ((k.kind == FaultKind::Resend || k.kind == FaultKind::ShortReads) && fault->value == 0) fault->value = 1;
        return true;
    }
    *error = "unknown fault '" + name + "' (out-of-memory, busy, delay, error, resend, silence, short-reads, gone)";
    return false;
}

Calculator MakeCalculator(tilink::DeviceKind kind, const std::vector<Fault>& faults) {
    Calculator calculator;
    calculator.state = std::make_shared<State>();
    calculator.state->kind = kind;
    calculator.state->faults = faults;
    std::uint32_t resends = 0;
    if (calculator.state->Has(FaultKind::Resend, &resends)) calculator.state->resendsLeft = resends;
    return calculator;
}

bool HostWrite(Calculator& calculator, std::uint8_t endpoint, const Bytes& bytes, std::uint64_t timeMs) {
    State& s = *calculator.state;
    std::uint32_t goneAfter = 0;
    if (s.Has(FaultKind::Gone, &goneAfter) && s.hostWrites >= goneAfter) s.gone = true;
    if (s.gone) return false;
    s.exchange.push_back({true, endpoint, bytes, timeMs});
    ++s.hostWrites;
    // The cable goes right after the write that was its last: the reads
    // for its answer fail too.
    if (s.Has(FaultKind::Gone, &goneAfter) && s.hostWrites >= goneAfter) s.gone = true;
    if (endpoint != kOut) {
        s.Violation("a write to endpoint " + Hex(endpoint, 2) + ", not the bulk OUT endpoint 0x02");
        return true;
    }
    if (s.kind == tilink::DeviceKind::SilverLink)
        TakePortWrite(s, bytes);
    else
        TakeUsbWrite(s, bytes, timeMs);
    return true;
}

ReadResult HostRead(Calculator& calculator, std::uint8_t endpoint, std::size_t maxBytes, std::uint64_t timeMs) {
    State& s = *calculator.state;
    ReadResult result;
    if (s.gone) {
        result.gone = true;
        return result;
    }
    if (endpoint != kIn) {
        s.Violation("a read from endpoint " + Hex(endpoint, 2) + ", not the bulk IN endpoint 0x81");
        return result;
    }
    if (s.zeroLengthDue && !s.zeroLengthNoted) {
        // The CE has not taken the packet yet: no answer will come.
        s.zeroLengthNoted = true;
        s.Violation("a read while a " + std::to_string(s.heldWrite.size()) +
                    "-byte bulk transfer (whole 64-byte USB packets) waits for the zero-length packet that ends it");
    }
    if (s.Silent()) s.outgoing.clear();
    std::uint32_t shortReads = 0;
    const bool trickle = s.Has(FaultKind::ShortReads, &shortReads);
    const std::size_t packet = s.UsbPacket();
    Bytes& got = result.bytes;
    while (!s.outgoing.empty() && s.outgoing.front().releaseAt <= timeMs) {
        Pending& front = s.outgoing.front();
        const std::size_t left = front.bytes.size() - s.readOffset;
        // The next USB packet of this transfer.
        std::size_t take = std::min(packet, left);
        if (trickle) take = std::min<std::size_t>(take, shortReads);
        if (got.size() + take > maxBytes) {
            if (!got.empty()) break;
            // A read smaller than the packet: the rest of the packet is lost.
            s.Violation("a read of " + std::to_string(maxBytes) + " bytes, less than the " + std::to_string(take) +
                        "-byte USB packet waiting: its last " + std::to_string(take - maxBytes) + " bytes are lost");
            got.insert(got.end(), front.bytes.begin() + static_cast<std::ptrdiff_t>(s.readOffset),
                       front.bytes.begin() + static_cast<std::ptrdiff_t>(s.readOffset + maxBytes));
            s.readOffset += take;
        } else {
            got.insert(got.end(), front.bytes.begin() + static_cast<std::ptrdiff_t>(s.readOffset),
                       front.bytes.begin() + static_cast<std::ptrdiff_t>(s.readOffset + take));
            s.readOffset += take;
        }
        const bool shortPacket = take < packet;
        if (s.readOffset >= front.bytes.size()) {
            s.outgoing.pop_front();
            s.readOffset = 0;
        }
        if (shortPacket || trickle) break;  // a short packet ends the read
    }
    if (!got.empty()) s.exchange.push_back({false, endpoint, got, timeMs});
    return result;
}

const std::vector<StoredVariable>& Stored(const Calculator& calculator) { return calculator.state->stored; }
const std::vector<std::string>& Violations(const Calculator& calculator) { return calculator.state->violations; }
const std::vector<Exchanged>& Exchange(const Calculator& calculator) { return calculator.state->exchange; }

std::vector<Bytes> HostWrites(const Calculator& calculator) {
    std::vector<Bytes> writes;
    for (const Exchanged& e : calculator.state->exchange)
        if (e.fromHost) writes.push_back(e.bytes);
    return writes;
}

DriveResult DriveTransfer(Calculator& calculator, const tilink::Variable& variable) {
    DriveResult result;
    const tilink::DeviceInfo* device = nullptr;
    for (const tilink::DeviceInfo& known : tilink::KnownDevices())
        if (known.kind == calculator.state->kind) device = &known;
    std::uint64_t& now = result.clockMs;
    result.transfer = tilink::StartTransfer(*device, variable, now);
    for (;;) {
        const tilink::Step step = tilink::Next(result.transfer, now);
        ++result.steps;
        if (step.kind == tilink::StepKind::Write) {
            const bool ok = HostWrite(calculator, step.endpoint, step.bytes, now);
            tilink::Wrote(result.transfer, ok, now);
        } else if (step.kind == tilink::StepKind::Read) {
            const ReadResult read = HostRead(calculator, step.endpoint, step.maxBytes, now);
            if (read.gone) {
                tilink::ReadFailed(result.transfer, now);
            } else if (read.bytes.empty()) {
                now += std::min<std::uint64_t>(step.timeoutMs, 10);
                tilink::ReadTimedOut(result.transfer, now);
            } else {
                tilink::Read(result.transfer, read.bytes, now);
            }
        } else if (step.kind == tilink::StepKind::Wait) {
            now += step.timeoutMs;
            result.waitedMs += step.timeoutMs;
        } else {
            return result;
        }
    }
}

}  // namespace scripted
