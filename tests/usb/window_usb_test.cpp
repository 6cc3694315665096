// The window's logic with a USB navigator reached through libusb: the device check finds and
// queries it like any other, and one that this user may not open is named instead of ignored.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "app/main.h"
#include "support/main_test_peer.h"
#include "support/recording_view.h"
#include "support/scoped_device_dir.h"
#include "support/virtual_usb_navigator.h"

namespace {

using testsupport::VirtualUsbNavigator;

class WindowWithUsbNavigator : public ::testing::Test {
protected:
    platform::Settings Settings() const {
        platform::Settings settings = dir.Settings();
        settings.usbIds = {{testsupport::kTestVendor, testsupport::kTestProduct}};
        return settings;
    }

    testsupport::UsbTestbed bed;
    ScopedDeviceDir dir;
    RecordingView view;
};

TEST_F(WindowWithUsbNavigator, TheDeviceCheckConnectsAndAsksWhatItRuns) {
    testsupport::VirtualUsbOptions normal;
    normal.device.mode = sim::DeviceMode::Normal;
    VirtualUsbNavigator nav(bed, normal);
    Main main(view, Settings());
    EXPECT_TRUE(Peer(main).deviceExist());
    // The mode query's outcome arrives as a posted call.
    ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
    EXPECT_TRUE(Peer(main).FwType()) << "the normal firmware's version text was read over libusb";
    EXPECT_TRUE(nav.WaitForFrames(1, 1000));
    EXPECT_TRUE(view.Messages().empty());
}

TEST_F(WindowWithUsbNavigator, ANavigatorThisUserMayNotOpenIsNamedOnce) {
    VirtualUsbNavigator nav(bed, {});
    ASSERT_EQ(::chmod((bed.Root() + nav.DevNode()).c_str(), 0), 0);
    {
        testsupport::WithoutFileCapabilities unprivileged;
        Main main(view, Settings());
        main.CheckDeviceStatus();
        EXPECT_TRUE(Peer(main).deviceExist());
        EXPECT_FALSE(Peer(main).deviceCon());
    }
    const auto messages = view.Messages();
    ASSERT_EQ(messages.size(), 1u) << "told once, not at every device check";
    EXPECT_EQ(messages[0].icon, MessageIcon::Warning);
    EXPECT_NE(messages[0].text.find("usb:001-002"), std::string::npos) << messages[0].text;
    EXPECT_NE(messages[0].text.find("udev"), std::string::npos) << messages[0].text;
}

}  // namespace
