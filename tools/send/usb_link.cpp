#include "tools/send/usb_link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include <libusb.h>

#include "tools/common/tool_support.h"
#include "tools/send/open_advice.h"

namespace usblink {

struct Usb {
    libusb_context* context = nullptr;
};

struct Connection {
    libusb_device_handle* handle = nullptr;
    const tilink::DeviceInfo* info = nullptr;
    bool claimed = false;
};

namespace {

// The calculators' interface: the one with their two bulk endpoints.
constexpr int kInterface = 0;
// A bulk OUT transfer the device does not take within this long has stalled
// as surely as a read that gets nothing.
constexpr unsigned kWriteTimeoutMs = static_cast<unsigned>(tilink::kStallMilliseconds);
// A wait is slept in slices this long, so that Ctrl+C ends it at once.
constexpr std::uint64_t kWaitSliceMs = 50;

template <typename Value>
fenk::Result<Value> Failure(const std::string& reason) {
    return fenk::Failed<Value>(fenk::Failure::Failed, reason);
}

std::string ErrorName(int code) { return libusb_error_name(code); }

}  // namespace

void CloseUsb::operator()(Usb* usb) const {
    if (usb == nullptr) return;
    if (usb->context != nullptr) libusb_exit(usb->context);
    delete usb;
}

fenk::Result<UsbPtr> StartUsb() {
    UsbPtr usb(new Usb);
    const int status = libusb_init(&usb->context);
    if (status != 0) {
        usb->context = nullptr;
        return Failure<UsbPtr>("libusb cannot start: " + ErrorName(status));
    }
    return fenk::Succeeded(std::move(usb));
}

fenk::Result<std::vector<Found>> FindDevices(Usb& usb) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(usb.context, &list);
    if (count < 0) {
        return Failure<std::vector<Found>>("cannot list the USB devices: " + ErrorName(static_cast<int>(count)));
    }
    std::vector<Found> found;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
        const tilink::DeviceInfo* info = tilink::FindDevice(descriptor.idVendor, descriptor.idProduct);
        if (info == nullptr) continue;
        found.push_back({info, libusb_get_bus_number(list[i]), libusb_get_device_address(list[i])});
    }
    libusb_free_device_list(list, 1);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
    });
    return fenk::Succeeded(std::move(found));
}

std::string DescribeDevice(const Found& found) {
    char text[160];
    std::snprintf(text, sizeof text, "%s (%04x:%04x) on bus %d, device %d", found.info->name,
                  found.info->vendorId, found.info->productId, found.bus, found.address);
    return text;
}

void CloseConnection::operator()(Connection* connection) const {
    if (connection == nullptr) return;
    if (connection->handle != nullptr) {
        if (connection->claimed) libusb_release_interface(connection->handle, kInterface);
        libusb_close(connection->handle);
    }
    delete connection;
}

fenk::Result<ConnectionPtr> OpenDevice(Usb& usb, const Found& found) {
    const std::string name = found.info->name;
    const std::string cannot = "cannot open the " + name + ": ";
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(usb.context, &list);
    if (count < 0) return Failure<ConnectionPtr>(cannot + ErrorName(static_cast<int>(count)));
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < count && device == nullptr; ++i) {
        if (libusb_get_bus_number(list[i]) == found.bus && libusb_get_device_address(list[i]) == found.address) {
            device = list[i];
        }
    }
    ConnectionPtr connection(new Connection);
    connection->info = found.info;
    const int opened = device == nullptr ? LIBUSB_ERROR_NO_DEVICE : libusb_open(device, &connection->handle);
    libusb_free_device_list(list, 1);
    if (opened == LIBUSB_ERROR_ACCESS || opened == LIBUSB_ERROR_NOT_SUPPORTED) {
        return Failure<ConnectionPtr>(cannot + OpenAdvice(name));
    }
    if (opened == LIBUSB_ERROR_NO_DEVICE) {
        return Failure<ConnectionPtr>(cannot + "it is no longer plugged in");
    }
    if (opened != 0) return Failure<ConnectionPtr>(cannot + ErrorName(opened));

    // A kernel driver bound to the interface (none is, usually) keeps it from
    // being claimed; on systems without the call this does nothing.
    if (libusb_kernel_driver_active(connection->handle, kInterface) == 1) {
        libusb_detach_kernel_driver(connection->handle, kInterface);
    }
    // A device that has been reset may be unconfigured; the calculators have
    // one configuration.
    int configuration = 0;
    if (libusb_get_configuration(connection->handle, &configuration) == 0 && configuration == 0) {
        const int set = libusb_set_configuration(connection->handle, 1);
        if (set != 0) return Failure<ConnectionPtr>(cannot + "cannot configure it: " + ErrorName(set));
    }
    const int claimed = libusb_claim_interface(connection->handle, kInterface);
    if (claimed == LIBUSB_ERROR_BUSY) {
        return Failure<ConnectionPtr>(cannot + "another program has it open (TI Connect, TiLP); close that program");
    }
    if (claimed == LIBUSB_ERROR_ACCESS || claimed == LIBUSB_ERROR_NOT_SUPPORTED) {
        return Failure<ConnectionPtr>(cannot + OpenAdvice(name));
    }
    if (claimed != 0) return Failure<ConnectionPtr>(cannot + ErrorName(claimed));
    connection->claimed = true;
    return fenk::Succeeded(std::move(connection));
}

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

SendResult SendVariable(Connection& connection, const tilink::Variable& variable, std::uint64_t clockStartMs,
                        std::vector<recording::Exchange>* record, const Progress& progress) {
    const std::uint64_t started = NowMs();
    SendResult result;
    tilink::Transfer transfer = tilink::StartTransfer(*connection.info, variable, started);
    std::vector<std::uint8_t> buffer;
    for (;;) {
        if (tools::Interrupted()) {
            result.interrupted = true;
            break;
        }
        tilink::Step step = tilink::Next(transfer, NowMs());
        if (step.kind == tilink::StepKind::Done || step.kind == tilink::StepKind::Failed) {
            result.done = step.kind == tilink::StepKind::Done;
            break;
        }
        recording::Exchange exchange;
        exchange.ms = NowMs() - clockStartMs;
        exchange.endpoint = step.endpoint;
        if (step.kind == tilink::StepKind::Write) {
            exchange.direction = recording::Direction::Out;
            exchange.data = step.bytes;
            int sent = 0;
            const int status = libusb_bulk_transfer(connection.handle, step.endpoint, step.bytes.data(),
                                                    static_cast<int>(step.bytes.size()), &sent, kWriteTimeoutMs);
            const bool whole = status == 0 && sent == static_cast<int>(step.bytes.size());
            exchange.status = whole ? recording::Status::Ok
                              : status == LIBUSB_ERROR_TIMEOUT ? recording::Status::Timeout
                                                               : recording::Status::Error;
            if (status != 0 && status != LIBUSB_ERROR_TIMEOUT) exchange.error = ErrorName(status);
            if (status == 0 && !whole) exchange.error = "wrote " + std::to_string(sent) + " bytes";
            tilink::Wrote(transfer, whole, NowMs());
        } else if (step.kind == tilink::StepKind::Read) {
            exchange.direction = recording::Direction::In;
            exchange.maxBytes = step.maxBytes;
            exchange.timeoutMs = step.timeoutMs;
            buffer.resize(step.maxBytes);
            int got = 0;
            // libusb waits for ever on a time limit of 0.
            const unsigned limit = static_cast<unsigned>(std::clamp<std::uint64_t>(step.timeoutMs, 1, 0x7FFFFFFF));
            const int status = libusb_bulk_transfer(connection.handle, step.endpoint, buffer.data(),
                                                    static_cast<int>(buffer.size()), &got, limit);
            exchange.data.assign(buffer.begin(), buffer.begin() + std::max(got, 0));
            if (status == 0 || (status == LIBUSB_ERROR_TIMEOUT && got > 0)) {
                exchange.status = recording::Status::Ok;
                tilink::Read(transfer, exchange.data, NowMs());
            } else if (status == LIBUSB_ERROR_TIMEOUT) {
                exchange.status = recording::Status::Timeout;
                tilink::ReadTimedOut(transfer, NowMs());
            } else {
                exchange.status = recording::Status::Error;
                exchange.error = ErrorName(status);
                tilink::ReadFailed(transfer, NowMs());
            }
        } else {
            exchange.direction = recording::Direction::Wait;
            exchange.timeoutMs = step.timeoutMs;
            const std::uint64_t until = NowMs() + step.timeoutMs;
            for (std::uint64_t now = NowMs(); !tools::Interrupted() && now < until; now = NowMs()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kWaitSliceMs, until - now)));
            }
        }
        if (record != nullptr) record->push_back(std::move(exchange));
        if (progress) progress(transfer);
    }
    result.failure = transfer.failure;
    result.reason = transfer.reason;
    result.packets = transfer.packetsSent;
    result.milliseconds = NowMs() - started;
    return result;
}

}  // namespace usblink
