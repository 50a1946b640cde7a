// ti-calc-sim, the scripted calculator over standard input and output, as
// the page's tests drive it: a whole send replayed line by line must get
// the answers the library got in-process, and end with the variable stored.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/link.h"
#include "tests/link/scripted_calculator.h"
#include "tests/platform/child_process.h"
#include "tests/support/test_support.h"

namespace {

std::string Hex(const scripted::Bytes& bytes) {
    std::string text;
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

struct SimRun {
    int exitStatus = -1;
    std::vector<nlohmann::json> answers;  // one per line of output
};

// Runs ti-calc-sim with `arguments`, the `lines` on its standard input.
SimRun RunSim(const test_support::TempDir& dir, const std::vector<std::string>& arguments,
              const std::vector<std::string>& lines) {
    const std::string in = dir.File("in.jsonl"), out = dir.File("out.jsonl");
    {
        std::ofstream script(in);
        for (const std::string& line : lines) script << line << "\n";
    }
    SimRun run;
    run.exitStatus = child_process::ExitStatusOf([&] {
        if (!std::freopen(in.c_str(), "r", stdin) || !std::freopen(out.c_str(), "w", stdout)) return 126;
        std::vector<char*> argv{const_cast<char*>(FENK_TI_CALC_SIM_PATH)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        return 127;
    });
    std::ifstream answers(out);
    std::string line;
    while (std::getline(answers, line)) run.answers.push_back(nlohmann::json::parse(line, nullptr, false));
    return run;
}

TEST(TiCalcSimTest, ServesAWholeSendLineByLine) {
    test_support::TempDir dir;
    test_support::Bytes body(600);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i);
    const tilink::Variable variable = tilink::VariableFromProgramFile(test_support::ProgramFile(body, "DEMO")).value;

    for (const char* device : {"silverlink", "ti84p", "ti84pce"}) {
        SCOPED_TRACE(device);
        tilink::DeviceKind kind;
        ASSERT_TRUE(scripted::ParseDeviceKind(device, &kind));
        scripted::Calculator calculator = scripted::MakeCalculator(kind);
        ASSERT_EQ(scripted::DriveTransfer(calculator, variable).transfer.failure, tilink::FailureKind::None);

        // The same exchange as lines, with one the program cannot read.
        std::vector<std::string> lines = {"not json"};
        std::vector<std::string> expected = {""};
        for (const scripted::Exchanged& e : scripted::Exchange(calculator)) {
            if (e.fromHost) {
                lines.push_back(nlohmann::json{{"op", "write"}, {"endpoint", e.endpoint}, {"data", Hex(e.bytes)}}.dump());
                expected.push_back("");
            } else {
                lines.push_back(nlohmann::json{{"op", "read"}, {"endpoint", e.endpoint}, {"max", 64}}.dump());
                expected.push_back(Hex(e.bytes));
            }
        }
        lines.push_back(R"({"op":"end"})");
        const SimRun run = RunSim(dir, {"--device", device}, lines);
        ASSERT_EQ(run.exitStatus, 0);
        ASSERT_EQ(run.answers.size(), lines.size());
        EXPECT_EQ(run.answers[0]["ok"], false);
        EXPECT_TRUE(run.answers[0].contains("error"));
        for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
            EXPECT_EQ(run.answers[i]["ok"], true) << lines[i];
            if (!expected[i].empty()) {
                EXPECT_EQ(run.answers[i]["data"], expected[i]) << lines[i];
            }
        }
        const nlohmann::json& end = run.answers.back();
        ASSERT_EQ(end["stored"].size(), 1u);
        EXPECT_EQ(end["stored"][0]["name"], "DEMO");
        EXPECT_EQ(end["stored"][0]["type"], 5);
        EXPECT_EQ(end["stored"][0]["archived"], false);
        EXPECT_EQ(end["stored"][0]["data"], Hex(variable.data));
        EXPECT_EQ(end["violations"], nlohmann::json::array());
    }
}

TEST(TiCalcSimTest, SaysWhenTheCableIsGoneAndRefusesUnknownFaults) {
    test_support::TempDir dir;
    const SimRun gone = RunSim(dir, {"--device", "ti84p", "--fault", "gone=0"},
                               {R"({"op":"write","endpoint":2,"data":"000000040100000400","time":5})",
                                R"({"op":"read","endpoint":129,"max":64})", R"({"op":"end"})"});
    ASSERT_EQ(gone.exitStatus, 0);
    ASSERT_EQ(gone.answers.size(), 3u);
    EXPECT_EQ(gone.answers[0], (nlohmann::json{{"ok", false}, {"gone", true}}));
    EXPECT_EQ(gone.answers[1], (nlohmann::json{{"ok", false}, {"gone", true}}));

    EXPECT_EQ(RunSim(dir, {"--device", "ti84p", "--fault", "resend"}, {}).exitStatus, 2);
    EXPECT_EQ(RunSim(dir, {"--device", "ti89"}, {}).exitStatus, 2);
    // Input that ends without "end" is no finished session.
    EXPECT_EQ(RunSim(dir, {"--device", "ti84pce"}, {}).exitStatus, 1);
}

}  // namespace
