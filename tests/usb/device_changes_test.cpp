// The window's sources of device changes: a USB navigator with a configured id coming and going
// reaches the same callback as the device directory's entries, through the watcher.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/pty_pair.h"
#include "support/scoped_device_dir.h"
#include "support/virtual_usb_navigator.h"
#include "transport/device_changes.h"

namespace {

using namespace std::chrono_literals;

class DeviceChangesTest : public ::testing::Test {
protected:
    std::unique_ptr<transport::DeviceChanges> Changes(std::vector<platform::UsbId> ids) {
        DeviceWatcher::Options options;
        options.useUdev = false;  // only the directory and libusb speak here
        options.coalesceMs = 20;
        return std::make_unique<transport::DeviceChanges>(
            dir.Path(), std::move(ids),
            [this] {
                std::lock_guard<std::mutex> lock(mut);
                ++calls;
                cv.notify_all();
            },
            options);
    }
    // Hotplug arrivals take about a second through the emulation.
    bool WaitForCalls(int count) {
        std::unique_lock<std::mutex> lock(mut);
        return cv.wait_for(lock, 10s, [&] { return calls >= count; });
    }

    testsupport::UsbTestbed bed;
    ScopedDeviceDir dir;
    std::mutex mut;
    std::condition_variable cv;
    int calls = 0;
};

TEST_F(DeviceChangesTest, UsbNavigatorsComingAndGoingAskForADeviceCheck) {
    auto changes = Changes({{testsupport::kTestVendor, testsupport::kTestProduct}});
    ASSERT_TRUE(changes->Start());
    ASSERT_TRUE(changes->UsbHotplugActive());
    testsupport::VirtualUsbOptions later;
    later.plugged = false;
    testsupport::VirtualUsbNavigator nav(bed, later);
    nav.Plug();
    ASSERT_TRUE(WaitForCalls(1)) << "arrival";
    nav.Unplug();
    ASSERT_TRUE(WaitForCalls(2)) << "departure";
    // The directory still reports through the same callback.
    PtyPair pty;
    dir.Link("navigator0", pty.SlavePath());
    EXPECT_TRUE(WaitForCalls(3)) << "directory entry";
}

TEST_F(DeviceChangesTest, WithoutIdsNoUsbHotplugIsWatched) {
    auto changes = Changes({});
    ASSERT_TRUE(changes->Start());
    EXPECT_FALSE(changes->UsbHotplugActive());
}

}  // namespace
