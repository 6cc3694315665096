#pragma once
// The run's settings, decided once by the entry point and handed to whatever needs them:
// nothing below the entry points reads the environment for these. Add a field here for each
// new setting, with its default.
#include <string>

namespace platform {

inline constexpr const char* kDefaultDeviceDir = "/dev/caddora";
// The environment variable that names the device directory when no option does.
inline constexpr const char* kDeviceDirVariable = "CADDORA_DEVICE_DIR";

struct Settings {
    // Where the navigator's device interfaces appear; without a trailing '/'.
    std::string deviceDir = kDefaultDeviceDir;
};

// `dir` without trailing '/' ("/" stays).
std::string WithoutTrailingSlashes(std::string dir);

// The settings of this run: the device directory from `deviceDirOption` when not empty, else
// from $CADDORA_DEVICE_DIR when set and not empty, else the default.
Settings ResolveSettings(const std::string& deviceDirOption = {});

}  // namespace platform
