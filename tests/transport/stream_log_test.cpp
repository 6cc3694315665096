// The device stream's session-log hook and the stand-in link that replaces every device.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "transport/stand_in_link.h"
#include "transport/sync_stream.h"
#include "transport/usb_link.h"

namespace {

// Answers every write with its bytes reversed; fails its reads once told the device is gone.
class EchoLink : public transport::StandInLink,
                 public transport::StandInConnection,
                 public std::enable_shared_from_this<EchoLink> {
public:
    std::string Path() const override { return "stand-in/nav"; }
    bool Present() const override { return true; }
    std::shared_ptr<transport::StandInConnection> Connect() override { return shared_from_this(); }
    int32_t Read(uint8_t* buffer, int32_t length) override {
        if (gone) return -1;
        const int32_t n = std::min<int32_t>(length, static_cast<int32_t>(pending.size()));
        for (int32_t i = 0; i < n; ++i, pending.pop_front()) buffer[i] = pending.front();
        return n;
    }
    void Write(const uint8_t* bytes, int32_t count) override {
        for (int32_t i = count; i > 0; --i) pending.push_back(bytes[i - 1]);
    }
    void Close() override {}
    std::deque<uint8_t> pending;
    bool gone = false;
};

class EventLog : public StreamLog {
public:
    void Opened(const std::string& kind, const std::string& path) override {
        events.push_back("open " + kind + ": " + path);
    }
    void Received(const uint8_t* b, int32_t n) override {
        events.push_back("recv " + std::string(b, b + n));
    }
    void Sent(const uint8_t* b, int32_t n) override {
        events.push_back("sent " + std::string(b, b + n));
    }
    void ReadFailed() override { events.push_back("gone"); }
    void Closed() override { events.push_back("close"); }
    std::vector<std::string> events;
};

TEST(StreamLog, SeesBothDirectionsOfAStandInLinkThatReplacesEveryDevice) {
    auto link = std::make_shared<EchoLink>();
    transport::SetStandInLink(link);
    usb_info info{};
    Usb_Port("/nonexistent-device-dir").Get_USBInfo(info);
    ASSERT_EQ(info.count, 1);
    EXPECT_STREQ(info.path[0], "stand-in/nav");

    // A stream made before the log was set logs to it as well.
    SyncStream stream("stand-in/nav");
    auto log = std::make_shared<EventLog>();
    SyncStream::LogEveryStream(log);
    ASSERT_TRUE(stream.Open());
    auto buffer = stream.GetReadBuffer();
    stream.Write(std::string_view("abc"));
    EXPECT_EQ(stream.usbFillBuffer(buffer.get()), UsbFillStatus::Delivered);
    link->gone = true;
    EXPECT_EQ(stream.usbFillBuffer(buffer.get()), UsbFillStatus::Failed);
    stream.Close();
    SyncStream::LogEveryStream(nullptr);
    transport::SetStandInLink(nullptr);

    const std::vector<std::string> expected = {"open device directory: stand-in/nav", "sent abc",
                                               "recv cba", "gone", "close"};
    EXPECT_EQ(log->events, expected);
    uint8_t got[3] = {};
    EXPECT_EQ(buffer->Read(got, 0, 3), 3);
    EXPECT_EQ(std::string(got, got + 3), "cba");
}

}  // namespace
