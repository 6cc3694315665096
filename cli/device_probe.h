#pragma once
// What runs on each attached navigator: one version request per device, answered within
// 2,000 ms or not at all; the version text tells the mode (protocol/device_mode.h).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings.h"
#include "protocol/device_mode.h"

namespace cli {

using ProbedMode = NavigatorMode;

struct ProbedDevice {
    std::string path;
    ProbedMode mode = ProbedMode::NotAnswering;
    std::string versionText;
};

// Opens `path`, asks for its version text and closes it again.
ProbedDevice ProbeDevice(const std::string& path);

// The device paths the window would see, in its order.
std::vector<std::string> AttachedDevicePaths(const platform::Settings& settings);

// What to tell the user when no navigator is attached.
std::string NoDeviceHint(const platform::Settings& settings);

}  // namespace cli
