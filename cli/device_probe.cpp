#include "cli/device_probe.h"

#include <atomic>
#include <cstring>
#include <thread>

#include "app/frame_wait.h"
#include "platform/tick.h"
#include "protocol/device_commands.h"
#include "protocol/fur_codec.h"
#include "transport/sync_stream.h"
#include "transport/usb_link.h"

namespace cli {

const char* ProbedModeName(ProbedMode mode) {
    switch (mode) {
        case ProbedMode::BootLoader:
            return "boot loader";
        case ProbedMode::PatchProgram:
            return "patch program";
        case ProbedMode::NormalFirmware:
            return "normal firmware";
        case ProbedMode::NotAnswering:
            return "not answering";
        case ProbedMode::CannotOpen:
            return "cannot open";
    }
    return "?";
}

const char* ProbedModeKey(ProbedMode mode) {
    switch (mode) {
        case ProbedMode::BootLoader:
            return "boot";
        case ProbedMode::PatchProgram:
            return "patch";
        case ProbedMode::NormalFirmware:
            return "normal";
        case ProbedMode::NotAnswering:
            return "silent";
        case ProbedMode::CannotOpen:
            return "busy";
    }
    return "?";
}

ProbedMode ModeOfVersionText(const std::optional<std::string>& text) {
    if (!text) return ProbedMode::NotAnswering;
    // The patch program runs inside the boot stage, so its mark is looked for first.
    if (text->find("E3") != std::string::npos) return ProbedMode::PatchProgram;
    if (text->find("BOOT") != std::string::npos || text->find("boot") != std::string::npos) {
        return ProbedMode::BootLoader;
    }
    return ProbedMode::NormalFirmware;
}

ProbedDevice ProbeDevice(const std::string& path) {
    ProbedDevice device{path, ProbedMode::CannotOpen, {}};
    SyncStream stream(path);
    if (!stream.Open()) return device;
    std::shared_ptr<FIFOStream> buffer = stream.GetReadBuffer();
    std::atomic<bool> running{true};
    // The reader moves what the link delivers into the buffer, as the window's reader does.
    std::thread reader([&] {
        while (running.load() && stream.IsOpen()) {
            buffer->usbRead();
            const UsbFillStatus status = stream.LastUsbFill();
            if (status == UsbFillStatus::Failed) break;
            if (status != UsbFillStatus::Delivered) platform::SleepMs(10);
        }
    });
    const std::vector<uint8_t> poll = MakeFrame(VERSION_POLL);
    buffer->SendCmd(poll.data(), 0, static_cast<int32_t>(poll.size()));
    const auto payload =
        WaitForFramePayload(*buffer, VERSION_DATA, platform::TickCount() + kQueryTimeoutMs);
    running = false;
    stream.Close();
    reader.join();
    stream.Dispose();

    std::optional<std::string> text;
    if (payload) {
        const char* begin = reinterpret_cast<const char*>(payload->data());
        text = std::string(begin, strnlen(begin, payload->size()));
        device.versionText = *text;
    }
    device.mode = ModeOfVersionText(text);
    return device;
}

std::vector<std::string> AttachedDevicePaths(const platform::Settings& settings) {
    Usb_Port port(settings.deviceDir);
    usb_info info{};
    port.Get_USBInfo(info);
    std::vector<std::string> paths;
    for (int32_t i = 0; i < info.count && i < kUsbInfoSlots; ++i) {
        paths.emplace_back(info.path[i], strnlen(info.path[i], kUsbInfoPathSize));
    }
    port.Dispose();
    return paths;
}

std::string NoDeviceHint(const platform::Settings& settings) {
    return "no navigator found in " + settings.deviceDir +
           "; is it plugged in? see README (\"Using a real navigator\")";
}

}  // namespace cli
