#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_clock.h"
#include "support/pty_pair.h"
#include "support/scoped_device_dir.h"
#include "transport/device_dir.h"
#include "transport/usb_link.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::vector<std::string> Paths(const usb_info& info) {
    std::vector<std::string> paths;
    for (int i = 0; i < info.count; ++i) paths.emplace_back(info.path[i]);
    return paths;
}

bool SlotsBeyondCountAreZero(const usb_info& info) {
    for (int i = info.count; i < kUsbInfoSlots; ++i) {
        for (char c : info.path[i]) {
            if (c != 0) return false;
        }
    }
    return true;
}

class UsbEnumeration : public ::testing::Test {
protected:
    ScopedDeviceDir dir;
    Usb_Port port{dir.Path()};
};

TEST_F(UsbEnumeration, ListsCharacterDevicesInByteOrderAndSkipsEverythingElse) {
    PtyPair first, second, hidden;
    dir.Link("a", first.SlavePath());
    dir.Link("Z", second.SlavePath());  // byte order puts 'Z' before 'a', most locales not
    dir.Link("c", "/dev/null");
    dir.Link(".hidden", hidden.SlavePath());
    dir.Link("dangling", dir.Entry("missing"));
    std::ofstream(dir.Entry("file")) << "not a device";
    dir.Link("linkToFile", dir.Entry("file"));
    std::filesystem::create_directory(dir.Entry("subdir"));

    usb_info info;
    std::memset(&info, 0x5A, sizeof info);  // stale content must be cleared
    port.Get_USBInfo(info);
    EXPECT_EQ(Paths(info),
              (std::vector<std::string>{dir.Entry("Z"), dir.Entry("a"), dir.Entry("c")}));
    EXPECT_TRUE(SlotsBeyondCountAreZero(info));
}

TEST_F(UsbEnumeration, ReportsAtMostTwelveAndSkipsPathsOver127Bytes) {
    for (int i = 0; i < 14; ++i) {
        dir.Link(std::string("n").append(std::to_string(100 + i)), "/dev/null");
    }
    // Names starting with 'm' sort first: one path of exactly 127 bytes, one of 128.
    const size_t prefix = dir.Path().size() + 1;
    ASSERT_LT(prefix, 100u);
    dir.Link("m" + std::string(127 - prefix - 1, 'x'), "/dev/null");
    dir.Link("mm" + std::string(128 - prefix - 2, 'y'), "/dev/null");

    usb_info info;
    port.Get_USBInfo(info);
    ASSERT_EQ(info.count, 12);
    const auto paths = Paths(info);
    EXPECT_EQ(paths[0].size(), 127u);
    EXPECT_EQ(paths[1], dir.Entry("n100"));
    EXPECT_EQ(paths[11], dir.Entry("n110"));
    EXPECT_TRUE(port.Check_Device(dir.Entry("n113")));  // present beyond the twelve reported
}

TEST_F(UsbEnumeration, AbsentDirectoryGivesCountZero) {
    dir.Link("nav", "/dev/null");
    for (const std::string& where : {dir.Entry("nowhere"), std::string()}) {
        Usb_Port absent(where);
        usb_info info;
        std::memset(&info, 0x5A, sizeof info);
        absent.Get_USBInfo(info);
        EXPECT_EQ(info.count, 0) << where;
        EXPECT_TRUE(SlotsBeyondCountAreZero(info));
    }
    EXPECT_FALSE(port.Check_Device(dir.Entry("nowhere") + "/nav"));
}

TEST_F(UsbEnumeration, CheckDeviceIsExactAndCaseSensitive) {
    PtyPair pty;
    dir.Link("nav", pty.SlavePath());
    std::ofstream(dir.Entry("plain")) << "x";
    EXPECT_TRUE(port.Check_Device(dir.Entry("nav")));
    EXPECT_FALSE(port.Check_Device(dir.Entry("NAV")));
    EXPECT_FALSE(port.Check_Device(dir.Entry("nav/")));
    EXPECT_FALSE(port.Check_Device(dir.Entry("na")));
    EXPECT_FALSE(port.Check_Device(dir.Entry("plain")));
    EXPECT_FALSE(port.Check_Device(pty.SlavePath()));  // present, but not in the directory
}

class UsbLink : public ::testing::Test {
protected:
    void SetUp() override { path = dir.Link("nav0", pty.SlavePath()); }
    void TearDown() override {
        if (handle) port.Close_Usb(handle);
        ClearUsbStopFlag();
    }
    UsbHandle OpenLink() {
        handle = port.Init_USB(path);
        return handle;
    }

    ScopedDeviceDir dir;
    PtyPair pty;
    std::string path;
    Usb_Port port;
    UsbHandle handle;
};

TEST_F(UsbLink, SecondOpenFailsUntilTheFirstIsClosed) {
    ASSERT_TRUE(OpenLink());
    EXPECT_FALSE(port.Init_USB(path));
    EXPECT_FALSE(port.Init_USB(pty.SlavePath()));  // the same device under another name
    port.Close_Usb(handle);
    handle = {};
    EXPECT_TRUE(OpenLink());
}

TEST_F(UsbLink, SecondOpenFromAnotherProcessFails) {
    auto childOpens = [this] {
        pid_t pid = ::fork();
        if (pid == 0) {
            Usb_Port childPort;
            ::_exit(childPort.Init_USB(path) ? 1 : 0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 1;
    };
    ASSERT_TRUE(OpenLink());
    EXPECT_FALSE(childOpens());
    port.Close_Usb(handle);
    handle = {};
    EXPECT_TRUE(childOpens());
}

TEST_F(UsbLink, KilledHolderLeavesTheDeviceOpenableWithoutAnExclusiveFlag) {
    // Another open of the terminal (a serial console, a monitor) keeps its state alive.
    const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        Usb_Port childPort;
        const char opened = childPort.Init_USB(path) ? 'y' : 'n';
        (void)!::write(ready[1], &opened, 1);
        ::pause();  // killed while holding the link
        ::_exit(0);
    }
    ::close(ready[1]);
    char opened = 0;
    ASSERT_EQ(::read(ready[0], &opened, 1), 1);
    ::close(ready[0]);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_EQ(opened, 'y');
    // The terminal flag would survive the process and lock out every user but root.
    int exclusive = -1;
    EXPECT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(OpenLink());
    ::close(other);
}

TEST_F(UsbLink, OpenSetsRawModeKeepsPendingInputAndSendsNothing) {
    // Put the line into cooked mode first, as a fresh terminal would be.
    int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    tio.c_lflag |= ICANON | ECHO;
    tio.c_iflag |= ICRNL;
    ::tcsetattr(fd, TCSANOW, &tio);
    ::close(fd);
    ASSERT_TRUE(pty.Send("\x01y\n", 3));  // pending before the open: must survive it
    pty.ReceiveAll(50);                   // the cooked line's echo

    ASSERT_TRUE(OpenLink());
    EXPECT_FALSE(SendsOpenGreeting());
    // Raw 8-bit: CR is not translated, nothing waits for a line end, ^C is a byte, no echo.
    ASSERT_TRUE(pty.Send("a\rb\x03", 4));
    std::vector<uint8_t> got;
    uint8_t buf[64];
    while (got.size() < 7) {
        int32_t n = port.Read_Usb(handle, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.insert(got.end(), buf, buf + n);
    }
    EXPECT_EQ(got, (std::vector<uint8_t>{0x01, 'y', '\n', 'a', '\r', 'b', 0x03}));
    EXPECT_TRUE(pty.ReceiveAll(100).empty());  // no greeting, no echo
}

TEST_F(UsbLink, ReadWaitsForBytesAndReturnsAtMostTheRequestedCount) {
    ASSERT_TRUE(OpenLink());
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buf[4];
        return port.Read_Usb(handle, buf, sizeof buf);
    });
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ASSERT_TRUE(pty.Send("0123456789", 10));
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(reader.get(), 4);
    uint8_t rest[16];
    EXPECT_EQ(port.Read_Usb(handle, rest, sizeof rest), 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), 6), "456789");
}

TEST_F(UsbLink, CloseFromAnotherThreadEndsAPendingReadAtOnce) {
    ASSERT_TRUE(OpenLink());
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buf[64];
        return port.Read_Usb(handle, buf, sizeof buf);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    port.Close_Usb(handle);
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    EXPECT_LT(MsSince(start), 100);
    EXPECT_TRUE(UsbStopFlag());
    uint8_t buf[8];
    EXPECT_EQ(port.Read_Usb(handle, buf, sizeof buf), 0);  // the closed link stays closed
    handle = {};
    EXPECT_TRUE(OpenLink());  // descriptor, lock and exclusive mode were released
    EXPECT_FALSE(UsbStopFlag());
}

TEST_F(UsbLink, StopFlagEndsAPendingReadButLeavesTheLinkOpen) {
    ASSERT_TRUE(OpenLink());
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buf[64];
        return port.Read_Usb(handle, buf, sizeof buf);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetUsbStopFlag();
    ASSERT_EQ(reader.wait_for(std::chrono::milliseconds(500)), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    ClearUsbStopFlag();
    ASSERT_TRUE(pty.Send("ok", 2));
    uint8_t buf[8];
    EXPECT_EQ(port.Read_Usb(handle, buf, sizeof buf), 2);
}

TEST_F(UsbLink, VanishedDeviceFailsReadsAndEndsWrites) {
    ASSERT_TRUE(OpenLink());
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buf[64];
        return port.Read_Usb(handle, buf, sizeof buf);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    std::filesystem::remove(path);
    pty.CloseMaster();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_EQ(reader.get(), -1);
    EXPECT_LT(MsSince(start), 100);
    uint8_t buf[8];
    EXPECT_EQ(port.Read_Usb(handle, buf, sizeof buf), -1);  // again at once, never 0
    const std::vector<uint8_t> data(4096, 0x55);
    EXPECT_TRUE(port.Write_Usb(handle, data.data(), 4096));  // the outcome is not reported
    EXPECT_LT(MsSince(start), 500);
}

TEST_F(UsbLink, NullHandleAndEmptyWritesAreRefused) {
    uint8_t buf[8] = {1, 2, 3};
    EXPECT_EQ(port.Read_Usb(UsbHandle{}, buf, sizeof buf), -1);
    EXPECT_FALSE(port.Write_Usb(UsbHandle{}, buf, 3));
    ASSERT_TRUE(OpenLink());
    EXPECT_FALSE(port.Write_Usb(handle, buf, 0));
    EXPECT_TRUE(pty.ReceiveAll(50).empty());
    port.Dispose();
    EXPECT_EQ(port.Read_Usb(handle, buf, sizeof buf), -1);
    EXPECT_FALSE(port.Write_Usb(handle, buf, 3));
}

TEST_F(UsbLink, WriteDeliversEveryByte) {
    ASSERT_TRUE(OpenLink());
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    auto device = std::async(std::launch::async, [&] { return pty.Receive(data.size(), 3000); });
    EXPECT_TRUE(port.Write_Usb(handle, data.data(), static_cast<int32_t>(data.size())));
    EXPECT_EQ(device.get(), data);
}

TEST_F(UsbLink, CloseEndsAWriteThatWaitsForTheDevice) {
    ASSERT_TRUE(OpenLink());
    const std::vector<uint8_t> data(1 << 20, 0xA5);  // far more than the pty holds
    auto writer = std::async(std::launch::async, [&] {
        return port.Write_Usb(handle, data.data(), static_cast<int32_t>(data.size()));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    port.Close_Usb(handle);
    ASSERT_EQ(writer.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    EXPECT_TRUE(writer.get());
    EXPECT_LT(MsSince(start), 300);
}

TEST_F(UsbLink, WriteToAStalledDeviceGivesUpAfterTwoSeconds) {
    ASSERT_TRUE(OpenLink());
    testsupport::ScopedFastClock fast;
    const std::vector<uint8_t> data(1 << 20, 0x5A);
    const int64_t elapsed = testsupport::ElapsedTicks(fast.Clock(), [&] {
        EXPECT_TRUE(port.Write_Usb(handle, data.data(), static_cast<int32_t>(data.size())));
    });
    EXPECT_GE(elapsed, 1900);
    EXPECT_LT(elapsed, 4000);
    // What the device never took was dropped: it finds far less than was written.
    EXPECT_LT(pty.ReceiveAll(100).size(), data.size());
}

}  // namespace
