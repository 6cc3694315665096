// Device detection: what a device check finds, which buttons it enables, and what happens to
// the connection and its reader thread.
#include "app/window_texts.h"
#include "app_fixture.h"
#include "support/main_test_peer.h"

using sim::DeviceMode;

TEST_F(AppTest, StartWithoutDeviceDisablesAllJobButtons) {
    Main main(view_, dir_.Settings());
    Settle(main);
    EXPECT_FALSE(Peer(main).deviceExist());
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_FALSE(Peer(main).FwType());
    EXPECT_EQ(view_.Button(JobButton::FwDown), false);
    EXPECT_EQ(view_.Button(JobButton::KroDown), false);
    EXPECT_EQ(view_.Button(JobButton::Updata), false);
    EXPECT_EQ(Peer(main).refDevData(), nullptr);
    EXPECT_EQ(view_.Title(), std::string(texts::kProductLine));
}

TEST_F(AppTest, StartInBootModeEnablesAllButtonsAndLeavesNoConnection) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    EXPECT_TRUE(Peer(main).deviceExist());
    EXPECT_FALSE(Peer(main).FwType());
    EXPECT_TRUE(Enabled(JobButton::FwDown));
    EXPECT_TRUE(Enabled(JobButton::KroDown));
    EXPECT_TRUE(Enabled(JobButton::Updata));
    // Probed once, then closed because the device had just appeared.
    EXPECT_EQ(VersionPolls(), 1);
    EXPECT_FALSE(Peer(main).deviceCon());
    ASSERT_NE(Peer(main).refDevData(), nullptr);
    EXPECT_EQ(Peer(main).refDevData()->ConName, sim_->DevicePath());
    EXPECT_FALSE(Peer(main).refDevData()->readStream->IsOpen());
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, StartInNormalModeDisablesOnlyTheFirmwareButton) {
    testsupport::ScopedFastClock fast;
    StartSim(DeviceMode::Normal);
    Main main(view_, dir_.Settings());
    Settle(main);
    EXPECT_TRUE(Peer(main).FwType());
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    EXPECT_TRUE(Enabled(JobButton::KroDown));
    EXPECT_TRUE(Enabled(JobButton::Updata));
    EXPECT_FALSE(Peer(main).deviceCon());
}

TEST_F(AppTest, DeviceThatCannotBeOpenedStillEnablesCourseAndPointButtons) {
    const std::string path = StartSim(DeviceMode::Normal);
    // Someone else holds the device: the exclusive open fails.
    Usb_Port other;
    UsbHandle held = other.Init_USB(path);
    ASSERT_TRUE(held);

    Main main(view_, dir_.Settings());
    Settle(main);
    EXPECT_TRUE(Peer(main).deviceExist());
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_EQ(Peer(main).refDevData(), nullptr);
    EXPECT_EQ(VersionPolls(), 0);
    EXPECT_TRUE(Enabled(JobButton::KroDown));
    EXPECT_TRUE(Enabled(JobButton::Updata));
    // No answer was had, so FwType keeps its initial false.
    EXPECT_FALSE(Peer(main).FwType());
    EXPECT_TRUE(Enabled(JobButton::FwDown));
    other.Close_Usb(held);
}

TEST_F(AppTest, FailedConnectionKeepsTheModeOfTheLastQuery) {
    testsupport::ScopedFastClock fast;
    const std::string path = StartSim(DeviceMode::Normal);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_TRUE(Peer(main).FwType());
    Usb_Port other;
    UsbHandle held = other.Init_USB(path);
    ASSERT_TRUE(held);
    Check(main);
    EXPECT_TRUE(Peer(main).FwType());
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    other.Close_Usb(held);
}

TEST_F(AppTest, ChangeWhileAttachedKeepsTheConnectionAndQueriesAgain) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_EQ(VersionPolls(), 1);

    Check(main);
    EXPECT_EQ(VersionPolls(), 2);
    EXPECT_TRUE(Peer(main).deviceCon());
    ASSERT_NE(Peer(main).refDevData(), nullptr);
    auto record = Peer(main).refDevData();
    // One reader: the first probe's has left.
    EXPECT_TRUE(ReaderThreadsBecome(1));

    // The open connection is reused, not rebuilt.
    Check(main);
    EXPECT_EQ(VersionPolls(), 3);
    EXPECT_EQ(Peer(main).refDevData(), record);
    EXPECT_TRUE(record->readStream->IsOpen());
    EXPECT_TRUE(Enabled(JobButton::FwDown));
}

TEST_F(AppTest, UnplugDisablesButtonsAndClosesTheConnection) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    Check(main);
    ASSERT_TRUE(Peer(main).deviceCon());
    auto record = Peer(main).refDevData();

    Unplug();
    // No query when the device is gone: the check is done when it returns.
    main.CheckDeviceStatus();
    EXPECT_FALSE(main.QueryRunning());
    EXPECT_FALSE(Peer(main).deviceExist());
    EXPECT_TRUE(Peer(main).deviceExistOld());
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    EXPECT_FALSE(Enabled(JobButton::KroDown));
    EXPECT_FALSE(Enabled(JobButton::Updata));
    EXPECT_FALSE(record->readStream->IsOpen());
    EXPECT_FALSE(record->usbDevThread);
    EXPECT_EQ(WaitForReaderThreads(0), 0);
}

TEST_F(AppTest, ReplugAfterUnplugProbesTheNewDevice) {
    testsupport::ScopedFastClock fast;
    StartSim(DeviceMode::Normal);
    Main main(view_, dir_.Settings());
    Settle(main);
    Unplug();
    Check(main);
    ASSERT_FALSE(Enabled(JobButton::KroDown));
    StartSim(DeviceMode::Boot);
    Check(main);
    EXPECT_FALSE(Peer(main).FwType());
    EXPECT_TRUE(Enabled(JobButton::FwDown));
    EXPECT_TRUE(Enabled(JobButton::KroDown));
    // Just appeared: probed and closed again.
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_EQ(VersionPolls(), 1);
}

TEST_F(AppTest, ConnectReusesAnOpenConnectionAndDisconnectKeepsTheRecord) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_TRUE(main.ConnectRefDev());
    auto first = Peer(main).refDevData();
    ASSERT_TRUE(main.ConnectRefDev());
    EXPECT_EQ(Peer(main).refDevData(), first);
    EXPECT_TRUE(main.DisconnectRevDev());
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_EQ(Peer(main).refDevData(), first);
    EXPECT_EQ(main.CurrentStream(), nullptr);
    // A new connection gets a new record, stream and buffer.
    ASSERT_TRUE(main.ConnectRefDev());
    EXPECT_NE(Peer(main).refDevData(), first);
    EXPECT_NE(Peer(main).refDevData()->stream, first->stream);
    EXPECT_TRUE(main.CheckUsbVersion());
}

TEST_F(AppTest, ConnectWithoutDeviceFails) {
    Main main(view_, dir_.Settings());
    Settle(main);
    EXPECT_FALSE(main.ConnectRefDev());
    EXPECT_FALSE(Peer(main).deviceCon());
    EXPECT_TRUE(main.DisconnectRevDev());
    // Queries without a connection fail at once instead of waiting for a reply.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(main.CheckUsbVersion());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(AppTest, ReaderThreadIsNamedAndEndsWithTheConnection) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_EQ(WaitForReaderThreads(0), 0);
    ASSERT_TRUE(main.ConnectRefDev());
    EXPECT_EQ(CountReaderThreads(), 1);
    EXPECT_TRUE(Peer(main).refDevData()->usbDevThread);
    EXPECT_TRUE(Peer(main).refDevData()->usbDevThread.IsAlive());
    main.DisconnectRevDev();
    EXPECT_EQ(WaitForReaderThreads(0), 0);
    EXPECT_FALSE(Peer(main).refDevData()->usbDevThread.IsAlive());
}

TEST_F(AppTest, DestroyingMainWithAnOpenConnectionLeavesNoReader) {
    StartSim(DeviceMode::Boot);
    {
        Main main(view_, dir_.Settings());
    Settle(main);
        ASSERT_TRUE(main.ConnectRefDev());
        ASSERT_TRUE(ReaderThreadsBecome(1));
        ASSERT_TRUE(Peer(main).refDevData()->usbDevThread.IsAlive());
    }
    EXPECT_TRUE(ReaderThreadsBecome(0, 200));
}

TEST_F(AppTest, QueriesAnswerPromptlyOverTheReaderThread) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_TRUE(main.ConnectRefDev());
    // Twenty round trips: the reader passes each reply on as it arrives.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(main.CheckUsbVersion()) << i;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}
