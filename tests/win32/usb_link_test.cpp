// The Windows USB link against a named pipe standing in for the navigator's driver: the real
// overlapped paths (greeting, blocking reads, bounded writes, close and stop) run unchanged.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "pipe_peer.h"
#include "transport/usb_link.h"

using testsupport::PipePeer;

namespace {

std::vector<uint8_t> Greeting() {
    if (!SendsOpenGreeting()) return {};
    return {kOpenGreeting.begin(), kOpenGreeting.end()};
}

// A link opened on a fresh peer, with the greeting (if any) already taken off the pipe.
struct OpenLink {
    PipePeer peer;
    Usb_Port port;
    UsbHandle handle;

    explicit OpenLink(DWORD bufferSize = 4096) : peer(bufferSize) {
        if (!peer.Valid()) return;
        handle = port.Init_USB(peer.Path());
        if (handle && peer.Accept()) {
            const auto greeting = Greeting();
            if (peer.Read(greeting.size(), 2000) != greeting) handle = UsbHandle{};
        }
    }
    ~OpenLink() { port.Close_Usb(handle); }
};

long long MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace

TEST(UsbLinkWin32, OnlyNtSixIsGreeted) {
    const struct {
        uint32_t platform;
        uint32_t major;
        bool greets;
    } cases[] = {{2, 6, true}, {2, 5, false}, {2, 10, false}, {1, 6, false}, {0, 6, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(GreetsOnWindowsVersion(c.platform, c.major), c.greets)
            << c.platform << "/" << c.major;
    }
}

TEST(UsbLinkWin32, GreetingGoesOutFirstAndAloneOnNtSix) {
    PipePeer peer;
    ASSERT_TRUE(peer.Valid());
    Usb_Port port;
    UsbHandle handle = port.Init_USB(peer.Path());
    ASSERT_TRUE(handle);
    ASSERT_TRUE(peer.Accept());
    const uint8_t frame[] = {0xF1, 0xD9, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};
    ASSERT_TRUE(port.Write_Usb(handle, frame, sizeof frame));
    std::vector<uint8_t> expected = Greeting();
    expected.insert(expected.end(), std::begin(frame), std::end(frame));
    EXPECT_EQ(peer.Read(expected.size() + 1, 500), expected);
    port.Close_Usb(handle);
}

// The open does not wait for its greeting; a device that never takes it must not hold up the
// close, which cancels the write and waits for that before the greeting's buffer goes.
TEST(UsbLinkWin32, CloseCancelsAGreetingTheDeviceNeverTook) {
    if (!SendsOpenGreeting()) GTEST_SKIP() << "no greeting on this Windows version";
    PipePeer peer(1);
    ASSERT_TRUE(peer.Valid());
    Usb_Port port;
    UsbHandle handle = port.Init_USB(peer.Path());
    ASSERT_TRUE(handle);
    auto closed = std::async(std::launch::async, [&] { port.Close_Usb(handle); });
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(3)), std::future_status::ready);
}

TEST(UsbLinkWin32, ReadWaitsForTheDeviceAndReturnsWhatItSent) {
    OpenLink link;
    ASSERT_TRUE(link.handle);
    auto reply = std::async(std::launch::async, [&] {
        std::vector<uint8_t> buf(64);
        const int32_t n = link.port.Read_Usb(link.handle, buf.data(), 64);
        buf.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return std::make_pair(n, buf);
    });
    EXPECT_EQ(reply.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ASSERT_TRUE(link.peer.Write({1, 2, 3, 4, 5}));
    ASSERT_EQ(reply.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto [n, bytes] = reply.get();
    EXPECT_EQ(n, 5);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

// A pending read ends at once, with 0 bytes, when the link closes or the stop flag is set;
// when the device vanishes it fails instead, so a reader never loops on a dead device.
TEST(UsbLinkWin32, PendingReadEndsOnCloseStopOrVanishedDevice) {
    enum class End { Close, StopFlag, Vanish };
    const struct {
        End end;
        int32_t result;
    } cases[] = {{End::Close, 0}, {End::StopFlag, 0}, {End::Vanish, -1}};
    for (const auto& c : cases) {
        OpenLink link;
        ASSERT_TRUE(link.handle);
        auto read = std::async(std::launch::async, [&] {
            uint8_t buf[16];
            return link.port.Read_Usb(link.handle, buf, sizeof buf);
        });
        ASSERT_EQ(read.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        const auto start = std::chrono::steady_clock::now();
        switch (c.end) {
            case End::Close:
                link.port.Close_Usb(link.handle);
                break;
            case End::StopFlag:
                SetUsbStopFlag();
                break;
            case End::Vanish:
                link.peer.Vanish();
                break;
        }
        ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(read.get(), c.result) << static_cast<int>(c.end);
        EXPECT_LT(MsSince(start), 1000) << static_cast<int>(c.end);
        ClearUsbStopFlag();
    }
}

TEST(UsbLinkWin32, WriteToAStalledDeviceGivesUpAfterTwoSeconds) {
    OpenLink link(512);
    ASSERT_TRUE(link.handle);
    const std::vector<uint8_t> data(4 * 1024 * 1024, 0x55);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(link.port.Write_Usb(link.handle, data.data(), static_cast<int32_t>(data.size())));
    const auto spent = MsSince(start);
    EXPECT_GE(spent, 1900);
    EXPECT_LT(spent, 6000);
}

TEST(UsbLinkWin32, NullHandleAndEmptyWritesAreRefused) {
    Usb_Port port;
    uint8_t buf[4] = {};
    EXPECT_EQ(port.Read_Usb(UsbHandle{}, buf, 4), -1);
    EXPECT_FALSE(port.Write_Usb(UsbHandle{}, buf, 4));
    OpenLink link;
    ASSERT_TRUE(link.handle);
    EXPECT_FALSE(link.port.Write_Usb(link.handle, buf, 0));
    EXPECT_TRUE(link.peer.Read(1, 200).empty());
}

TEST(UsbLinkWin32, OpenIsExclusiveAndFailsForAbsentPaths) {
    const auto file = std::filesystem::temp_directory_path() /
                      ("caddora-excl-" + std::to_string(GetCurrentProcessId()));
    std::ofstream(file) << "x";
    Usb_Port port;
    UsbHandle first = port.Init_USB(file.string());
    ASSERT_TRUE(first);
    EXPECT_FALSE(port.Init_USB(file.string()));
    EXPECT_FALSE(port.Init_USB("\\\\.\\no-such-device-caddora"));
    EXPECT_FALSE(port.Init_USB(std::string(128, 'x')));
    port.Close_Usb(first);
    UsbHandle again = port.Init_USB(file.string());
    EXPECT_TRUE(again);
    port.Close_Usb(again);
    std::filesystem::remove(file);
}

TEST(UsbLinkWin32, OverrideListsAtMostTwelvePathsThatFit) {
    std::string list;
    for (int i = 1; i <= 14; ++i) list += "\\\\.\\COM" + std::to_string(i) + ";";
    list = std::string(128, 'p') + ";" + list;
    Usb_Port port(list);
    usb_info info;
    std::memset(&info, 0xAB, sizeof info);
    port.Get_USBInfo(info);
    EXPECT_EQ(info.count, 12);
    EXPECT_STREQ(info.path[0], "\\\\.\\COM1");
    EXPECT_STREQ(info.path[11], "\\\\.\\COM12");
    EXPECT_TRUE(port.Check_Device("\\\\.\\COM14"));
    EXPECT_FALSE(port.Check_Device("\\\\.\\com1"));

    Usb_Port one("\\\\.\\COM8");
    one.Get_USBInfo(info);
    EXPECT_EQ(info.count, 1);
    for (int slot = 1; slot < kUsbInfoSlots; ++slot) {
        for (char c : info.path[slot]) ASSERT_EQ(c, 0) << slot;
    }
}
