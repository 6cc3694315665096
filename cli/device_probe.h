#pragma once
// What runs on each attached navigator: one version request per device, answered within
// 2,000 ms or not at all. The version text tells the mode: "E3" the patch program, "BOOT" or
// "boot" the boot loader, any other text the normal firmware.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings.h"

namespace cli {

enum class ProbedMode { BootLoader, PatchProgram, NormalFirmware, NotAnswering, CannotOpen };

// "boot loader", "patch program", "normal firmware", "not answering", "cannot open".
const char* ProbedModeName(ProbedMode mode);
// Short form for scripts: "boot", "patch", "normal", "silent", "busy".
const char* ProbedModeKey(ProbedMode mode);

// The mode a version text (or its absence) tells.
ProbedMode ModeOfVersionText(const std::optional<std::string>& text);

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
