#include "tools/send/recording.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace recording {
namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "fenk-send recording 1";

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool FromHex(const std::string& text, std::vector<std::uint8_t>* bytes) {
    if (text.size() % 2 != 0) return false;
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

const char* StatusName(Status status) {
    switch (status) {
        case Status::Ok: return "ok";
        case Status::Timeout: return "timeout";
        case Status::Error: return "error";
    }
    return "";
}

std::string UsbId(std::uint16_t vendor, std::uint16_t product) {
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
    return text;
}

Json ExchangeJson(const Exchange& exchange) {
    Json json;
    json["ms"] = exchange.ms;
    if (exchange.direction == Direction::Wait) {
        json["dir"] = "wait";
        json["for"] = exchange.timeoutMs;
        return json;
    }
    json["dir"] = exchange.direction == Direction::Out ? "out" : "in";
    json["endpoint"] = exchange.endpoint;
    if (exchange.direction == Direction::In) {
        json["max"] = exchange.maxBytes;
        json["timeout"] = exchange.timeoutMs;
    }
    json["data"] = Hex(exchange.data);
    json["status"] = StatusName(exchange.status);
    if (exchange.status == Status::Error) json["error"] = exchange.error;
    return json;
}

// Reading, without exceptions: each field's type is checked before it is
// taken.
struct Reader {
    std::string problem;

    bool Fail(const std::string& where, const std::string& what) {
        if (problem.empty()) problem = where + what;
        return false;
    }
    bool Text(const Json& object, const char* key, const std::string& where, std::string* out) {
        const auto found = object.find(key);
        if (found == object.end() || !found->is_string()) return Fail(where, std::string("'") + key + "' is not text");
        *out = found->get<std::string>();
        return true;
    }
    bool Number(const Json& object, const char* key, const std::string& where, std::uint64_t max,
                std::uint64_t* out) {
        const auto found = object.find(key);
        if (found == object.end() || !found->is_number_unsigned() || found->get<std::uint64_t>() > max) {
            return Fail(where, std::string("'") + key + "' is not a number up to " + std::to_string(max));
        }
        *out = found->get<std::uint64_t>();
        return true;
    }
    bool Flag(const Json& object, const char* key, const std::string& where, bool* out) {
        const auto found = object.find(key);
        if (found == object.end() || !found->is_boolean()) return Fail(where, std::string("'") + key + "' is not true or false");
        *out = found->get<bool>();
        return true;
    }

    bool ReadExchange(const Json& json, const std::string& where, Exchange* exchange) {
        if (!json.is_object()) return Fail(where, "is not an object");
        std::string direction;
        if (!Number(json, "ms", where, UINT64_MAX, &exchange->ms) || !Text(json, "dir", where, &direction)) return false;
        if (direction == "wait") {
            exchange->direction = Direction::Wait;
            return Number(json, "for", where, UINT64_MAX, &exchange->timeoutMs);
        }
        if (direction != "out" && direction != "in") return Fail(where, "'dir' is not \"out\", \"in\" or \"wait\"");
        exchange->direction = direction == "out" ? Direction::Out : Direction::In;
        std::uint64_t endpoint = 0, maxBytes = 0;
        if (!Number(json, "endpoint", where, 255, &endpoint)) return false;
        exchange->endpoint = static_cast<std::uint8_t>(endpoint);
        if (exchange->direction == Direction::In) {
            if (!Number(json, "max", where, SIZE_MAX, &maxBytes) ||
                !Number(json, "timeout", where, UINT64_MAX, &exchange->timeoutMs)) {
                return false;
            }
            exchange->maxBytes = static_cast<std::size_t>(maxBytes);
        }
        std::string data, status;
        if (!Text(json, "data", where, &data) || !Text(json, "status", where, &status)) return false;
        if (!FromHex(data, &exchange->data)) return Fail(where, "'data' is not hexadecimal");
        if (status == "ok") {
            exchange->status = Status::Ok;
        } else if (status == "timeout") {
            exchange->status = Status::Timeout;
        } else if (status == "error") {
            exchange->status = Status::Error;
            if (!Text(json, "error", where, &exchange->error)) return false;
        } else {
            return Fail(where, "'status' is not \"ok\", \"timeout\" or \"error\"");
        }
        return true;
    }

    bool ReadSend(const Json& json, const std::string& where, Send* send) {
        if (!json.is_object()) return Fail(where, "is not an object");
        const auto variable = json.find("variable");
        const auto transfers = json.find("transfers");
        if (variable == json.end() || !variable->is_object()) return Fail(where, "'variable' is not an object");
        if (transfers == json.end() || !transfers->is_array()) return Fail(where, "'transfers' is not a list");
        std::uint64_t type = 0, version = 0, bytes = 0;
        if (!Text(json, "file", where, &send->file) || !Text(*variable, "name", where, &send->name) ||
            !Number(*variable, "type", where, 255, &type) || !Number(*variable, "version", where, 255, &version) ||
            !Flag(*variable, "archived", where, &send->archived) ||
            !Number(*variable, "bytes", where, SIZE_MAX, &bytes) || !Flag(json, "ok", where, &send->ok) ||
            !Text(json, "result", where, &send->result)) {
            return false;
        }
        send->type = static_cast<std::uint8_t>(type);
        send->version = static_cast<std::uint8_t>(version);
        send->bytes = static_cast<std::size_t>(bytes);
        for (std::size_t i = 0; i < transfers->size(); ++i) {
            Exchange exchange;
            if (!ReadExchange((*transfers)[i], where + "transfer " + std::to_string(i + 1) + ": ", &exchange)) {
                return false;
            }
            send->transfers.push_back(std::move(exchange));
        }
        return true;
    }
};

}  // namespace

std::string RecordingText(const Recording& recording) {
    Json device;
    device["name"] = recording.device;
    device["usb"] = UsbId(recording.vendorId, recording.productId);
    device["bus"] = recording.bus;
    device["address"] = recording.address;
    std::string text = "{\n  \"format\": " + Json(kFormat).dump() + ",\n  \"program\": " +
                       Json(recording.program).dump() + ",\n  \"device\": " + device.dump() + ",\n  \"sends\": [";
    for (std::size_t i = 0; i < recording.sends.size(); ++i) {
        const Send& send = recording.sends[i];
        Json variable;
        variable["name"] = send.name;
        variable["type"] = send.type;
        variable["version"] = send.version;
        variable["archived"] = send.archived;
        variable["bytes"] = send.bytes;
        text += i == 0 ? "\n" : ",\n";
        text += "    {\"file\": " + Json(send.file).dump() + ",\n     \"variable\": " + variable.dump() +
                ",\n     \"transfers\": [";
        for (std::size_t j = 0; j < send.transfers.size(); ++j) {
            text += (j == 0 ? "\n       " : ",\n       ") + ExchangeJson(send.transfers[j]).dump();
        }
        text += "],\n     \"result\": " + Json(send.result).dump() + ", \"ok\": " + (send.ok ? "true" : "false") + "}";
    }
    text += "]\n}\n";
    return text;
}

fenk::Result<Recording> ParseRecording(const std::string& text) {
    const auto fail = [](const std::string& reason) { return fenk::Failed<Recording>(fenk::Failure::Failed, reason); };
    const Json json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    const auto format = json.is_object() ? json.find("format") : json.end();
    if (!json.is_object() || format == json.end() || *format != kFormat) return fail("not a fenk-send recording");
    Recording recording;
    Reader reader;
    const auto device = json.find("device");
    const auto sends = json.find("sends");
    if (device == json.end() || !device->is_object()) return fail("'device' is not an object");
    if (sends == json.end() || !sends->is_array()) return fail("'sends' is not a list");
    std::string usb;
    std::uint64_t bus = 0, address = 0;
    unsigned vendor = 0, product = 0;
    char end = 0;
    if (!reader.Text(json, "program", "", &recording.program) || !reader.Text(*device, "name", "device: ", &recording.device) ||
        !reader.Text(*device, "usb", "device: ", &usb) || !reader.Number(*device, "bus", "device: ", 255, &bus) ||
        !reader.Number(*device, "address", "device: ", 255, &address)) {
        return fail(reader.problem);
    }
    if (std::sscanf(usb.c_str(), "%4x:%4x%c", &vendor, &product, &end) != 2) return fail("device: 'usb' is not VVVV:PPPP");
    recording.vendorId = static_cast<std::uint16_t>(vendor);
    recording.productId = static_cast<std::uint16_t>(product);
    recording.bus = static_cast<int>(bus);
    recording.address = static_cast<int>(address);
    for (std::size_t i = 0; i < sends->size(); ++i) {
        Send send;
        if (!reader.ReadSend((*sends)[i], "send " + std::to_string(i + 1) + ": ", &send)) return fail(reader.problem);
        recording.sends.push_back(std::move(send));
    }
    return fenk::Succeeded(std::move(recording));
}

}  // namespace recording
