#include "cli/device_diagnosis.h"

#include <cstdio>

#include "transport/device_dir.h"
#include "transport/usb_link.h"

namespace cli {

namespace {

constexpr const char* kReadmeHint = "see README (\"Using a real navigator\")";
constexpr size_t kMaxDevicePath = kUsbInfoPathSize - 1;

}  // namespace

std::string ShownText(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string NoNavigatorText(const platform::Settings& settings) {
    const transport::DeviceDirReport report =
        transport::InspectDeviceDirectory(settings.deviceDir, kMaxDevicePath);
    if (!report.unreadable.empty() && report.unreadable != "No such file or directory") {
        return "cannot read the device directory " + report.directory + ": " + report.unreadable +
               "; " + kReadmeHint + " for the udev rule that grants access";
    }
    if (!report.tooLong.empty()) {
        std::string text =
            "no navigator found in " + report.directory + ": " + ShownText(report.tooLong.front()) +
            " is skipped, its path is longer than " + std::to_string(kMaxDevicePath) + " bytes";
#ifdef _WIN32
        // The driver names its interfaces; only a stand-in list can be shortened.
        if (settings.deviceDir.empty()) return text;
#endif
        return text + "; use a shorter device directory or name";
    }
    std::string text =
        "no navigator found in " + report.directory + "; is it plugged in? " + kReadmeHint;
    if (settings.usbIds.empty() && ReachesNavigatorsByUsbId()) {
        text += "; a navigator without a kernel driver is found only by its USB id (--usb-ids)";
    }
    return text;
}

std::vector<std::string> SkippedDevicePaths(const platform::Settings& settings) {
    return transport::InspectDeviceDirectory(settings.deviceDir, kMaxDevicePath).tooLong;
}

std::string SkippedReason() {
    return "its path is longer than " + std::to_string(kMaxDevicePath) + " bytes";
}

std::string CannotOpenText(const std::string& device) {
    const std::string problem = transport::DeviceOpenProblem(device);
    const std::string path = ShownText(device);
    if (problem == "permission denied") {
        return "cannot open " + path + ": permission denied; " + kReadmeHint +
               " for the udev rule that grants access";
    }
    if (problem.empty()) return "cannot open " + path + " (it could be opened again now; retry)";
    if (problem == "in use by another program") {
        return "cannot open " + path + ": it is in use by another program";
    }
    return "cannot open " + path + ": " + problem;
}

}  // namespace cli
