// fenk-send SONG...: songs onto a TI calculator over its USB port or TI's
// SilverLink cable. A song text or MIDI file is compiled as fenk-make
// compiles it; a .8xp goes as it is.
#include <cstdio>
#include <string>
#include <vector>

#include "link/link.h"
#include "songfile/songfile.h"
#include "tools/common/song_source.h"
#include "tools/common/tool_support.h"
#include "tools/send/recording.h"
#include "tools/send/usb_link.h"

namespace {

constexpr const char* kProgram = "fenk-send";

// A song ready to go: the variable, and the name it was given by.
struct Song {
    std::string path;
    tilink::Variable variable;
};

// The variable of each song, or false after saying why one cannot be sent.
bool LoadSongs(const std::vector<std::string>& paths, std::vector<Song>* songs) {
    for (const std::string& path : paths) {
        const fenk::Result<std::vector<std::uint8_t>> read = tools::ReadWholeFile(path);
        if (!read.ok()) {
            tools::PrintError(kProgram, read.reason);
            return false;
        }
        std::vector<std::uint8_t> file;
        if (!tools::SongAsProgramFile(path, read.value, &file)) return false;
        fenk::Result<tilink::Variable> variable = tilink::VariableFromProgramFile(file);
        if (!variable.ok()) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), variable.reason.c_str());
            return false;
        }
        // A damaged file is not put on a calculator: its checksum covers
        // what the calculator would store.
        std::uint16_t checksum = 0;
        const std::size_t stored = songfile::kTiHeader.sizeWord.offset + variable.value.data.size();
        if (!songfile::ComputeTiChecksum(file, &checksum) || file.size() < stored + 2 ||
            checksum != static_cast<std::uint16_t>(file[stored] | file[stored + 1] << 8)) {
            std::fprintf(stderr, "%s: its checksum is wrong (the file is damaged); it is not sent\n", path.c_str());
            return false;
        }
        songs->push_back({path, std::move(variable.value)});
    }
    return true;
}

void PrintDevices(const std::vector<usblink::Found>& devices, std::FILE* out) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        std::fprintf(out, "%3zu  %s\n", i + 1, usblink::DescribeDevice(devices[i]).c_str());
    }
}

// The progress bar on standard error: "DEMO  [=========           ]  45%".
class ProgressBar {
public:
    ProgressBar(bool shown, const std::string& name) : shown_(shown), name_(name) {}
    void Show(const tilink::Transfer& transfer) {
        if (!shown_ || transfer.bytesTotal == 0) return;
        const int percent = static_cast<int>(transfer.bytesSent * 100 / transfer.bytesTotal);
        if (percent == last_) return;
        last_ = percent;
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r%-8s [%s%s] %3d%%  %zu of %zu bytes", name_.c_str(),
                     std::string(static_cast<std::size_t>(filled), '=').c_str(),
                     std::string(static_cast<std::size_t>(kWidth - filled), ' ').c_str(), percent,
                     transfer.bytesSent, transfer.bytesTotal);
        std::fflush(stderr);
    }
    void Clear() {
        if (shown_ && last_ >= 0) std::fputs("\r\033[K", stderr);
        last_ = -1;
    }

private:
    bool shown_;
    std::string name_;
    int last_ = -1;
};

bool WriteRecording(const std::string& path, const recording::Recording& record) {
    if (path.empty()) return true;
    const std::string text = recording::RecordingText(record);
    const fenk::Status written = tools::WriteFileReplacing(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    if (!written.ok()) tools::PrintError(kProgram, written.reason);
    return written.ok();
}

int Main(int argc, char** argv) {
    CLI::App app("Send songs to a TI-83 Plus, TI-84 Plus or TI-84 Plus CE calculator: over the\n"
                 "calculator's own USB port, or its link port through TI's SilverLink cable.",
                 kProgram);
    std::vector<std::string> paths;
    bool list = false;
    int deviceNumber = 0;
    std::string recordPath;
    app.add_option("SONG", paths,
                   "a song file (.8xp) to send as it is, or a song text or MIDI file (.mid) to\n"
                   "compile as fenk-make does and send");
    app.add_flag("--list", list, "list the calculators and cables found, numbered for --device, and end");
    app.add_option("--device", deviceNumber, "send to the device of this number in --list (when several are found)")
        ->check(CLI::PositiveNumber);
    app.add_option("--record", recordPath,
                   "write the whole exchange with the device to FILE (JSON: every transfer's\n"
                   "direction, endpoint, bytes and time), to attach to a bug report");
    app.footer("Linux: a user who is not root needs Fenk's udev rule (the fenk package installs\n"
               "it). Windows: the calculator needs the WinUSB driver (Zadig gives it). See\n"
               "fenk-send(1) and docs/tools.md.");
    const tools::StandardOptionsOutcome standard = tools::ParseCommandLine(kProgram, app, argc, argv);
    if (!standard.proceed) return standard.exitStatus;
    if (!list && paths.empty()) {
        tools::PrintError(kProgram, "name a song to send, or --list (try 'fenk-send --help')");
        return 1;
    }
    if (list && (!paths.empty() || deviceNumber != 0 || !recordPath.empty())) {
        tools::PrintError(kProgram, "--list takes no song, --device or --record");
        return 1;
    }
    if (!recordPath.empty()) {
        const std::string error = tools::OutputOverInput(recordPath, paths);
        if (!error.empty()) {
            tools::PrintError(kProgram, error);
            return 1;
        }
    }

    std::vector<Song> songs;
    if (!LoadSongs(paths, &songs)) return 1;

    fenk::Result<usblink::UsbPtr> usb = usblink::StartUsb();
    if (!usb.ok()) {
        tools::PrintError(kProgram, usb.reason);
        return 1;
    }
    const fenk::Result<std::vector<usblink::Found>> found = usblink::FindDevices(*usb.value);
    if (!found.ok()) {
        tools::PrintError(kProgram, found.reason);
        return 1;
    }
    const std::vector<usblink::Found>& devices = found.value;
    if (list) {
        if (devices.empty()) {
            std::printf("No calculator or cable found.\n");
        } else {
            PrintDevices(devices, stdout);
        }
        return 0;
    }
    if (devices.empty()) {
        tools::PrintError(kProgram, "no calculator or cable found: plug in a TI-84 Plus or TI-84 Plus CE with its "
                                    "USB cable, or TI's SilverLink cable with a calculator on it");
        return 1;
    }
    if (deviceNumber > static_cast<int>(devices.size())) {
        tools::PrintError(kProgram, "there is no device " + std::to_string(deviceNumber) + "; these were found:");
        PrintDevices(devices, stderr);
        return 1;
    }
    if (deviceNumber == 0 && devices.size() > 1) {
        tools::PrintError(kProgram, std::to_string(devices.size()) + " devices found; pick one with --device N:");
        PrintDevices(devices, stderr);
        return 1;
    }
    const usblink::Found& device = devices[deviceNumber == 0 ? 0 : static_cast<std::size_t>(deviceNumber - 1)];

    recording::Recording record;
    record.program = tools::VersionLine(kProgram);
    if (!record.program.empty() && record.program.back() == '\n') record.program.pop_back();
    record.device = device.info->name;
    record.vendorId = device.info->vendorId;
    record.productId = device.info->productId;
    record.bus = device.bus;
    record.address = device.address;

    fenk::Result<usblink::ConnectionPtr> connection = usblink::OpenDevice(*usb.value, device);
    if (!connection.ok()) {
        tools::PrintError(kProgram, connection.reason);
        WriteRecording(recordPath, record);
        return 1;
    }
    tools::WatchInterrupts();
    const std::uint64_t clockStart = usblink::NowMs();
    const bool bar = tools::StandardErrorIsTerminal();
    int status = 0;
    for (const Song& song : songs) {
        recording::Send send;
        send.file = song.path;
        send.name = song.variable.name;
        send.type = song.variable.type;
        send.version = song.variable.version;
        send.archived = song.variable.archived;
        send.bytes = song.variable.data.size();
        ProgressBar progress(bar, song.variable.name);
        const usblink::SendResult sent =
            usblink::SendVariable(*connection.value, song.variable, clockStart, &send.transfers,
                                  [&progress](const tilink::Transfer& transfer) { progress.Show(transfer); });
        progress.Clear();
        send.ok = sent.done;
        if (sent.done) {
            send.result = "Sent " + song.variable.name + " (" + std::to_string(send.bytes) + " bytes) to the " +
                          device.info->calculator + ".";
            std::printf("%s\n", send.result.c_str());
            std::fflush(stdout);
        } else {
            send.result = sent.interrupted ? "interrupted; " + song.variable.name + " was not sent" : sent.reason;
            tools::PrintError(kProgram, song.path + ": " + send.result);
        }
        record.sends.push_back(std::move(send));
        if (!sent.done) {
            status = 1;
            break;
        }
    }
    const bool interrupted = tools::Interrupted();
    if (!WriteRecording(recordPath, record)) status = 1;
    if (interrupted) {
        // The device is let go of before the signal ends the program.
        connection.value.reset();
        usb.value.reset();
        tools::ExitAsInterrupted();
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) { return tools::RunTool(kProgram, Main, argc, argv); }
