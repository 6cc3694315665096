// The firmware transfer by YMODEM through the window logic in-process: Main on a recording
// view against the virtual navigator, and the progress poller on its own.
#include <gtest/gtest.h>

#include <thread>

#include "app/main.h"
#include "sim/pty_server.h"
#include "sim/ymodem_receiver.h"
#include "support/fake_clock.h"
#include "support/main_test_peer.h"
#include "support/recording_view.h"
#include "support/scoped_device_dir.h"
#include "transfer/ymodem_test_support.h"

using namespace ymodem_test;

namespace {

class YmodemWindow : public ::testing::Test {
protected:
    // Starts the navigator; with `receiver` false nothing answers after CFG_FWUP.
    void StartDevice(bool receiver = true) {
        sim::SimConfig config;
        config.deviceDir = devices.Path();
        if (receiver) config.receiverFactory = sim::MakeYmodemReceiverFactory(store);
        server = std::make_unique<sim::SimServer>(std::move(config));
        server->Start();
    }

    // The progress values the view was given, in order.
    std::vector<int32_t> ProgressValues() const {
        std::vector<int32_t> values;
        for (const auto& line : view.Log()) {
            if (line.rfind("value:", 0) == 0) values.push_back(std::stoi(line.substr(6)));
        }
        return values;
    }

    ScopedDeviceDir devices;
    TempDir files;
    std::shared_ptr<sim::YmodemStore> store = std::make_shared<sim::YmodemStore>();
    std::unique_ptr<sim::SimServer> server;
    RecordingView view;
};

}  // namespace

TEST_F(YmodemWindow, TransferShowsProgressAndLeavesTheWindowEnabled) {
    StartDevice();
    const Bytes payload = RandomBytes(200 * 1024 + 5, 51);
    WriteFile(files / "fw.ckfm", PackedFile(payload));
    Main main(view, devices.Settings());
    // The first device check's mode query.
    ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
    view.ClearLog();
    ASSERT_TRUE(main.StartYmodemTransfer(files / "fw.ckfm"));
    ASSERT_TRUE(view.Pump([&] { return view.JobsEnded() == 1 && !main.QueryRunning(); }, 60000));

    ASSERT_EQ(store->Files().size(), 1u);
    EXPECT_EQ(store->Files()[0].content, payload);
    EXPECT_EQ(store->Files()[0].name, "fw.ckfm");
    EXPECT_TRUE(view.Messages().empty()) << view.Messages()[0].text;

    const auto values = ProgressValues();
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_LE(values.back(), static_cast<int32_t>(payload.size()));
    EXPECT_EQ(view.ProgressMax(), static_cast<int32_t>(payload.size()));
    EXPECT_EQ(view.Tabs(), std::optional<bool>(true));
    EXPECT_EQ(view.BarVisible(), std::optional<bool>(false));

    ASSERT_TRUE(Peer(main).sendModem());
    EXPECT_TRUE(Peer(main).sendModem()->finished);
    EXPECT_EQ(Peer(main).sendModem()->bytesLeft, 0);
    EXPECT_FALSE(Peer(main).ModemTrd().joinable());
    EXPECT_FALSE(Peer(main).deviceCon());
}

TEST_F(YmodemWindow, DeviceThatNeverAsksForTheFileShowsTheError) {
    // The 5 s wait for the receiver's first request, on a clock five times faster.
    testsupport::ScopedFastClock fast(5);
    StartDevice(false);
    WriteFile(files / "fw.ckfm", PackedFile(RandomBytes(3000, 52)));
    Main main(view, devices.Settings());
    // The first device check's mode query.
    ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
    const int64_t ms = testsupport::ElapsedTicks(fast.Clock(), [&] {
        ASSERT_TRUE(main.StartYmodemTransfer(files / "fw.ckfm"));
        ASSERT_TRUE(
            view.Pump([&] { return view.JobsEnded() == 1 && !main.QueryRunning(); }, 30000));
    });
    EXPECT_GE(ms, 4900);
    EXPECT_LT(ms, 20000);
    ASSERT_EQ(view.Messages().size(), 1u);
    EXPECT_EQ(view.Messages()[0].text, "Error!");
    EXPECT_EQ(view.Messages()[0].caption, "Error");
    EXPECT_TRUE(server->YmodemRequested());
    EXPECT_FALSE(Peer(main).ModemTrd().joinable());
}

TEST_F(YmodemWindow, NoDeviceStartsNothing) {
    Main main(view, devices.Settings());
    // The first device check's mode query.
    ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
    WriteFile(files / "fw.ckfm", PackedFile(RandomBytes(10, 53)));
    EXPECT_FALSE(main.StartYmodemTransfer(files / "fw.ckfm"));
    EXPECT_FALSE(main.JobRunning());
}

TEST_F(YmodemWindow, PollerPostsNothingForAFinishedRecord) {
    Main main(view, devices.Settings());
    // The first device check's mode query.
    ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
    Peer(main).sendModem() = std::make_shared<transfer::Ymodem>();
    Peer(main).sendModem()->finished = true;
    main.readSendModem();
    EXPECT_EQ(view.PendingPosts(), 0u);
}

TEST_F(YmodemWindow, PollerPostsZeroOutsideTheRangeAndTheSentBytesInside) {
    Main main(view, devices.Settings());
    // The first device check's mode query.
    ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
    view.ClearLog();
    auto record = std::make_shared<transfer::Ymodem>();
    Peer(main).sendModem() = record;
    std::thread poller([&] { main.readSendModem(); });
    // Before the transfer starts both fields are -1: the poller shows 0.
    ASSERT_TRUE(view.WaitForForeignPosts(2));
    record->fileSize = 5000;
    record->bytesLeft = 1200;
    ASSERT_TRUE(view.Pump([&] {
        const auto v = ProgressValues();
        return !v.empty() && v.back() == 3800;
    }));
    record->bytesLeft = 6000;  // would make the sent count negative
    ASSERT_TRUE(view.Pump([&] { return ProgressValues().back() == 0; }));
    record->finished = true;
    poller.join();
    view.RunPosted();
    const auto values = ProgressValues();
    EXPECT_EQ(values.front(), 0);
    EXPECT_EQ(view.ProgressMax(), 5000);
}
