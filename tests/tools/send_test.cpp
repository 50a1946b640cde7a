// fenk-send's real path, libusb and the kernel's usbfs calls included,
// against calculators that umockdev fakes: the exchange a scripted
// calculator has with the link library is recorded in fenk-send's
// recording form, turned into a usbmon capture, and replayed by
// umockdev-run under fenk-send. The replay hands fenk-send each of the
// calculator's answers only once fenk-send has written, byte for byte, what
// the recording says it wrote, so a send that goes through is the
// recorded exchange.
#include <gtest/gtest.h>

#include <pcap/pcap.h>
#include <pcap/usb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/link.h"
#include "tests/link/scripted_calculator.h"
#include "tests/platform/child_process.h"
#include "tests/support/test_support.h"
#include "tools/send/recording.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const tilink::DeviceInfo& Device(tilink::DeviceKind kind) {
    for (const tilink::DeviceInfo& device : tilink::KnownDevices()) {
        if (device.kind == kind) return device;
    }
    ADD_FAILURE() << "no such device kind";
    return tilink::KnownDevices().front();
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

// A fake device on bus 1 for umockdev: its sysfs entry, its udev properties
// and its device node, whose contents are its descriptors (the device's,
// then one configuration with one interface and the two bulk endpoints).
struct FakeDevice {
    const tilink::DeviceInfo* info;
    int address;
    std::string SysfsPath() const {
        return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(address);
    }
    std::string Description() const {
        const Bytes descriptors = {
            18, 1, 0x00, 0x02, 0, 0, 0, 64,                                          // USB 2.0, 64-byte ep0
            static_cast<std::uint8_t>(info->vendorId), static_cast<std::uint8_t>(info->vendorId >> 8),
            static_cast<std::uint8_t>(info->productId), static_cast<std::uint8_t>(info->productId >> 8),
            0x00, 0x01, 0, 0, 0, 1,                                                  // no strings, 1 configuration
            9, 2, 32, 0, 1, 1, 0, 0x80, 50,                                          // configuration 1
            9, 4, 0, 0, 2, 0xFF, 0, 0, 0,                                            // interface 0, vendor class
            7, 5, info->inEndpoint, 2, 64, 0, 0,                                     // bulk IN
            7, 5, info->outEndpoint, 2, 64, 0, 0};                                   // bulk OUT
        char node[16], product[32], ids[64];
        std::snprintf(node, sizeof node, "001/%03d", address);
        std::snprintf(product, sizeof product, "%x/%x/100", info->vendorId, info->productId);
        std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", info->vendorId, info->productId);
        return "P: " + SysfsPath().substr(4) + "\nN: bus/usb/" + node + "=" + Hex(descriptors) +
               "\nE: DEVNAME=/dev/bus/usb/" + node + "\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: PRODUCT=" + product +
               "\nE: BUSNUM=001\nE: DEVNUM=" + std::string(node + 4) + "\nE: SUBSYSTEM=usb\nE: MAJOR=189\nE: MINOR=" +
               std::to_string(address) + "\nA: bConfigurationValue=1\nA: bNumConfigurations=1\nA: bNumInterfaces= 1\n" +
               "A: busnum=1\nA: devnum=" + std::to_string(address) + "\nA: devpath=" + std::to_string(address) +
               "\n" + ids + "A: speed=12\nH: descriptors=" + Hex(descriptors) + "\n\n";
    }
};

// The exchange the link library has with a scripted calculator, in the
// form fenk-send records it. A read that gets nothing is a read that timed
// out on a real bus.
recording::Send ExchangeWith(scripted::Calculator& calculator, const tilink::DeviceInfo& device,
                             const tilink::Variable& variable, tilink::Transfer* ended) {
    recording::Send send;
    std::uint64_t clock = 0;
    tilink::Transfer transfer = tilink::StartTransfer(device, variable, clock);
    for (;;) {
        const tilink::Step step = tilink::Next(transfer, clock);
        recording::Exchange exchange;
        exchange.ms = clock;
        exchange.endpoint = step.endpoint;
        if (step.kind == tilink::StepKind::Write) {
            exchange.direction = recording::Direction::Out;
            exchange.data = step.bytes;
            const bool ok = scripted::HostWrite(calculator, step.endpoint, step.bytes, clock);
            EXPECT_TRUE(ok) << "the scripted calculator is gone";
            tilink::Wrote(transfer, ok, ++clock);
        } else if (step.kind == tilink::StepKind::Read) {
            exchange.direction = recording::Direction::In;
            exchange.maxBytes = step.maxBytes;
            exchange.timeoutMs = step.timeoutMs;
            const scripted::ReadResult read = scripted::HostRead(calculator, step.endpoint, step.maxBytes, clock);
            exchange.data = read.bytes;
            if (read.bytes.empty()) {
                exchange.status = recording::Status::Timeout;
                clock += step.timeoutMs;
                tilink::ReadTimedOut(transfer, clock);
            } else {
                tilink::Read(transfer, read.bytes, ++clock);
            }
        } else if (step.kind == tilink::StepKind::Wait) {
            exchange.direction = recording::Direction::Wait;
            exchange.timeoutMs = step.timeoutMs;
            clock += step.timeoutMs;
        } else {
            break;
        }
        send.transfers.push_back(exchange);
    }
    *ended = transfer;
    return send;
}

// The exchange as Linux's usbmon would have captured it, for umockdev's
// replay: each transfer's submission and completion. A read that timed out
// has no completion: fenk-send's libusb cancels it.
void WriteCapture(const std::string& path, int address, const std::vector<recording::Exchange>& transfers) {
    pcap_t* dead = pcap_open_dead(DLT_USB_LINUX_MMAPPED, 65535);
    ASSERT_NE(dead, nullptr);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
    std::uint64_t id = 0;
    const auto packet = [&](const recording::Exchange& exchange, char event, std::uint32_t urbLength,
                            const Bytes& data) {
        pcap_usb_header_mmapped header{};
        header.id = id;
        header.event_type = static_cast<std::uint8_t>(event);
        header.transfer_type = 3;  // bulk
        header.endpoint_number = exchange.endpoint;
        header.device_address = static_cast<std::uint8_t>(address);
        header.bus_id = 1;
        header.setup_flag = '-';
        header.data_flag = data.empty() ? '<' : 0;  // 0: the data follows
        header.ts_sec = static_cast<std::int64_t>(exchange.ms / 1000);
        header.ts_usec = static_cast<std::int32_t>(exchange.ms % 1000 * 1000);
        header.urb_len = urbLength;
        header.data_len = static_cast<std::uint32_t>(data.size());
        Bytes bytes(sizeof header);
        std::memcpy(bytes.data(), &header, sizeof header);
        bytes.insert(bytes.end(), data.begin(), data.end());
        pcap_pkthdr record{};
        record.ts.tv_sec = static_cast<time_t>(header.ts_sec);
        record.ts.tv_usec = header.ts_usec;
        record.caplen = record.len = static_cast<bpf_u_int32>(bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &record, bytes.data());
    };
    for (const recording::Exchange& exchange : transfers) {
        ++id;
        const auto size = static_cast<std::uint32_t>(exchange.data.size());
        if (exchange.direction == recording::Direction::Out) {
            packet(exchange, 'S', size, exchange.data);
            packet(exchange, 'C', size, {});
        } else if (exchange.direction == recording::Direction::In) {
            packet(exchange, 'S', static_cast<std::uint32_t>(exchange.maxBytes), {});
            if (exchange.status == recording::Status::Ok) packet(exchange, 'C', size, exchange.data);
        }
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

// The transfers without their times, for comparing two exchanges.
std::vector<std::string> Transfers(const std::vector<recording::Exchange>& transfers) {
    std::vector<std::string> lines;
    for (const recording::Exchange& exchange : transfers) {
        const char* direction = exchange.direction == recording::Direction::Out  ? "out"
                                : exchange.direction == recording::Direction::In ? "in"
                                                                                 : "wait";
        lines.push_back(std::string(direction) + " " + std::to_string(exchange.endpoint) + " " + Hex(exchange.data) +
                        (exchange.status == recording::Status::Timeout ? " (timed out)" : ""));
    }
    return lines;
}

class SendTest : public ::testing::Test {
protected:
    // fenk-send with `arguments` under umockdev-run, with `devices` plugged
    // in; the first replays `capture` when one is given.
    child_process::ProgramResult Send(const std::vector<FakeDevice>& devices, const std::string& capture,
                                      const std::vector<std::string>& arguments) {
        std::string description;
        for (const FakeDevice& device : devices) description += device.Description();
        std::vector<std::string> command = {UMOCKDEV_RUN_PATH};
        if (!devices.empty()) {
            command.push_back("--device=" + dir.Write("devices.umockdev", test_support::Text(description)));
        }
        if (!capture.empty()) command.push_back("--pcap=" + devices.front().SysfsPath() + "=" + capture);
        command.push_back("--");
        command.push_back(FENK_SEND_PATH);
        command.insert(command.end(), arguments.begin(), arguments.end());
        // umockdev-run preloads its library into fenk-send, ahead of a
        // sanitizer build's runtime, which would refuse to start.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                                    (asan != nullptr && *asan != '\0' ? ":" : "") + "verify_asan_link_order=0";
        return child_process::RunProgram(command, {options}, 120000);
    }

    test_support::TempDir dir;
};

const std::string kDemo = std::string(FENK_DEMO_SONGS_DIR) + "/demo.8xp";

TEST_F(SendTest, SendsASongThroughLibusbAsTheRecordedExchangeGoes) {
    const std::string demoText = std::string(FENK_SONG_SOURCES_DIR) + "/demo.txt";
    const Bytes file = test_support::Text(test_support::ReadText(kDemo));
    const fenk::Result<tilink::Variable> variable = tilink::VariableFromProgramFile(file);
    ASSERT_TRUE(variable.ok()) << variable.reason;
    for (tilink::DeviceKind kind : {tilink::DeviceKind::Ti84PlusUsb, tilink::DeviceKind::Ti84PlusCeUsb}) {
        const tilink::DeviceInfo& info = Device(kind);
        SCOPED_TRACE(info.name);
        scripted::Calculator calculator = scripted::MakeCalculator(kind);
        tilink::Transfer ended;
        const recording::Send reference = ExchangeWith(calculator, info, variable.value, &ended);
        ASSERT_EQ(ended.failure, tilink::FailureKind::None) << ended.reason;
        EXPECT_TRUE(scripted::Violations(calculator).empty()) << scripted::Violations(calculator).front();
        ASSERT_EQ(scripted::Stored(calculator).size(), 1u);
        EXPECT_EQ(scripted::Stored(calculator)[0].data, variable.value.data);

        const FakeDevice device{&info, 7};
        const std::string capture = dir.File("exchange.pcap");
        WriteCapture(capture, device.address, reference.transfers);
        // The .8xp as it is, and its song text compiled on the way.
        for (const std::string& song : {kDemo, demoText}) {
            SCOPED_TRACE(song);
            const std::string recordPath = dir.File("recorded.json");
            const child_process::ProgramResult sent = Send({device}, capture, {"--record", recordPath, song});
            EXPECT_EQ(sent.ExitStatus(), 0) << sent.err;
            EXPECT_EQ(sent.out, "Sent " + variable.value.name + " (" + std::to_string(variable.value.data.size()) + " bytes) to the " +
                                    info.calculator + ".\n");
            EXPECT_EQ(sent.err, "");
            // Its recording holds what went over the bus, as the library
            // and the calculator exchanged it.
            const fenk::Result<recording::Recording> recorded = recording::ParseRecording(test_support::ReadText(recordPath));
            ASSERT_TRUE(recorded.ok()) << recorded.reason;
            EXPECT_EQ(recorded.value.device, info.name);
            EXPECT_EQ(recorded.value.productId, info.productId);
            ASSERT_EQ(recorded.value.sends.size(), 1u);
            EXPECT_TRUE(recorded.value.sends[0].ok);
            EXPECT_EQ(recorded.value.sends[0].name, variable.value.name);
            EXPECT_EQ(Transfers(recorded.value.sends[0].transfers), Transfers(reference.transfers));
        }
    }
}

// A recording as someone attaches it to a bug report, kept in the tests: its
// exchange replayed, fenk-send must go through it again, transfer for
// transfer (what a change to the library or the transport that breaks a
// send known to work would not do).
TEST_F(SendTest, GoesThroughARecordedExchangeAgain) {
    const fenk::Result<recording::Recording> kept =
        recording::ParseRecording(test_support::ReadText(std::string(FENK_RECORDINGS_DIR) + "/ti84pce-demo.json"));
    ASSERT_TRUE(kept.ok()) << kept.reason;
    ASSERT_EQ(kept.value.sends.size(), 1u);
    const tilink::DeviceInfo* info = tilink::FindDevice(kept.value.vendorId, kept.value.productId);
    ASSERT_NE(info, nullptr);
    const FakeDevice device{info, kept.value.address};
    const std::string capture = dir.File("kept.pcap");
    WriteCapture(capture, device.address, kept.value.sends[0].transfers);
    const std::string recordPath = dir.File("again.json");
    const child_process::ProgramResult sent = Send({device}, capture, {"--record", recordPath, kDemo});
    EXPECT_EQ(sent.ExitStatus(), 0) << sent.err;
    EXPECT_EQ(sent.out, kept.value.sends[0].result + "\n");
    const fenk::Result<recording::Recording> again = recording::ParseRecording(test_support::ReadText(recordPath));
    ASSERT_TRUE(again.ok()) << again.reason;
    ASSERT_EQ(again.value.sends.size(), 1u);
    EXPECT_EQ(Transfers(again.value.sends[0].transfers), Transfers(kept.value.sends[0].transfers));
}

TEST_F(SendTest, SaysWhyTheCalculatorRefusedTheSong) {
    const Bytes file = test_support::Text(test_support::ReadText(kDemo));
    const fenk::Result<tilink::Variable> variable = tilink::VariableFromProgramFile(file);
    ASSERT_TRUE(variable.ok()) << variable.reason;
    const tilink::DeviceInfo& info = Device(tilink::DeviceKind::Ti84PlusUsb);
    scripted::Calculator calculator = scripted::MakeCalculator(info.kind, {{scripted::FaultKind::OutOfMemory, 300}});
    tilink::Transfer ended;
    const recording::Send reference = ExchangeWith(calculator, info, variable.value, &ended);
    ASSERT_EQ(ended.failure, tilink::FailureKind::OutOfMemory);

    const FakeDevice device{&info, 3};
    const std::string capture = dir.File("exchange.pcap");
    WriteCapture(capture, device.address, reference.transfers);
    const std::string recordPath = dir.File("recorded.json");
    const child_process::ProgramResult sent = Send({device}, capture, {kDemo, "--record", recordPath});
    EXPECT_EQ(sent.ExitStatus(), 1);
    EXPECT_EQ(sent.out, "");
    // The library's words, after the song's name.
    EXPECT_EQ(sent.err, "fenk-send: " + kDemo + ": " + ended.reason + "\n");
    EXPECT_NE(ended.reason.find("300"), std::string::npos) << "the free memory goes unsaid: " << ended.reason;
    const fenk::Result<recording::Recording> recorded = recording::ParseRecording(test_support::ReadText(recordPath));
    ASSERT_TRUE(recorded.ok()) << recorded.reason;
    ASSERT_EQ(recorded.value.sends.size(), 1u);
    EXPECT_FALSE(recorded.value.sends[0].ok);
    EXPECT_EQ(recorded.value.sends[0].result, ended.reason);
    EXPECT_EQ(Transfers(recorded.value.sends[0].transfers), Transfers(reference.transfers));
}

TEST_F(SendTest, ListsWhatIsPluggedInAndAsksWhichWhenThereAreSeveral) {
    child_process::ProgramResult none = Send({}, "", {"--list"});
    EXPECT_EQ(none.ExitStatus(), 0) << none.err;
    EXPECT_EQ(none.out, "No calculator or cable found.\n");
    none = Send({}, "", {kDemo});
    EXPECT_EQ(none.ExitStatus(), 1);
    EXPECT_NE(none.err.find("fenk-send: no calculator or cable found"), std::string::npos) << none.err;

    const std::vector<FakeDevice> two = {{&Device(tilink::DeviceKind::Ti84PlusCeUsb), 9},
                                         {&Device(tilink::DeviceKind::SilverLink), 4}};
    const child_process::ProgramResult listed = Send(two, "", {"--list"});
    EXPECT_EQ(listed.ExitStatus(), 0) << listed.err;
    EXPECT_EQ(listed.out,
              "  1  SilverLink cable (0451:e001) on bus 1, device 4\n"
              "  2  TI-84 Plus CE (0451:e008) on bus 1, device 9\n");
    const child_process::ProgramResult unpicked = Send(two, "", {kDemo});
    EXPECT_EQ(unpicked.ExitStatus(), 1);
    EXPECT_EQ(unpicked.err, "fenk-send: 2 devices found; pick one with --device N:\n" + listed.out);
    const child_process::ProgramResult missing = Send(two, "", {"--device", "3", kDemo});
    EXPECT_EQ(missing.ExitStatus(), 1);
    EXPECT_EQ(missing.err, "fenk-send: there is no device 3; these were found:\n" + listed.out);
}

// The .deb's udev rule opens every device fenk-send knows to the user at the
// seat: its product ids are the link library's.
TEST(SendUdevRule, NamesEveryDeviceTheLinkLibraryKnows) {
    const std::string rule = test_support::ReadText(FENK_UDEV_RULE_PATH);
    const std::size_t vendor = rule.find("ATTR{idVendor}==\"0451\"");
    const std::size_t products = rule.find("ATTR{idProduct}==\"");
    ASSERT_NE(vendor, std::string::npos) << rule;
    ASSERT_NE(products, std::string::npos) << rule;
    const std::size_t start = products + std::string("ATTR{idProduct}==\"").size();
    const std::string alternatives = rule.substr(start, rule.find('"', start) - start) + "|";
    EXPECT_NE(rule.find("TAG+=\"uaccess\""), std::string::npos) << rule;
    for (const tilink::DeviceInfo& device : tilink::KnownDevices()) {
        char id[8];
        std::snprintf(id, sizeof id, "%04x|", device.productId);
        EXPECT_EQ(device.vendorId, 0x0451);
        EXPECT_NE(alternatives.find(id), std::string::npos) << device.name << " is not in " << alternatives;
    }
}

}  // namespace
