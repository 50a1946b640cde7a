// Fuzz target: bytes as what a calculator sends back. The link library
// sends a program to one of its devices (the first input byte picks which,
// the second the variable's size) and every read it asks for is answered
// with the next piece of the input ([length byte][that many bytes]; length
// 0 is a read that got nothing, 0xFF a failed read); once the input is
// used up, reads time out. Besides the sanitizers: the transfer must end,
// Done or Failed with a reason, within the stall time of the last answer;
// each USB write must be one whole raw packet (or a zero-length packet),
// each link port write a packet from the PC.
#include <cstdint>
#include <cstddef>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 2) return 0;
    const tilink::DeviceInfo& device = tilink::KnownDevices()[input[0] % tilink::KnownDevices().size()];
    tilink::Variable variable;
    variable.name = "FUZZ";
    variable.data.assign(2 + (input[1] * 37u) % 3000u, 0xA5);
    std::size_t at = 2;

    std::uint64_t now = 0;
    std::uint64_t lastAnswer = 0;
    tilink::Transfer transfer = tilink::StartTransfer(device, variable, now);
    for (std::size_t steps = 0;; ++steps) {
        // Every step either takes input, writes what input caused, or moves
        // the clock on; a transfer that takes more is stuck.
        FUZZ_CHECK(steps < 1000000);
        const tilink::Step step = tilink::Next(transfer, now);
        if (step.kind == tilink::StepKind::Write) {
            const std::vector<std::uint8_t>& bytes = step.bytes;
            if (device.kind == tilink::DeviceKind::SilverLink) {
                FUZZ_CHECK(bytes.size() >= 4 && bytes[0] == 0x23);
            } else if (!bytes.empty()) {
                FUZZ_CHECK(bytes.size() >= 5 && bytes.size() <= 5 + 1023);
                const std::size_t declared = (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) |
                                             (std::size_t{bytes[2]} << 8) | bytes[3];
                FUZZ_CHECK(declared + 5 == bytes.size());
            }
            tilink::Wrote(transfer, true, now);
        } else if (step.kind == tilink::StepKind::Read) {
            FUZZ_CHECK(step.timeoutMs >= 1 && step.timeoutMs <= tilink::kStallMilliseconds);
            if (at < size) {
                const std::size_t length = input[at++];
                if (length == 0xFF) {
                    tilink::ReadFailed(transfer, now);
                } else {
                    const std::size_t take = length < size - at ? length : size - at;
                    std::vector<std::uint8_t> bytes(input + at, input + at + take);
                    at += take;
                    now += 1;
                    lastAnswer = now;
                    if (bytes.empty())
                        tilink::ReadTimedOut(transfer, now);
                    else
                        tilink::Read(transfer, bytes, now);
                }
            } else {
                now += step.timeoutMs;
                tilink::ReadTimedOut(transfer, now);
            }
        } else if (step.kind == tilink::StepKind::Wait) {
            FUZZ_CHECK(step.timeoutMs <= 400);
            now += step.timeoutMs;
        } else if (step.kind == tilink::StepKind::Done) {
            FUZZ_CHECK(transfer.failure == tilink::FailureKind::None);
            FUZZ_CHECK(transfer.bytesSent == transfer.bytesTotal);
            break;
        } else {
            FUZZ_CHECK(transfer.failure != tilink::FailureKind::None);
            FUZZ_CHECK(!transfer.reason.empty());
            break;
        }
        FUZZ_CHECK(transfer.bytesSent <= transfer.bytesTotal);
    }
    // Nothing hangs: after the last answer, at most one delay and the stall.
    FUZZ_CHECK(now - lastAnswer <= tilink::kStallMilliseconds + 400 + 1);
    return 0;
}
