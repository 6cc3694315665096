// Usb_Port over both kinds of navigator: device-directory entries first, then USB navigators
// reached through libusb, in the same twelve slots; reads, writes and closing through the
// operations the rest of the program calls.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/usb_ids.h"
#include "support/pty_pair.h"
#include "support/scoped_device_dir.h"
#include "support/virtual_usb_navigator.h"
#include "transport/usb_link.h"

namespace {

using testsupport::VirtualUsbNavigator;
using testsupport::VirtualUsbOptions;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// VERSION_POLL, empty payload.
const Bytes kVersionPoll = {0xF1, 0xD9, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};

// One read through the port. A read still waiting after a few seconds fails the test, and
// closing the link ends it.
int32_t ReadWithin(Usb_Port& port, UsbHandle handle, Bytes& buffer) {
    auto read = std::async(std::launch::async, [&] {
        return port.Read_Usb(handle, buffer.data(), static_cast<int32_t>(buffer.size()));
    });
    if (read.wait_for(5s) != std::future_status::ready) {
        ADD_FAILURE() << "a USB read did not end";
        port.Close_Usb(handle);
    }
    return read.get();
}

std::vector<std::string> Paths(const usb_info& info) {
    std::vector<std::string> paths;
    for (int i = 0; i < info.count; ++i) paths.emplace_back(info.path[i]);
    return paths;
}

VirtualUsbOptions At(uint8_t address) {
    VirtualUsbOptions options;
    options.address = address;
    return options;
}

class UsbPortBothKinds : public ::testing::Test {
protected:
    static platform::Settings BothKinds(const ScopedDeviceDir& dir) {
        platform::Settings settings = dir.Settings();
        settings.usbIds = {{testsupport::kTestVendor, testsupport::kTestProduct}};
        return settings;
    }

    std::vector<std::string> Listed() {
        usb_info info{};
        port.Get_USBInfo(info);
        return Paths(info);
    }

    testsupport::UsbTestbed bed;
    ScopedDeviceDir dir;
    Usb_Port port{BothKinds(dir)};
};

TEST_F(UsbPortBothKinds, UsbNavigatorsFollowTheDirectoryInTheSlotsLeft) {
    PtyPair pty;
    auto second = std::make_unique<VirtualUsbNavigator>(bed, At(3));
    auto first = std::make_unique<VirtualUsbNavigator>(bed, At(2));
    EXPECT_EQ(Listed(), (std::vector<std::string>{"usb:001-002", "usb:001-003"}));

    std::vector<std::string> expected;
    for (int i = 0; i < 11; ++i) {
        std::string name = std::to_string(10 + i);
        name.insert(0, 1, 'n');
        expected.push_back(dir.Link(name, pty.SlavePath()));
    }
    expected.push_back("usb:001-002");
    EXPECT_EQ(Listed(), expected) << "twelve slots: the second USB navigator has no room";
    EXPECT_TRUE(port.Check_Device("usb:001-003")) << "the check is not limited to twelve";
    EXPECT_FALSE(port.Check_Device("USB:001-003"));
    EXPECT_FALSE(port.Check_Device("usb:001-004"));

    Usb_Port withoutIds{dir.Path()};
    usb_info info{};
    EXPECT_EQ(withoutIds.Get_USBInfo(info).count, 11) << "no ids configured, no USB navigators";
    EXPECT_FALSE(withoutIds.Check_Device("usb:001-002"));
}

TEST_F(UsbPortBothKinds, ReadWriteAndCloseThroughThePort) {
    VirtualUsbNavigator nav(bed, At(2));
    UsbHandle handle = port.Init_USB(nav.Path());
    ASSERT_TRUE(handle);
    const Bytes& poll = kVersionPoll;
    EXPECT_TRUE(port.Write_Usb(handle, poll.data(), static_cast<int32_t>(poll.size())));
    EXPECT_FALSE(port.Write_Usb(handle, poll.data(), 0));
    Bytes reply(256);
    int32_t n = 0;
    do {
        n = ReadWithin(port, handle, reply);
    } while (n == 0);
    EXPECT_EQ(n, 72);

    // A device that takes nothing: the write gives up at 2,000 ms and still reports true.
    nav.SetTakesOutput(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.Write_Usb(handle, poll.data(), static_cast<int32_t>(poll.size())));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    nav.SetTakesOutput(true);

    auto pending = std::async(std::launch::async, [&] {
        Bytes buffer(64);
        return port.Read_Usb(handle, buffer.data(), 64);
    });
    ASSERT_TRUE(nav.WaitForPendingIn(1, 5000));
    port.Close_Usb(handle);
    ASSERT_EQ(pending.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(pending.get(), 0);
    EXPECT_TRUE(UsbStopFlag());

    // Reopened: the stop flag is cleared; a stalled endpoint fails reads and says so.
    handle = port.Init_USB(nav.Path());
    ASSERT_TRUE(handle);
    EXPECT_FALSE(UsbStopFlag());
    Bytes buffer(64);
    nav.Halt(true);
    EXPECT_EQ(ReadWithin(port, handle, buffer), -1);
    EXPECT_TRUE(port.Stalled(handle));
    port.Close_Usb(handle);

    // Unplugged: reads fail instead of returning 0, and the device is gone, not stalled.
    handle = port.Init_USB(nav.Path());
    ASSERT_TRUE(handle);
    nav.Unplug();
    EXPECT_EQ(ReadWithin(port, handle, buffer), -1);
    EXPECT_FALSE(port.Stalled(handle));
    port.Close_Usb(handle);
}

TEST_F(UsbPortBothKinds, WhyAUsbOpenFailedIsKeptForTheUser) {
    VirtualUsbNavigator nav(bed, At(2));
    const std::string node = bed.Root() + nav.DevNode();
    ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    {
        testsupport::WithoutFileCapabilities unprivileged;
        EXPECT_FALSE(port.Init_USB(nav.Path()));
    }
    UsbOpenFailure failure = LastUsbOpenFailure();
    EXPECT_EQ(failure.path, "usb:001-002");
    EXPECT_TRUE(failure.noPermission);
    EXPECT_NE(failure.text.find("udev"), std::string::npos) << failure.text;

    VirtualUsbOptions options = At(3);
    options.vendor = 0x1234;  // not configured: never opened
    VirtualUsbNavigator other(bed, options);
    EXPECT_FALSE(port.Init_USB(other.Path()));
    failure = LastUsbOpenFailure();
    EXPECT_EQ(failure.path, "usb:001-003");
    EXPECT_FALSE(failure.noPermission);
}

TEST_F(UsbPortBothKinds, AStreamsOwnPortOpensOnlyWhatAnEnumerationListed) {
    VirtualUsbNavigator nav(bed, At(4));
    Usb_Port own;  // no directory, no ids
    EXPECT_FALSE(own.Init_USB(nav.Path())) << "not listed yet";
    EXPECT_EQ(Listed(), std::vector<std::string>{"usb:001-004"});
    UsbHandle handle = own.Init_USB(nav.Path());
    EXPECT_TRUE(handle);
    own.Close_Usb(handle);
}

}  // namespace
