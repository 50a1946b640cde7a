// ti-calc-sim: the scripted calculator over standard input and output, one
// JSON object a line, for the page's tests (a stand-in navigator.usb in
// Node or Chromium backed by this process).
//
//   ti-calc-sim --device silverlink|ti84p|ti84pce [--fault NAME[=VALUE]]...
//
// Requests, each on a line of its own, with an optional "time" in ms (the
// host's clock; without it, the last time given, 0 at first):
//   {"op":"write","endpoint":2,"data":"0123ab"}  ->  {"ok":true} or {"ok":false,"gone":true}
//   {"op":"read","endpoint":129,"max":64}        ->  {"ok":true,"data":"..."} or {"ok":false,"gone":true}
//   {"op":"end"}  ->  {"stored":[{"name":...,"type":5,"version":0,"archived":false,"data":"..."}],
//                      "violations":["..."]}, and the program exits 0.
// A request it cannot read gets {"ok":false,"error":"..."}; the program
// goes on. Standard input ending without "end" exits 1.
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "tests/link/scripted_calculator.h"

namespace {

std::string ToHex(const scripted::Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

bool FromHex(const std::string& text, scripted::Bytes* bytes) {
    if (text.size() % 2 != 0) return false;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

// One line of output; a name with bytes that are not UTF-8 (a TI token)
// comes out with U+FFFD in their place rather than ending the program.
std::string Line(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json Error(const std::string& message) {
    return {{"ok", false}, {"error", message}};
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The scripted calculator over standard input and output, one JSON object a line"};
    std::string deviceName;
    std::vector<std::string> faultTexts;
    app.add_option("--device", deviceName, "silverlink, ti84p or ti84pce")->required();
    app.add_option("--fault", faultTexts, "a fault to inject: out-of-memory[=FREE], busy, delay=MS, "
                                          "error=CODE, resend[=N], silence[=N], short-reads[=N], gone[=N]");
    CLI11_PARSE(app, argc, argv);

    tilink::DeviceKind kind;
    if (!scripted::ParseDeviceKind(deviceName, &kind)) {
        std::cerr << "ti-calc-sim: unknown device '" << deviceName << "' (silverlink, ti84p or ti84pce)\n";
        return 2;
    }
    std::vector<scripted::Fault> faults;
    for (const std::string& text : faultTexts) {
        scripted::Fault fault;
        std::string error;
        if (!scripted::ParseFault(text, kind, &fault, &error)) {
            std::cerr << "ti-calc-sim: " << error << "\n";
            return 2;
        }
        faults.push_back(fault);
    }

    scripted::Calculator calculator = scripted::MakeCalculator(kind, faults);
    std::uint64_t now = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const nlohmann::json request = nlohmann::json::parse(line, nullptr, false);
        nlohmann::json answer;
        if (!request.is_object() || !request.contains("op") || !request["op"].is_string()) {
            std::cout << Line(Error("each line must be a JSON object with an \"op\"")) << std::endl;
            continue;
        }
        if (request.contains("time")) {
            if (!request["time"].is_number_unsigned()) {
                std::cout << Line(Error("\"time\" must be a whole number of milliseconds")) << std::endl;
                continue;
            }
            now = request["time"].get<std::uint64_t>();
        }
        const std::string op = request["op"].get<std::string>();
        const auto endpointOf = [&](int* endpoint) {
            if (!request.contains("endpoint") || !request["endpoint"].is_number_unsigned() ||
                request["endpoint"].get<std::uint64_t>() > 255)
                return false;
            *endpoint = request["endpoint"].get<int>();
            return true;
        };
        if (op == "write") {
            int endpoint = 0;
            scripted::Bytes bytes;
            if (!endpointOf(&endpoint) || !request.contains("data") || !request["data"].is_string() ||
                !FromHex(request["data"].get<std::string>(), &bytes)) {
                answer = Error("a write needs an \"endpoint\" (0..255) and \"data\" in hex");
            } else if (scripted::HostWrite(calculator, static_cast<std::uint8_t>(endpoint), bytes, now)) {
                answer = {{"ok", true}};
            } else {
                answer = {{"ok", false}, {"gone", true}};
            }
        } else if (op == "read") {
            int endpoint = 0;
            if (!endpointOf(&endpoint) || !request.contains("max") || !request["max"].is_number_unsigned()) {
                answer = Error("a read needs an \"endpoint\" (0..255) and \"max\"");
            } else {
                const scripted::ReadResult read = scripted::HostRead(
                    calculator, static_cast<std::uint8_t>(endpoint), request["max"].get<std::size_t>(), now);
                if (read.gone)
                    answer = {{"ok", false}, {"gone", true}};
                else
                    answer = {{"ok", true}, {"data", ToHex(read.bytes)}};
            }
        } else if (op == "end") {
            nlohmann::json stored = nlohmann::json::array();
            for (const scripted::StoredVariable& variable : scripted::Stored(calculator)) {
                stored.push_back({{"name", variable.name},
                                  {"type", variable.type},
                                  {"version", variable.version},
                                  {"archived", variable.archived},
                                  {"data", ToHex(variable.data)}});
            }
            std::cout << Line(nlohmann::json{{"stored", stored}, {"violations", scripted::Violations(calculator)}})
                      << std::endl;
            return 0;
        } else {
            answer = Error("unknown op \"" + op + "\" (write, read, end)");
        }
        std::cout << Line(answer) << std::endl;
    }
    return 1;
}
