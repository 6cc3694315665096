#pragma once
// The run's settings, decided once by the entry point and handed to whatever needs them:
// nothing below the entry points reads the environment for these. Add a field here for each
// new setting, with its default.
#include <string>
#include <vector>

#include "platform/usb_ids.h"

namespace platform {

#ifdef _WIN32
// On Windows the device interfaces are those of the navigator driver's interface class; a
// ';'-separated list of device paths (for example "\\.\COM8", a serial port) overrides them.
// Empty: the driver's list.
inline constexpr const char* kDefaultDeviceDir = "";
inline constexpr const char* kDeviceDirVariable = "CADDORA_DEVICE_PATHS";
#else
inline constexpr const char* kDefaultDeviceDir = "/dev/caddora";
// The environment variable that names the device directory when no option does.
inline constexpr const char* kDeviceDirVariable = "CADDORA_DEVICE_DIR";
#endif

struct Settings {
    // Where the navigator's device interfaces appear; without a trailing '/'. On Windows the
    // list of device paths that stands in for the driver's (empty: the driver's).
    std::string deviceDir = kDefaultDeviceDir;
    // Vendor:product ids of the USB navigators reached through libusb (ResolveUsbIdsSetting);
    // none by default, and then libusb is never started.
    std::vector<UsbId> usbIds;
};

// `dir` without trailing '/' ("/" stays).
std::string WithoutTrailingSlashes(std::string dir);

// The settings of this run: the device directory from `deviceDirOption` when not empty, else
// from $CADDORA_DEVICE_DIR when set and not empty, else the default.
Settings ResolveSettings(const std::string& deviceDirOption = {});

}  // namespace platform
