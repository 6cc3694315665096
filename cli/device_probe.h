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

// How the tool reaches a navigator: an entry of the device directory (a terminal, the virtual
// navigator's pty) or a USB device through libusb.
enum class LinkKind { DeviceDirectory, Libusb };
LinkKind LinkKindOf(const std::string& path);
// "device directory", "USB (libusb)".
const char* LinkKindName(LinkKind kind);
// Short form for scripts: "directory", "libusb".
const char* LinkKindKey(LinkKind kind);

struct ProbedDevice {
    std::string path;
    ProbedMode mode = ProbedMode::NotAnswering;
    std::string versionText;
    LinkKind kind = LinkKind::DeviceDirectory;
    // Why it could not be opened, when the link knows (no permission for a USB device).
    std::string problem;
};

// Opens `path`, asks for its version text and closes it again.
ProbedDevice ProbeDevice(const std::string& path);

// The device paths the window would see, in its order.
std::vector<std::string> AttachedDevicePaths(const platform::Settings& settings);

// What to tell the user when no navigator is attached.
std::string NoDeviceHint(const platform::Settings& settings);

}  // namespace cli
