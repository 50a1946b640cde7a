// What to do when a calculator cannot be opened for want of rights or a
// driver: the one part of fenk-send that differs between systems.
#pragma once

#include <string>

namespace usblink {

// Advice that follows "cannot open the TI-84 Plus: ", for `device` (its
// name), where the system refused access (LIBUSB_ERROR_ACCESS) or no
// driver libusb can use holds it (LIBUSB_ERROR_NOT_SUPPORTED).
std::string OpenAdvice(const std::string& device);

}  // namespace usblink
