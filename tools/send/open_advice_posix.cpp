#include "tools/send/open_advice.h"

namespace usblink {

std::string OpenAdvice(const std::string& device) {
    return "this user may not use it. Install Fenk's udev rule (the fenk package puts it in "
           "/usr/lib/udev/rules.d/70-fenk-calculators.rules) and plug the " + device +
           " in again, or run fenk-send as root";
}

}  // namespace usblink
