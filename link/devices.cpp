// The devices the library knows and the variable from a program file.
#include "link/link.h"

#include <utility>

#include "songfile/songfile.h"

namespace tilink {

const std::vector<DeviceInfo>& KnownDevices() {
    static const std::vector<DeviceInfo> devices = {
        {DeviceKind::SilverLink, 0x0451, 0xe001, "SilverLink cable", "calculator", 0x02, 0x81, 32},
        {DeviceKind::Ti84PlusUsb, 0x0451, 0xe003, "TI-84 Plus", "TI-84 Plus", 0x02, 0x81, 64},
        {DeviceKind::Ti84PlusCeUsb, 0x0451, 0xe008, "TI-84 Plus CE", "TI-84 Plus CE", 0x02, 0x81, 64},
    };
    return devices;
}

const DeviceInfo* FindDevice(std::uint16_t vendorId, std::uint16_t productId) {
    for (const DeviceInfo& device : KnownDevices()) {
        if (device.vendorId == vendorId && device.productId == productId) return &device;
    }
    return nullptr;
}

fenk::Result<Variable> VariableFromProgramFile(const std::vector<std::uint8_t>& bytes) {
    fenk::Result<songfile::TiVariable> read = songfile::ReadTiVariable(bytes.data(), bytes.size());
    if (!read.ok()) return fenk::Failed<Variable>(fenk::Failure::Failed, read.reason);
    Variable variable;
    variable.name = std::move(read.value.name);
    variable.type = read.value.type;
    variable.version = read.value.version;
    variable.archived = (read.value.flags & 0x80) != 0;
    variable.data = std::move(read.value.data);
    return fenk::Succeeded(std::move(variable));
}

}  // namespace tilink
