// The transfer's common half: the queue of writes, the reads, the stall
// timer and the delay; each protocol takes the bytes apart itself.
#include <algorithm>
#include <utility>

#include "link/internal.h"

namespace tilink {

void Fail(Transfer& transfer, FailureKind kind, const std::string& reason) {
    Transfer::State& state = *transfer.state;
    if (state.failed || state.done) return;
    state.failed = true;
    // What is queued still goes out (the acknowledgement of the error
    // packet that ended the transfer), unless the link itself is gone.
    if (kind == FailureKind::Unplugged || kind == FailureKind::Timeout) state.outbox.clear();
    transfer.failure = kind;
    transfer.reason = reason;
}

void Queue(Transfer& transfer, Bytes bytes) {
    transfer.state->outbox.push_back(std::move(bytes));
}

void Finish(Transfer& transfer) {
    Transfer::State& state = *transfer.state;
    if (state.failed) return;
    state.done = true;
    transfer.bytesSent = transfer.bytesTotal;
}

std::string Calculator(const Transfer& transfer) {
    return std::string("the ") + transfer.state->device.calculator;
}

Transfer StartTransfer(const DeviceInfo& device, const Variable& variable, std::uint64_t nowMs) {
    Transfer transfer;
    transfer.state = std::make_shared<Transfer::State>();
    Transfer::State& state = *transfer.state;
    state.device = device;
    state.variable = variable;
    state.lastHeard = nowMs;
    transfer.bytesTotal = variable.data.size();

    // A name is 1..8 bytes on every model; the link port's RTS has room
    // for no more, and a longer one would be cut where libticalcs cuts it.
    if (variable.name.empty() || variable.name.size() > 8 ||
        variable.name.find('\0') != std::string::npos) {
        Fail(transfer, FailureKind::BadVariable,
             "the variable's name must be 1 to 8 characters, not \"" + variable.name + "\"");
        return transfer;
    }
    if (variable.data.size() < 2 || variable.data.size() > kMaxVariableBytes) {
        Fail(transfer, FailureKind::BadVariable,
             variable.name + " cannot be sent: its data must be 2 to 65535 bytes, not " +
                 std::to_string(variable.data.size()));
        return transfer;
    }
    if (device.kind == DeviceKind::SilverLink)
        StartPort(transfer);
    else
        StartUsb(transfer);
    return transfer;
}

Step Next(Transfer& transfer, std::uint64_t nowMs) {
    Step step;
    Transfer::State& state = *transfer.state;
    if (!state.outbox.empty()) {
        step.kind = StepKind::Write;
        step.endpoint = state.device.outEndpoint;
        step.bytes = state.outbox.front();
        return step;
    }
    if (state.failed) return step;  // Failed
    if (state.done) {
        step.kind = StepKind::Done;
        return step;
    }
    if (state.waiting) {
        if (nowMs < state.waitUntil) {
            step.kind = StepKind::Wait;
            step.timeoutMs = state.waitUntil - nowMs;
            return step;
        }
        // The calculator's delay is over; the stall timer starts again.
        state.waiting = false;
        state.lastHeard = std::max(state.lastHeard, state.waitUntil);
    }
    const std::uint64_t silent = nowMs > state.lastHeard ? nowMs - state.lastHeard : 0;
    if (silent >= kStallMilliseconds) {
        Fail(transfer, FailureKind::Timeout,
             Calculator(transfer) + " did not answer for " + std::to_string(kStallMilliseconds / 1000) +
                 " seconds: check that it is on and shows its home screen, and that the cable is pushed in all the way");
        return step;
    }
    step.kind = StepKind::Read;
    step.endpoint = state.device.inEndpoint;
    step.maxBytes = state.device.readSize;
    step.timeoutMs = kStallMilliseconds - silent;
    return step;
}

void Wrote(Transfer& transfer, bool ok, std::uint64_t nowMs) {
    Transfer::State& state = *transfer.state;
    if (state.outbox.empty()) return;
    if (!ok) {
        Fail(transfer, FailureKind::Unplugged,
             "the connection to " + Calculator(transfer) +
                 " was lost: check that the cable is plugged in at both ends and send again");
        return;
    }
    state.outbox.pop_front();
    state.lastHeard = nowMs;
    ++transfer.packetsSent;
}

void Read(Transfer& transfer, const std::vector<std::uint8_t>& bytes, std::uint64_t nowMs) {
    Transfer::State& state = *transfer.state;
    if (state.failed || state.done) return;
    // A zero-length packet (after one of exactly 64 bytes) carries nothing.
    if (bytes.empty()) return;
    state.inbox.insert(state.inbox.end(), bytes.begin(), bytes.end());
    state.lastHeard = nowMs;
    if (state.device.kind == DeviceKind::SilverLink)
        TakePortBytes(transfer);
    else
        TakeUsbBytes(transfer, nowMs);
}

void ReadTimedOut(Transfer& transfer, std::uint64_t nowMs) {
    // Nothing to do: Next() fails the transfer once the silence has lasted
    // kStallMilliseconds, whatever the reads' own timeouts were.
    (void)transfer;
    (void)nowMs;
}

void ReadFailed(Transfer& transfer, std::uint64_t nowMs) {
    (void)nowMs;
    Fail(transfer, FailureKind::Unplugged,
         "the connection to " + Calculator(transfer) +
             " was lost: check that the cable is plugged in at both ends and send again");
}

}  // namespace tilink
