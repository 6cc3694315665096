#include "cli/device_probe.h"

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/tick.h"
#include "protocol/device_commands.h"
#include "protocol/frame_wait.h"
#include "protocol/fur_codec.h"
#include "transport/reader_loop.h"
#include "transport/sync_stream.h"
#include "transport/usb_bulk_link.h"
#include "transport/usb_link.h"

namespace cli {

LinkKind LinkKindOf(const std::string& path) {
    return transport::IsBulkUsbPath(path) ? LinkKind::Libusb : LinkKind::DeviceDirectory;
}

const char* LinkKindName(LinkKind kind) {
#ifdef _WIN32
    // A path of the navigator driver's list (or of a stand-in list).
    return kind == LinkKind::Libusb ? "USB (libusb)" : "USB driver";
#else
    return kind == LinkKind::Libusb ? "USB (libusb)" : "device directory";
#endif
}

const char* LinkKindKey(LinkKind kind) {
    return kind == LinkKind::Libusb ? "libusb" : "directory";
}

ProbedDevice ProbeDevice(const std::string& path) {
    ProbedDevice device{path, ProbedMode::CannotOpen, {}, LinkKindOf(path), {}};
    SyncStream stream(path);
    if (!stream.Open()) {
        const UsbOpenFailure failure = LastUsbOpenFailure();
        if (failure.path == path) device.problem = failure.text;
        return device;
    }
    std::shared_ptr<FIFOStream> buffer = stream.GetReadBuffer();
    std::atomic<bool> running{true};
    // The reader moves what the link delivers into the buffer, as the window's reader does.
    std::thread reader(
        [&] { transport::RunReaderLoop(stream, *buffer, [&] { return running.load(); }); });
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
    Usb_Port port(settings);
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
    // An empty device location is the Windows driver's own list.
    std::string where =
        settings.deviceDir.empty() ? "the navigator driver's device list" : settings.deviceDir;
    if (!settings.usbIds.empty()) {
        where += " nor on USB (ids";
        for (const auto& id : settings.usbIds) where.append(" ").append(platform::FormatUsbId(id));
        where += ")";
    }
    // Appended, not `"..." + std::string`: GCC 12 misreads that as an overlapping copy.
    std::string hint = "no navigator found in ";
    hint.append(where).append("; is it plugged in? see README (\"Using a real navigator\")");
    return hint;
}

}  // namespace cli
