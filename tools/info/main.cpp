// fenk-info SONG [--json]: shows what a song file holds.
#include <cstdio>
#include <string>

#include "tools/info/song_report.h"
#include "tools/common/tool_support.h"

namespace {

constexpr const char* kProgram = "fenk-info";


// The tool itself; main runs it through tools::RunTool.
int Main(int argc, char** argv) {
    CLI::App app("Show what a Fenk song file (a TI-83 Plus program) holds: the header\n"
                 "fields and whether the checksum matches, the title, artist and album,\n"
                 "the order list, and every section's rows with their periods, rates,\n"
                 "notes (for the default sample) and durations, and the song's length.\n"
                 "Data that is cut short or points outside the file is named.",
                 kProgram);
    std::string songPath;
    bool json = false;
    app.add_option("SONG", songPath, "the song file")->required();
    app.add_flag("--json", json, "write one JSON object instead of text");
    app.footer("Exit status: 0 for a song fenk plays, 1 when the file cannot be read,\n"
               "is not a TI-83 Plus program file or holds no song.");
    const tools::StandardOptionsOutcome standard = tools::ParseCommandLine(kProgram, app, argc, argv);
    if (!standard.proceed) return standard.exitStatus;
    const fenk::Result<info::Report> result = info::InspectSongFile(songPath);
    if (!result.ok()) {
        tools::PrintError(kProgram, result.reason);
        return 1;
    }
    const info::Report& report = result.value;
    const std::string text = json ? info::FormatJson(report) : info::FormatText(report);
    std::fputs(text.c_str(), stdout);
    if (!report.isSong) {
        tools::PrintError(kProgram, report.problems.empty() ? "not a song" : report.problems.back());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
