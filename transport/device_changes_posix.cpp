#include "transport/device_changes.h"

namespace transport {

DeviceChanges::DeviceChanges(std::string deviceDir, std::vector<platform::UsbId> usbIds,
                             std::function<void()> onChange, DeviceWatcher::Options options)
    : watcher_(std::move(deviceDir), std::move(onChange), options),
      hotplug_(std::move(usbIds), [this] { watcher_.Notify(); }) {}

DeviceChanges::~DeviceChanges() {
    Stop();
}

bool DeviceChanges::Start() {
    if (!watcher_.Start()) return false;
    hotplugActive_ = hotplug_.Start();
    return true;
}

void DeviceChanges::Stop() {
    hotplug_.Stop();
    hotplugActive_ = false;
    watcher_.Stop();
}

}  // namespace transport
