// The TI-84 Plus and TI-84 Plus CE's own USB protocol.
//
// Raw packets: a 4-byte big-endian payload size, a type byte, the payload.
// Each goes out in one bulk transfer and each is acknowledged by the other
// side with a raw acknowledgement before anything else is sent. Virtual
// packets (a 4-byte size, a 2-byte type, the data) travel in raw packets of
// at most the size the calculator allocated; the first carries the virtual
// packet's header. A silent send is: the buffer size request, the mode set
// and its acknowledgement, the request to send with the variable's
// parameters and its acknowledgement, the contents and theirs, and the end
// of transmission.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "link/internal.h"

namespace tilink {
namespace {

// Raw packet types.
constexpr std::uint8_t kRawBufferSizeRequest = 1;
constexpr std::uint8_t kRawBufferSizeAllocation = 2;
constexpr std::uint8_t kRawVirtualData = 3;
constexpr std::uint8_t kRawVirtualDataLast = 4;
constexpr std::uint8_t kRawAcknowledge = 5;
constexpr std::size_t kRawHeader = 5;

// Virtual packet types.
constexpr std::uint16_t kModeSet = 0x0001;
constexpr std::uint16_t kParameterRequest = 0x0007;
constexpr std::uint16_t kParameterData = 0x0008;
constexpr std::uint16_t kRequestToSend = 0x000B;
constexpr std::uint16_t kContents = 0x000D;
constexpr std::uint16_t kModeAcknowledge = 0x0012;
constexpr std::uint16_t kDataAcknowledge = 0xAA00;
constexpr std::uint16_t kDelay = 0xBB00;
constexpr std::uint16_t kEndOfTransmission = 0xDD00;
constexpr std::uint16_t kError = 0xEE00;
constexpr std::size_t kVirtualHeader = 6;

// The buffer the PC offers, and the most a raw packet may carry whatever a
// calculator allocates (the CE allocates 1023 but takes no more than 1018).
constexpr std::uint32_t kOfferedBuffer = 1024;
constexpr std::size_t kRawPayloadLimit = 1023;
constexpr std::size_t kCeRawPayloadLimit = 1018;
// A calculator's delay request longer than this is taken as this long.
constexpr std::uint32_t kLongestDelayMicroseconds = 400000;

constexpr std::uint16_t kFreeRamParameter = 0x000E;

void PutBig32(Bytes& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 24));
    bytes.push_back(static_cast<std::uint8_t>(value >> 16));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

void PutBig16(Bytes& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

std::uint32_t Big32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint16_t Big16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

Bytes RawPacket(std::uint8_t type, const Bytes& payload) {
    Bytes raw;
    PutBig32(raw, static_cast<std::uint32_t>(payload.size()));
    raw.push_back(type);
    raw.insert(raw.end(), payload.begin(), payload.end());
    return raw;
}

std::string Hex16(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

bool IsCe(const Transfer& transfer) {
    return transfer.state->device.kind == DeviceKind::Ti84PlusCeUsb;
}

// A virtual packet cut into the raw packets it travels in: the first with
// the virtual header, full ones of rawMax bytes, the rest in a last one.
// The CE's firmware takes a bulk transfer that is a whole number of 64-byte
// USB packets as unfinished until a zero-length write follows; after a last
// raw packet, one is queued here (as an empty raw packet). The TI-84 Plus
// wants none.
std::deque<Bytes> Fragments(const Transfer& transfer, std::uint16_t type, const Bytes& data) {
    const std::size_t rawMax = transfer.state->usb.rawMax;
    Bytes header;
    PutBig32(header, static_cast<std::uint32_t>(data.size()));
    PutBig16(header, type);
    std::deque<Bytes> fragments;
    const auto endsOnUsbPacket = [](std::size_t payload) { return (payload + kRawHeader) % 64 == 0; };

    if (data.size() <= rawMax - kVirtualHeader) {
        Bytes payload = header;
        payload.insert(payload.end(), data.begin(), data.end());
        fragments.push_back(RawPacket(kRawVirtualDataLast, payload));
        if (IsCe(transfer) && endsOnUsbPacket(payload.size())) fragments.emplace_back();
        return fragments;
    }
    Bytes first = header;
    std::size_t offset = rawMax - kVirtualHeader;
    first.insert(first.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    fragments.push_back(RawPacket(kRawVirtualData, first));
    // Full raw packets, then the last with the rest: an empty one when the
    // full ones took everything (as libticalcs sends it, known to work).
    const std::size_t full = (data.size() - offset) / rawMax;
    for (std::size_t i = 0; i < full; ++i) {
        Bytes chunk(data.begin() + static_cast<std::ptrdiff_t>(offset),
                    data.begin() + static_cast<std::ptrdiff_t>(offset + rawMax));
        offset += rawMax;
        fragments.push_back(RawPacket(kRawVirtualData, chunk));
    }
    Bytes rest(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
    const std::size_t restSize = rest.size();
    fragments.push_back(RawPacket(kRawVirtualDataLast, rest));
    if (IsCe(transfer) && endsOnUsbPacket(restSize)) fragments.emplace_back();
    return fragments;
}

// Puts the next raw packet of the current virtual packet out (with the
// zero-length write that may follow it).
void SendNextFragment(Transfer& transfer) {
    UsbState& usb = transfer.state->usb;
    // The variable's bytes it carries, counted once it is acknowledged.
    const std::size_t header = kRawHeader + (usb.firstFragment ? kVirtualHeader : 0);
    usb.fragmentBytes = usb.fragments.front().size() - header;
    usb.firstFragment = false;
    Queue(transfer, usb.fragments.front());
    usb.fragments.pop_front();
    if (!usb.fragments.empty() && usb.fragments.front().empty()) {
        Queue(transfer, Bytes{});
        usb.fragments.pop_front();
    }
}

void SendVirtual(Transfer& transfer, std::uint16_t type, const Bytes& data, std::uint16_t expected) {
    UsbState& usb = transfer.state->usb;
    usb.fragments = Fragments(transfer, type, data);
    usb.expected = expected;
    usb.firstFragment = true;
    usb.phase = UsbState::Phase::SendingPacket;
    SendNextFragment(transfer);
}

Bytes ModeSetData() {
    // Normal mode: { 3, 1, 0, 0, 0x07d0 }, five big-endian words.
    Bytes data;
    for (std::uint16_t word : {std::uint16_t{3}, std::uint16_t{1}, std::uint16_t{0}, std::uint16_t{0},
                               std::uint16_t{0x07d0}})
        PutBig16(data, word);
    return data;
}

Bytes RequestToSendData(const Variable& variable) {
    Bytes data;
    data.push_back(0);  // no folder
    data.push_back(static_cast<std::uint8_t>(variable.name.size()));
    data.insert(data.end(), variable.name.begin(), variable.name.end());
    data.push_back(0);  // the name's NUL
    PutBig32(data, static_cast<std::uint32_t>(variable.data.size()));
    data.push_back(0x01);  // silent
    PutBig16(data, 3);     // three attributes: type, archived, version
    PutBig16(data, 0x0002);
    PutBig16(data, 4);
    data.insert(data.end(), {0xF0, 0x07, 0x00, variable.type});
    PutBig16(data, 0x0003);
    PutBig16(data, 1);
    data.push_back(variable.archived ? 1 : 0);
    PutBig16(data, 0x0008);
    PutBig16(data, 4);
    data.insert(data.end(), {0x00, 0x00, 0x00, variable.version});
    return data;
}

// The next stage of the send once the calculator acknowledged the last.
void NextStage(Transfer& transfer) {
    Transfer::State& state = *transfer.state;
    UsbState& usb = state.usb;
    ++usb.stage;
    switch (usb.stage) {
    case 1:
        SendVirtual(transfer, kRequestToSend, RequestToSendData(state.variable), kDataAcknowledge);
        break;
    case 2:
        SendVirtual(transfer, kContents, state.variable.data, kDataAcknowledge);
        break;
    case 3:
        // Nothing answers the end of transmission but its raw acknowledgement.
        SendVirtual(transfer, kEndOfTransmission, Bytes{}, 0);
        break;
    default:
        usb.phase = UsbState::Phase::Finished;
        Finish(transfer);
        break;
    }
}

std::string ErrorMeaning(std::uint16_t code) {
    switch (code) {
    case 0x0004: return "invalid argument or name";
    case 0x0006: return "the variable cannot be deleted from the archive";
    case 0x0008: return "transmission error";
    case 0x0009: return "the calculator is in its boot code";
    case 0x000D:
    case 0x000E: return "invalid name";
    case 0x0012: return "a variable of that name is locked or archived";
    case 0x001B: return "mode token too small";
    case 0x001C: return "mode token too large";
    case 0x001D: return "wrong size for a parameter";
    case 0x0021: return "invalid parameter";
    case 0x0022: return "read-only parameter";
    case 0x0023: return "battery low";
    default: return "an error the calculator did not explain";
    }
}

void OutOfMemory(Transfer& transfer, const std::string& freeText) {
    const Variable& variable = transfer.state->variable;
    Fail(transfer, FailureKind::OutOfMemory,
         Calculator(transfer) + " has no room for " + variable.name + " (" +
             std::to_string(variable.data.size()) + " bytes" + freeText +
             "): delete or archive something (2nd MEM, Mem Mgmt/Del) and send again");
}

void CalculatorError(Transfer& transfer, std::uint16_t code) {
    UsbState& usb = transfer.state->usb;
    if (code == 0x000C) {
        // Out of memory: ask how much is free, for the reason, before
        // giving up. (libticalcs stops here; what follows is ours.)
        usb.askedFreeMemory = true;
        Bytes request;
        PutBig16(request, 1);
        PutBig16(request, kFreeRamParameter);
        SendVirtual(transfer, kParameterRequest, request, kParameterData);
        return;
    }
    if (code == 0x0011 || code == 0x0027) {
        Fail(transfer, FailureKind::Busy,
             Calculator(transfer) + " is busy: leave any menu or program (2nd QUIT) so that it shows its home screen, and send again");
        return;
    }
    Fail(transfer, FailureKind::Refused,
         Calculator(transfer) + " refused " + transfer.state->variable.name + " (error " + Hex16(code) + ": " +
             ErrorMeaning(code) + ")");
}

// The free RAM from a parameter data packet answering the request for it:
// a count, then the parameter's id, a status byte (0 when it is given),
// its size and an 8-byte big-endian value.
void FreeMemoryAnswer(Transfer& transfer, const Bytes& data) {
    std::string freeText;
    if (data.size() >= 2 + 2 + 1 + 2 + 8 && Big16(&data[0]) == 1 && Big16(&data[2]) == kFreeRamParameter &&
        data[4] == 0 && Big16(&data[5]) == 8) {
        std::uint64_t free = 0;
        for (std::size_t i = 0; i < 8; ++i) free = (free << 8) | data[7 + i];
        freeText = "; it has " + std::to_string(free) + " bytes free";
    }
    OutOfMemory(transfer, freeText);
}

void TakeVirtualPacket(Transfer& transfer, std::uint64_t nowMs) {
    Transfer::State& state = *transfer.state;
    UsbState& usb = state.usb;
    const Bytes& packet = usb.reply;
    const std::uint16_t type = Big16(&packet[4]);
    const Bytes data(packet.begin() + kVirtualHeader, packet.end());
    usb.reply.clear();
    usb.replyStarted = false;

    if (usb.askedFreeMemory) {
        // Whatever comes, the transfer has failed for want of memory.
        if (type == kDelay && data.size() == 4) {
            state.waiting = true;
            state.waitUntil = nowMs + std::min(Big32(data.data()), kLongestDelayMicroseconds) / 1000;
            return;
        }
        FreeMemoryAnswer(transfer, type == kParameterData ? data : Bytes{});
        return;
    }
    if (type == kDelay) {
        if (data.size() != 4) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " sent a delay request of " + std::to_string(data.size()) + " bytes instead of 4");
            return;
        }
        state.waiting = true;
        state.waitUntil = nowMs + std::min(Big32(data.data()), kLongestDelayMicroseconds) / 1000;
        return;  // the awaited packet follows the delay
    }
    if (type == kError) {
        if (data.size() != 2) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " sent an error packet of " + std::to_string(data.size()) + " bytes instead of 2");
            return;
        }
        CalculatorError(transfer, Big16(data.data()));
        return;
    }
    if (type != usb.expected) {
        Fail(transfer, FailureKind::Protocol,
             Calculator(transfer) + " answered with a packet of type " + Hex16(type) + " where " + Hex16(usb.expected) +
                 " was due: try again");
        return;
    }
    NextStage(transfer);
}

// One whole raw packet from the calculator.
void TakeRawPacket(Transfer& transfer, std::uint8_t type, const Bytes& payload, std::uint64_t nowMs) {
    Transfer::State& state = *transfer.state;
    UsbState& usb = state.usb;
    const auto unexpected = [&](const char* what) {
        Fail(transfer, FailureKind::Protocol,
             Calculator(transfer) + " sent " + what + " (raw packet type " + std::to_string(type) + ", " +
                 std::to_string(payload.size()) + " bytes) out of turn: try again");
    };

    // The calculator may ask for a buffer size of its own in place of an
    // acknowledgement; it is given what it asks, and the acknowledgement
    // still follows.
    if (type == kRawBufferSizeRequest && usb.phase == UsbState::Phase::SendingPacket) {
        if (payload.size() != 4) return unexpected("a malformed buffer size request");
        const std::uint32_t size = std::min<std::uint32_t>(Big32(payload.data()), kRawPayloadLimit);
        if (size <= kVirtualHeader) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " asked for a buffer of " + std::to_string(size) + " bytes, too small for any packet");
            return;
        }
        Bytes allocation;
        PutBig32(allocation, size);
        Queue(transfer, RawPacket(kRawBufferSizeAllocation, allocation));
        usb.rawMax = size;
        return;
    }

    switch (usb.phase) {
    case UsbState::Phase::BufferSize: {
        if (type != kRawBufferSizeAllocation || payload.size() != 4)
            return unexpected("something other than its buffer size");
        std::size_t size = std::min<std::size_t>(Big32(payload.data()), kRawPayloadLimit);
        if (IsCe(transfer)) size = std::min(size, kCeRawPayloadLimit);
        if (size <= kVirtualHeader) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " allocated a buffer of " + std::to_string(size) + " bytes, too small for any packet");
            return;
        }
        usb.rawMax = size;
        SendVirtual(transfer, kModeSet, ModeSetData(), kModeAcknowledge);
        return;
    }
    case UsbState::Phase::SendingPacket: {
        if (type != kRawAcknowledge || payload.size() != 2)
            return unexpected("something other than an acknowledgement");
        if (usb.stage == 2 && !usb.askedFreeMemory)
            transfer.bytesSent = std::min(transfer.bytesTotal, transfer.bytesSent + usb.fragmentBytes);
        if (!usb.fragments.empty()) {
            SendNextFragment(transfer);
            return;
        }
        if (usb.stage == 3) {
            NextStage(transfer);  // the end of transmission went through
            return;
        }
        usb.phase = UsbState::Phase::AwaitReply;
        return;
    }
    case UsbState::Phase::AwaitReply: {
        if (type != kRawVirtualData && type != kRawVirtualDataLast)
            return unexpected("something other than its answer");
        // Every raw packet the calculator sends is acknowledged before
        // anything else goes out, its error and delay packets included.
        Queue(transfer, RawPacket(kRawAcknowledge, Bytes{0xE0, 0x00}));
        usb.reply.insert(usb.reply.end(), payload.begin(), payload.end());
        if (!usb.replyStarted && usb.reply.size() < kVirtualHeader) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " sent an answer too short to hold its header");
            return;
        }
        usb.replyStarted = true;
        if (type == kRawVirtualData) return;
        const std::uint32_t declared = Big32(usb.reply.data());
        if (declared != usb.reply.size() - kVirtualHeader) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " sent an answer of " + std::to_string(usb.reply.size() - kVirtualHeader) +
                     " bytes that says it has " + std::to_string(declared));
            return;
        }
        TakeVirtualPacket(transfer, nowMs);
        return;
    }
    case UsbState::Phase::Finished:
        return;
    }
}

}  // namespace

void StartUsb(Transfer& transfer) {
    Bytes request;
    PutBig32(request, kOfferedBuffer);
    Queue(transfer, RawPacket(kRawBufferSizeRequest, request));
    transfer.state->usb.phase = UsbState::Phase::BufferSize;
}

void TakeUsbBytes(Transfer& transfer, std::uint64_t nowMs) {
    Transfer::State& state = *transfer.state;
    for (;;) {
        if (state.failed || state.done) return;
        Bytes& inbox = state.inbox;
        if (inbox.size() < kRawHeader) return;
        const std::uint32_t size = Big32(inbox.data());
        if (size > kRawPayloadLimit) {
            Fail(transfer, FailureKind::Protocol,
                 Calculator(transfer) + " sent a raw packet of " + std::to_string(size) + " bytes, more than any buffer holds");
            return;
        }
        if (inbox.size() < kRawHeader + size) return;
        const std::uint8_t type = inbox[4];
        const Bytes payload(inbox.begin() + kRawHeader, inbox.begin() + kRawHeader + size);
        inbox.erase(inbox.begin(), inbox.begin() + static_cast<std::ptrdiff_t>(kRawHeader + size));
        TakeRawPacket(transfer, type, payload, nowMs);
    }
}

}  // namespace tilink
