#include "web/engine/link_exports.h"

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/link.h"

namespace {

using json = nlohmann::json;

struct LinkModule {
    std::vector<std::uint8_t> input;
    std::string result;
    bool started = false;
    const tilink::DeviceInfo* device = nullptr;
    std::string name;  // the variable's
    tilink::Transfer transfer;
};

LinkModule& TheLink() {
    static LinkModule module;
    return module;
}

std::uint64_t Ms(double nowMs) { return nowMs <= 0 ? 0 : static_cast<std::uint64_t>(nowMs); }

void Answer(const json& value) {
    TheLink().result = value.dump(-1, ' ', false, json::error_handler_t::replace);
}

const char* FailureName(tilink::FailureKind kind) {
    switch (kind) {
        case tilink::FailureKind::None: return "None";
        case tilink::FailureKind::OutOfMemory: return "OutOfMemory";
        case tilink::FailureKind::Busy: return "Busy";
        case tilink::FailureKind::Unplugged: return "Unplugged";
        case tilink::FailureKind::Timeout: return "Timeout";
        case tilink::FailureKind::Refused: return "Refused";
        case tilink::FailureKind::Protocol: return "Protocol";
        case tilink::FailureKind::BadVariable: return "BadVariable";
    }
    return "";
}

}  // namespace

extern "C" {

std::uint8_t* fenk_link_input(std::size_t size) {
    std::vector<std::uint8_t>& input = TheLink().input;
    input.assign(size, 0);
    return input.data();
}

const char* fenk_link_result() { return TheLink().result.c_str(); }
std::size_t fenk_link_result_length() { return TheLink().result.size(); }

void fenk_link_devices() {
    json devices = json::array();
    for (const tilink::DeviceInfo& device : tilink::KnownDevices()) {
        // The calculators and the cable have one configuration with the
        // bulk endpoints on interface 0.
        devices.push_back({{"vendorId", device.vendorId}, {"productId", device.productId}, {"name", device.name},
                           {"calculator", device.calculator}, {"interface", 0}, {"configuration", 1}});
    }
    Answer(devices);
}

int fenk_link_start(std::size_t size, int vendorId, int productId, double nowMs) {
    LinkModule& link = TheLink();
    link.started = false;
    link.device = tilink::FindDevice(static_cast<std::uint16_t>(vendorId), static_cast<std::uint16_t>(productId));
    const std::vector<std::uint8_t> file(link.input.begin(), link.input.begin() + static_cast<std::ptrdiff_t>(
                                                                                   std::min(size, link.input.size())));
    if (link.device == nullptr) {
        Answer({{"ok", false}, {"error", "this device is no calculator or cable Fenk knows"}});
        return 0;
    }
    fenk::Result<tilink::Variable> variable = tilink::VariableFromProgramFile(file);
    if (!variable.ok()) {
        Answer({{"ok", false}, {"error", variable.reason}});
        return 0;
    }
    link.name = variable.value.name;
    link.transfer = tilink::StartTransfer(*link.device, variable.value, Ms(nowMs));
    link.started = true;
    Answer({{"ok", true}, {"name", link.name}, {"bytes", variable.value.data.size()}});
    return 1;
}

void fenk_link_next(double nowMs) {
    LinkModule& link = TheLink();
    if (!link.started) {
        Answer({{"step", "failed"}, {"failure", "BadVariable"}, {"message", "no send has started"}});
        return;
    }
    const tilink::Step step = tilink::Next(link.transfer, Ms(nowMs));
    json answer = {{"sent", link.transfer.bytesSent}, {"total", link.transfer.bytesTotal}};
    switch (step.kind) {
        case tilink::StepKind::Write:
            answer["step"] = "write";
            answer["endpoint"] = step.endpoint;
            answer["data"] = step.bytes;
            break;
        case tilink::StepKind::Read:
            answer["step"] = "read";
            answer["endpoint"] = step.endpoint;
            answer["max"] = step.maxBytes;
            answer["timeout"] = step.timeoutMs;
            break;
        case tilink::StepKind::Wait:
            answer["step"] = "wait";
            answer["ms"] = step.timeoutMs;
            break;
        case tilink::StepKind::Done:
            answer["step"] = "done";
            answer["message"] = "Sent " + link.name + " to the " + link.device->calculator + ".";
            link.started = false;
            break;
        case tilink::StepKind::Failed:
            answer["step"] = "failed";
            answer["failure"] = FailureName(link.transfer.failure);
            answer["message"] = link.transfer.reason;
            link.started = false;
            break;
    }
    Answer(answer);
}

void fenk_link_wrote(int ok, double nowMs) {
    if (TheLink().started) tilink::Wrote(TheLink().transfer, ok != 0, Ms(nowMs));
}

void fenk_link_read(std::size_t size, double nowMs) {
    LinkModule& link = TheLink();
    if (!link.started) return;
    const std::vector<std::uint8_t> bytes(link.input.begin(), link.input.begin() + static_cast<std::ptrdiff_t>(
                                                                                    std::min(size, link.input.size())));
    tilink::Read(link.transfer, bytes, Ms(nowMs));
}

void fenk_link_read_timed_out(double nowMs) {
    if (TheLink().started) tilink::ReadTimedOut(TheLink().transfer, Ms(nowMs));
}

void fenk_link_read_failed(double nowMs) {
    if (TheLink().started) tilink::ReadFailed(TheLink().transfer, Ms(nowMs));
}

}  // extern "C"
