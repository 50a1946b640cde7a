#include "tests/link/ticalcs_peer.h"

#include <chrono>
#include <cstdint>
#include <thread>

// ticonv.h, which these headers include, uses C99's `restrict`; C++ spells
// it __restrict.
#define restrict __restrict
#include <ticables.h>
#include <ticalcs.h>
#include <tifiles.h>
#undef restrict

namespace ticalcs_peer {
namespace {

// The scripted calculator behind libticables's cable functions. libticalcs
// asks for a few bytes at a time (a 5-byte raw header, then its payload), so
// the cable reads whole USB packets from the calculator and hands them out
// from a buffer, as libticables's own USB cables do.
struct Cable {
    scripted::Calculator* calculator = nullptr;
    std::size_t readSize = 64;
    scripted::Bytes buffered;
    std::uint64_t startMs = 0;
};

Cable* Of(CableHandle* handle) { return static_cast<Cable*>(handle->user_pointer); }

std::uint64_t NowMs(const Cable& cable) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) -
           cable.startMs;
}

int Nothing(CableHandle*) { return 0; }
int NoStatus(CableHandle*, int* status) {
    *status = 0;
    return 0;
}

int SendToCalculator(CableHandle* handle, uint8_t* data, uint32_t length) {
    Cable& cable = *Of(handle);
    const scripted::Bytes bytes(data, data + length);
    return scripted::HostWrite(*cable.calculator, 0x02, bytes, NowMs(cable)) ? 0 : 1;
}

int ReceiveFromCalculator(CableHandle* handle, uint8_t* data, uint32_t length) {
    Cable& cable = *Of(handle);
    int idle = 0;
    while (cable.buffered.size() < length) {
        const scripted::ReadResult read =
            scripted::HostRead(*cable.calculator, 0x81, cable.readSize, NowMs(cable));
        if (read.gone) return 1;
        if (read.bytes.empty()) {
            // The calculator may be waiting out a delay it asked for; give
            // up after two seconds of nothing.
            if (++idle > 200) return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        cable.buffered.insert(cable.buffered.end(), read.bytes.begin(), read.bytes.end());
    }
    std::copy(cable.buffered.begin(), cable.buffered.begin() + length, data);
    cable.buffered.erase(cable.buffered.begin(), cable.buffered.begin() + length);
    return 0;
}

// The cable functions of a cable of `model` that lead to the simulator.
template <CableModel model>
CableFncts SimulatorFunctions() {
    return CableFncts{model, "SIM", "Scripted calculator", "The tests' scripted calculator", 0,
                      &Nothing, &Nothing, &Nothing, &Nothing, &Nothing, &Nothing,
                      &SendToCalculator, &ReceiveFromCalculator, &NoStatus,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}

std::string Message(int code) {
    if (code == 0) return "";
    char* text = nullptr;
    std::string message = "error " + std::to_string(code);
    if (ticalcs_error_get(code, &text) == 0 && text != nullptr) {
        message += ": ";
        message += text;
        ticalcs_error_free(text);
    }
    return message;
}

}  // namespace

Run Send(scripted::Calculator& calculator, tilink::DeviceKind kind, const std::string& path) {
    Run run;
    ticables_library_init();
    tifiles_library_init();
    ticalcs_library_init();

    const bool port = kind == tilink::DeviceKind::SilverLink;
    const CableModel cableModel = port ? CABLE_SLV : CABLE_USB;
    const CalcModel calcModel = port ? CALC_TI83P
                                     : kind == tilink::DeviceKind::Ti84PlusUsb ? CALC_TI84P_USB : CALC_TI84PCE_USB;
    static CableFncts usbFunctions = SimulatorFunctions<CABLE_USB>();
    static CableFncts portFunctions = SimulatorFunctions<CABLE_SLV>();

    Cable cable;
    cable.calculator = &calculator;
    cable.readSize = port ? 32 : 64;
    cable.startMs = 0;
    cable.startMs = NowMs(cable);

    CableHandle* cableHandle = ticables_handle_new(cableModel, PORT_1);
    CalcHandle* calcHandle = ticalcs_handle_new(calcModel);
    FileContent* content = tifiles_content_create_regular(CALC_TI83P);
    if (cableHandle == nullptr || calcHandle == nullptr || content == nullptr) {
        run.error = "libticalcs could not make its handles";
    } else {
        // The swap: the cable's own functions replaced by the simulator's.
        cableHandle->cable = port ? &portFunctions : &usbFunctions;
        ticables_cable_set_event_user_pointer(cableHandle, &cable);
        const auto started = std::chrono::steady_clock::now();
        int code = tifiles_file_read_regular(path.c_str(), content);
        if (code != 0) {
            run.error = "tifiles_file_read_regular: error " + std::to_string(code);
        } else if ((code = ticalcs_cable_attach(calcHandle, cableHandle)) != 0) {
            run.error = "ticalcs_cable_attach: " + Message(code);
        } else {
            content->model = calcModel;
            if ((code = ticalcs_calc_isready(calcHandle)) != 0)
                run.error = "ticalcs_calc_isready: " + Message(code);
            else if ((code = ticalcs_calc_send_var(calcHandle, MODE_NORMAL, content)) != 0)
                run.error = "ticalcs_calc_send_var: " + Message(code);
            else
                run.ok = true;
            ticalcs_cable_detach(calcHandle);
        }
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    if (content != nullptr) tifiles_content_delete_regular(content);
    if (calcHandle != nullptr) ticalcs_handle_del(calcHandle);
    if (cableHandle != nullptr) ticables_handle_del(cableHandle);
    ticalcs_library_exit();
    tifiles_library_exit();
    ticables_library_exit();
    return run;
}

}  // namespace ticalcs_peer
