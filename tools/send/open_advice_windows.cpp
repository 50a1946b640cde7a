#include "tools/send/open_advice.h"

namespace usblink {

std::string OpenAdvice(const std::string& device) {
    return "Windows has no WinUSB driver on it (TI's own driver holds it). Give the " + device +
           " the WinUSB driver with Zadig (docs/tools.md says how), then plug it in again";
}

}  // namespace usblink
