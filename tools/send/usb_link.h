// fenk-send's transport: the calculators and cables on the USB buses,
// through libusb, and a transfer of the link library (link/link.h) driven
// over one of them, each step a bulk transfer, each recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "link/link.h"
#include "tools/send/recording.h"

namespace usblink {

// libusb, started once for the program's run.
struct Usb;
struct CloseUsb {
    void operator()(Usb* usb) const;
};
using UsbPtr = std::unique_ptr<Usb, CloseUsb>;

// Starts libusb. Fails when it cannot start ("libusb cannot start:
// LIBUSB_ERROR_OTHER").
fenk::Result<UsbPtr> StartUsb();

// A calculator or cable on a bus.
struct Found {
    const tilink::DeviceInfo* info = nullptr;  // what it is (never null)
    int bus = 0;      // the USB bus number
    int address = 0;  // its address on that bus
};

// Every device of tilink::KnownDevices() plugged in now, by bus, then
// address.
fenk::Result<std::vector<Found>> FindDevices(Usb& usb);

// One line for --list and the like: "TI-84 Plus (0451:e003) on bus 1, device 5".
std::string DescribeDevice(const Found& found);

// A device opened for a transfer: its interface 0 claimed (a kernel driver
// holding it detached first, the first configuration set where none was).
struct Connection;
struct CloseConnection {
    void operator()(Connection* connection) const;  // releases the interface
};
using ConnectionPtr = std::unique_ptr<Connection, CloseConnection>;

// Opens `found`. Fails with a reason people can act on: the udev rule or
// root on Linux, the WinUSB driver on Windows (OpenAdvice), another program
// holding the device, the device gone.
fenk::Result<ConnectionPtr> OpenDevice(Usb& usb, const Found& found);

// Called after every step with the transfer as it stands (bytesSent of
// bytesTotal).
using Progress = std::function<void(const tilink::Transfer&)>;

// What came of one send.
struct SendResult {
    bool done = false;       // the variable is on the calculator
    bool interrupted = false;  // stopped by a signal (tools::WatchInterrupts)
    tilink::FailureKind failure = tilink::FailureKind::None;
    std::string reason;        // when it failed: the link library's reason
    std::size_t packets = 0;   // packets written
    std::uint64_t milliseconds = 0;  // how long it took
};

// Sends `variable` over `connection`, driving the link library's transfer
// to its end: a Write step is one bulk OUT transfer (zero-length where the
// step has no bytes), a Read step one bulk IN transfer of the step's size
// and time limit, a Wait step a sleep. Every transfer and wait goes into
// `record`, with times from `clockStartMs` (a steady clock's milliseconds).
SendResult SendVariable(Connection& connection, const tilink::Variable& variable, std::uint64_t clockStartMs,
                        std::vector<recording::Exchange>* record, const Progress& progress);

// Milliseconds on a steady clock.
std::uint64_t NowMs();

}  // namespace usblink
