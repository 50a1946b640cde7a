// Debian's libticalcs, the TI link software's calculator library, sending a
// program file into the scripted calculator: its cable's functions are
// swapped for ones that write to and read from the scripted calculator, so
// the packets are exactly those it would put on a real cable.
#pragma once

#include <string>

#include "tests/link/scripted_calculator.h"

namespace ticalcs_peer {

struct Run {
    bool ok = false;
    std::string error;  // when not ok: which call failed and libticalcs's message
    double seconds = 0; // wall time of the whole send
};

// Sends the first variable of the program file at `path` as libticalcs
// sends it silently (ticalcs_calc_isready, then ticalcs_calc_send_var in
// normal mode) to `calculator`, a scripted calculator of the matching kind.
Run Send(scripted::Calculator& calculator, tilink::DeviceKind kind, const std::string& path);

}  // namespace ticalcs_peer
