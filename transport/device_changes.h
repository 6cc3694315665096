#pragma once
// Every source of device changes on one callback, as the window needs them: entries of the
// device directory and udev events (DeviceWatcher), and libusb's hotplug callbacks for the
// configured USB navigators, which feed the same watcher so that a burst from both is reported
// once. Linux only (device_changes_posix.cpp).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/device_watcher.h"
#include "platform/usb_ids.h"
#include "transport/usb_bulk_link.h"

namespace transport {

class DeviceChanges {
public:
    DeviceChanges(std::string deviceDir, std::vector<platform::UsbId> usbIds,
                  std::function<void()> onChange, DeviceWatcher::Options options = {});
    ~DeviceChanges();
    DeviceChanges(const DeviceChanges&) = delete;
    DeviceChanges& operator=(const DeviceChanges&) = delete;

    // False when the watcher cannot start. Hotplug is best effort: without ids, or without
    // hotplug support in libusb, USB navigators are still found by each device check.
    bool Start();
    // Hotplug first, so that nothing notifies a stopped watcher; then the watcher. Idempotent.
    void Stop();

    bool UsbHotplugActive() const { return hotplugActive_; }
    // Changes reported so far.
    uint64_t Reports() const { return watcher_.Reports(); }

private:
    DeviceWatcher watcher_;
    BulkUsbHotplug hotplug_;
    bool hotplugActive_ = false;
};

}  // namespace transport
