#include "sim/sim_config.h"

namespace sim {

const char* DeviceModeName(DeviceMode mode) {
    switch (mode) {
        case DeviceMode::Boot:
            return "boot";
        case DeviceMode::Patch:
            return "patch";
        case DeviceMode::Normal:
            return "normal";
    }
    return "?";
}

std::optional<DeviceMode> ParseDeviceMode(std::string_view name) {
    if (name == "boot") return DeviceMode::Boot;
    if (name == "patch") return DeviceMode::Patch;
    if (name == "normal") return DeviceMode::Normal;
    return std::nullopt;
}

std::string DefaultVersionText(DeviceMode mode) {
    switch (mode) {
        case DeviceMode::Boot:
            return "MDL4200 BOOT V2.10";
        case DeviceMode::Patch:
            return "MDL4200 E3 PATCH V1.02";
        case DeviceMode::Normal:
            return "MDL4200 FW V3.05";
    }
    return {};
}

}  // namespace sim
