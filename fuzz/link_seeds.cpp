// Writes the seed inputs of the link fuzz target: what the scripted
// calculator answers a correct send on each device, plainly and with a
// delay, a refusal or a resend request, in the target's input form.
// Usage: fuzz_link_seeds FOLDER
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/link/scripted_calculator.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The answers of `kind` to a send of the variable the target builds from
// `sizeByte`, with `faults`, as [length][bytes] pieces (at most 254 bytes
// each).
fuzz_support::Seed Answers(const std::string& name, std::uint8_t deviceByte, std::uint8_t sizeByte,
                           const std::vector<scripted::Fault>& faults) {
    const tilink::DeviceInfo& device = tilink::KnownDevices()[deviceByte];
    scripted::Calculator calculator = scripted::MakeCalculator(device.kind, faults);
    tilink::Variable variable;
    variable.name = "FUZZ";
    variable.data.assign(2 + (sizeByte * 37u) % 3000u, 0xA5);
    scripted::DriveTransfer(calculator, variable);
    Bytes input{deviceByte, sizeByte};
    for (const scripted::Exchanged& exchanged : scripted::Exchange(calculator)) {
        if (exchanged.fromHost) continue;
        for (std::size_t at = 0; at < exchanged.bytes.size(); at += 254) {
            const std::size_t take = std::min<std::size_t>(254, exchanged.bytes.size() - at);
            input.push_back(static_cast<std::uint8_t>(take));
            input.insert(input.end(), exchanged.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         exchanged.bytes.begin() + static_cast<std::ptrdiff_t>(at + take));
        }
    }
    return {name, input};
}

scripted::Fault Fault(scripted::FaultKind kind, std::uint32_t value) {
    scripted::Fault fault;
    fault.kind = kind;
    fault.value = value;
    return fault;
}

std::vector<fuzz_support::Seed> MakeSeeds() {
    std::vector<fuzz_support::Seed> seeds;
    const char* names[] = {"silverlink", "ti84p", "ti84pce"};
    for (std::uint8_t device = 0; device < 3; ++device) {
        const std::string name = names[device];
        seeds.push_back(Answers(name + "-small", device, 1, {}));
        seeds.push_back(Answers(name + "-large", device, 200, {}));
        seeds.push_back(Answers(name + "-full", device, 20, {Fault(scripted::FaultKind::OutOfMemory, 10)}));
        seeds.push_back(Answers(name + "-busy", device, 20, {Fault(scripted::FaultKind::Busy, 0)}));
    }
    seeds.push_back(Answers("ti84p-delay", 1, 20, {Fault(scripted::FaultKind::Delay, 100)}));
    seeds.push_back(Answers("ti84pce-delay", 2, 20, {Fault(scripted::FaultKind::Delay, 100)}));
    seeds.push_back(Answers("silverlink-resend", 0, 20, {Fault(scripted::FaultKind::Resend, 2)}));
    return seeds;
}

}  // namespace

int main(int argc, char** argv) {
    return fuzz_support::WriteSeeds(argc, argv, ".bin", &MakeSeeds);
}
