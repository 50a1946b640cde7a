// fenk-send's recording of an exchange with a device (--record FILE): every
// bulk transfer and wait, in order, with its time, so that a send that goes
// wrong on someone's calculator can be attached to a bug report and
// replayed by the tests.
//
// The file is JSON, one transfer a line:
//
//   {
//     "format": "fenk-send recording 1",
//     "program": "fenk-send (Fenk) 1.0.0",
//     "device": {"name": "TI-84 Plus", "usb": "0451:e003", "bus": 1, "address": 5},
//     "sends": [
//       {"file": "demo.8xp",
//        "variable": {"name": "DEMO", "type": 5, "version": 0, "archived": false, "bytes": 846},
//        "transfers": [
//          {"ms": 0, "dir": "out", "endpoint": 2, "data": "00000004010000...", "status": "ok"},
//          {"ms": 1, "dir": "in", "endpoint": 129, "max": 64, "timeout": 10000, "data": "...", "status": "ok"},
//          {"ms": 40, "dir": "wait", "for": 250},
//          ...],
//        "result": "Sent DEMO (846 bytes) to the TI-84 Plus.", "ok": true}]
//   }
//
// - ms: milliseconds since the recording began, when the transfer started;
// - dir: "out" (host to device), "in" (device to host) or "wait" (a delay
//   the calculator asked for, "for" milliseconds long);
// - endpoint: the USB endpoint address (129 is 0x81, IN endpoint 1);
// - data: the bytes written, or the bytes read, in hexadecimal ("" for a
//   zero-length packet or a read that got nothing);
// - max, timeout: an IN transfer's size asked for and its time limit (ms);
// - status: "ok", "timeout" (nothing more came within the time limit), or
//   "error" with libusb's name for it in "error" (LIBUSB_ERROR_NO_DEVICE).
// A send that failed has "ok": false and the reason fenk-send gave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace recording {

enum class Direction { Out, In, Wait };
enum class Status { Ok, Timeout, Error };

// One bulk transfer, or a wait.
struct Exchange {
    std::uint64_t ms = 0;  // since the recording began
    Direction direction = Direction::Out;
    std::uint8_t endpoint = 0;       // Out and In
    std::vector<std::uint8_t> data;  // written, or read
    std::size_t maxBytes = 0;        // In: the size asked for
    std::uint64_t timeoutMs = 0;     // In: its time limit; Wait: its length
    Status status = Status::Ok;      // Out and In
    std::string error;               // Error: libusb's name for it
};

// One song sent.
struct Send {
    std::string file;  // as given on the command line
    std::string name;  // the variable's
    std::uint8_t type = 0;
    std::uint8_t version = 0;
    bool archived = false;
    std::size_t bytes = 0;  // the variable's data
    std::vector<Exchange> transfers;
    bool ok = false;
    std::string result;  // "Sent ..." or the reason it failed
};

struct Recording {
    std::string program;  // "fenk-send (Fenk) 1.0.0"
    std::string device;   // its name for people: "TI-84 Plus"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int bus = 0;      // where it was plugged in
    int address = 0;
    std::vector<Send> sends;
};

// The recording as the file's text, laid out as above, ending in a newline.
std::string RecordingText(const Recording& recording);

// Reads a recording's text back. Fails with what is wrong ("not a
// fenk-send recording", "transfer 12: 'data' is not hexadecimal").
fenk::Result<Recording> ParseRecording(const std::string& text);

}  // namespace recording
