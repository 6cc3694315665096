#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "transport/serial_link.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(SerialSettings, ModeTextFollowsTheLineParameters) {
    EXPECT_EQ(ComModeText(115200, 0, 8, 1), "baud=115200 parity=N data=8 stop=1");
    EXPECT_EQ(ComModeText(9600, 1, 7, 2), "baud=9600 parity=O data=7 stop=2");
    EXPECT_EQ(ComModeText(4800, 2, 8, 0), "baud=4800 parity=E data=8 stop=1");
    EXPECT_EQ(ComModeText(4800, 7, 8, 1), "baud=4800 parity=? data=8 stop=1");
}

TEST(SerialSettings, SpeedsMapToTermiosConstants) {
    EXPECT_EQ(ComSpeedConstant(1200), B1200);
    EXPECT_EQ(ComSpeedConstant(115200), B115200);
    EXPECT_EQ(ComSpeedConstant(460800), B460800);
    EXPECT_FALSE(ComSpeedConstant(12345));
    EXPECT_FALSE(ComSpeedConstant(0));
}

class SerialLink : public ::testing::Test {
protected:
    void TearDown() override {
        if (handle) port.Close_Com(handle);
    }
    // The line settings as another opener of the device sees them.
    termios LineSettings() {
        termios tio{};
        int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        ::tcgetattr(fd, &tio);
        ::close(fd);
        return tio;
    }
    speed_t LineSpeed() {
        termios tio = LineSettings();
        return ::cfgetospeed(&tio);
    }
    int32_t ReadAll(std::string& into) {
        uint8_t buf[256];
        int32_t n = port.ReadFrom_Com(handle, buf, sizeof buf);
        if (n > 0) into.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        return n;
    }
    // Polls the port (reads never wait) until `want` bytes arrived or a second passed.
    std::string ReadUntil(size_t want) {
        std::string got;
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (got.size() < want && Clock::now() < deadline) {
            if (ReadAll(got) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return got;
    }

    PtyPair pty;
    Com_Port port;
    ComHandle handle;
};

TEST_F(SerialLink, OpenConfiguresEightNoneOneRawWithoutFlowControl) {
    handle = port.Open_Com(pty.SlavePath(), 115200);
    ASSERT_TRUE(handle);
    termios tio = LineSettings();
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);

    test_info info{true, true, true, true};
    port.GetTest_Com(info, handle);
    EXPECT_FALSE(info.RtsControl);
    EXPECT_FALSE(info.CtsFlow);
    EXPECT_FALSE(info.DsrFlow);
    EXPECT_TRUE(info.DtrControl);
}

TEST_F(SerialLink, SecondOpenOfTheSamePortFails) {
    handle = port.Open_Com(pty.SlavePath(), 9600);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(port.Open_Com(pty.SlavePath(), 9600));
    port.Close_Com(handle);
    handle = port.Open_Com(pty.SlavePath(), 9600);
    EXPECT_TRUE(handle);
    EXPECT_FALSE(port.Open_Com("no-such-port-here", 9600));
}

TEST_F(SerialLink, ReadsNeverWait) {
    handle = port.Open_Com(pty.SlavePath(), 115200);
    ASSERT_TRUE(handle);
    uint8_t buf[16];
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadFrom_Com(handle, buf, sizeof buf), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
    ASSERT_TRUE(pty.Send("hello", 5));
    EXPECT_EQ(ReadUntil(5), "hello");
}

TEST_F(SerialLink, WritePurgesWhatArrivedBeforeIt) {
    handle = port.Open_Com(pty.SlavePath(), 115200);
    ASSERT_TRUE(handle);
    ASSERT_TRUE(pty.Send("stale", 5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it reach the port
    EXPECT_TRUE(port.WriteTo_Com(handle, reinterpret_cast<const uint8_t*>("cmd"), 3));
    const auto sent = pty.Receive(3, 1000);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "cmd");
    std::string got;
    EXPECT_EQ(ReadAll(got), 0);
    ASSERT_TRUE(pty.Send("answer", 6));
    EXPECT_EQ(ReadUntil(6), "answer");
}

TEST_F(SerialLink, UnsupportedSpeedLeavesThePortOpenWithItsSettings) {
    const speed_t before = LineSpeed();
    ASSERT_NE(before, static_cast<speed_t>(B57600));
    handle = port.Open_Com(pty.SlavePath(), 12345);
    ASSERT_TRUE(handle);
    EXPECT_EQ(LineSpeed(), before);
    port.Set_Com(handle, 57600);
    EXPECT_EQ(LineSpeed(), static_cast<speed_t>(B57600));
    EXPECT_FALSE(port.dllHandle->ComSetUart(handle, 1234, 8, 0, 1));
    EXPECT_FALSE(port.dllHandle->ComSetUart(handle, 9600, 9, 0, 1));
    EXPECT_FALSE(port.dllHandle->ComSetUart(handle, 9600, 8, 5, 1));
    EXPECT_EQ(LineSpeed(), static_cast<speed_t>(B57600));
    EXPECT_TRUE(port.dllHandle->ComSetUart(handle, 9600, 7, 2, 2));
    termios tio = LineSettings();
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    // A pty always keeps 8 bits without parity; the stop bits show the settings were applied.
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
}

TEST_F(SerialLink, ControlLinesReportTheirConfiguration) {
    handle = port.Open_Com(pty.SlavePath(), 115200);
    ASSERT_TRUE(handle);
    test_info info{};
    port.SetTest_Com(handle, false, true);
    port.GetTest_Com(info, handle);
    EXPECT_FALSE(info.DtrControl);
    EXPECT_TRUE(info.RtsControl);
    port.SetTest_Com(handle, true, false);
    port.GetTest_Com(info, handle);
    EXPECT_TRUE(info.DtrControl);
    EXPECT_FALSE(info.RtsControl);
}

TEST_F(SerialLink, HangUpFailsReadsAndWrites) {
    handle = port.Open_Com(pty.SlavePath(), 115200);
    ASSERT_TRUE(handle);
    pty.CloseMaster();
    uint8_t buf[8] = {};
    EXPECT_EQ(port.ReadFrom_Com(handle, buf, sizeof buf), -1);
    const auto start = Clock::now();
    EXPECT_FALSE(port.WriteTo_Com(handle, buf, sizeof buf));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(SerialLink, CloseEndsAWriteWaitingForRoom) {
    handle = port.Open_Com(pty.SlavePath(), 115200);
    ASSERT_TRUE(handle);
    const std::vector<uint8_t> data(1 << 20, 0x33);  // allowed about 17 minutes
    auto writer = std::async(std::launch::async, [&] {
        return port.WriteTo_Com(handle, data.data(), static_cast<int32_t>(data.size()));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.Close_Com(handle);
    ASSERT_EQ(writer.wait_for(std::chrono::milliseconds(500)), std::future_status::ready);
    EXPECT_FALSE(writer.get());  // not everything was taken
    uint8_t buf[4];
    EXPECT_EQ(port.ReadFrom_Com(handle, buf, sizeof buf), -1);
    handle = {};
}

TEST_F(SerialLink, NullHandleAndDisposedPortDoNothing) {
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(port.ReadFrom_Com(ComHandle{}, buf, sizeof buf), -1);
    EXPECT_FALSE(port.WriteTo_Com(ComHandle{}, buf, sizeof buf));
    test_info info{true, true, true, true};
    port.GetTest_Com(info, ComHandle{});
    EXPECT_FALSE(info.DtrControl || info.DsrFlow || info.RtsControl || info.CtsFlow);
    port.Close_Com(ComHandle{});
    port.Dispose();
    EXPECT_FALSE(port.Open_Com(pty.SlavePath(), 9600));
}

}  // namespace
