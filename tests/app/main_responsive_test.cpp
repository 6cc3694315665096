// The UI thread never waits on the device: mode queries run on the query thread and their
// outcome is applied later, and the window's idea of the device follows the device.
#include <cstdio>

#include "app_fixture.h"
#include "support/main_test_peer.h"

using sim::DeviceMode;

namespace {

struct Handler {
    const char* name;
    void (*run)(Main&);
    // Whether the firmware button goes off at once (the firmware click).
    bool disablesFirmwareButton;
};

const Handler kQueryingHandlers[] = {
    {"device check", [](Main& m) { m.CheckDeviceStatus(); }, false},
    {"firmware click", [](Main& m) { m.buttonFwDown_Click(); }, true},
};

}  // namespace

// A navigator that never answers: the handler returns while the clock stands still (a handler
// that waited for the reply would never return), the window may not close until the outcome is
// in, and a device check arriving meanwhile is kept for afterwards, once.
TEST_F(AppTest, ModeQueriesLeaveTheUiThreadAtOnce) {
    testsupport::FakeClock& clock = testsupport::KeptFakeClock(platform::SystemClock().Now());
    platform::ScopedClock use(clock);
    for (const Handler& h : kQueryingHandlers) {
        SCOPED_TRACE(h.name);
        sim::FaultConfig silent;
        silent.silentAfter = 0;
        StartSim(DeviceMode::Boot, silent);
        Main main(view_, dir_.Settings());
        FakeJobs(main);
        // Ends the query the constructor started: silence counts as "not in the boot loader".
        ASSERT_TRUE(view_.Pump([&] {
            clock.Advance(100);
            return !main.QueryRunning();
        }));
        Peer(main).FwType() = false;  // as if the last check had found the boot loader
        view_.SetButtonEnabled(JobButton::FwDown, true);
        view_.AnswerFileDialog("/data/update.ckfm");
        const int pollsBefore = VersionPolls();

        h.run(main);
        EXPECT_TRUE(main.QueryRunning());
        EXPECT_FALSE(main.CanClose());
        EXPECT_FALSE(Peer(main).FwType());
        EXPECT_EQ(Enabled(JobButton::FwDown), !h.disablesFirmwareButton);
        main.CheckDeviceStatus();
        main.CheckDeviceStatus();
        view_.RunPosted();
        EXPECT_TRUE(main.QueryRunning());

        ASSERT_TRUE(view_.Pump([&] {
            clock.Advance(100);
            return !main.QueryRunning();
        }));
        EXPECT_TRUE(main.CanClose());
        EXPECT_TRUE(Peer(main).FwType());
        EXPECT_FALSE(Enabled(JobButton::FwDown));
        // The handler's query and one for both checks that came while it ran.
        EXPECT_EQ(VersionPolls() - pollsBefore, 2);
        // Not in the boot loader: the firmware click opened no dialog and started nothing.
        EXPECT_TRUE(view_.FileRequests().empty());
        EXPECT_TRUE(StartedJobs().empty());
        // The reader sleeps on this clock: move it on until the closed link's reader has left.
        main.DisconnectRevDev();
        for (int i = 0; i < 1000 && CountReaderThreads() > 0; ++i) {
            clock.Advance(20);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// The firmware click asks the mode first, then the dialog opens; a point click that comes while
// the query runs is carried out after it, not lost.
TEST_F(AppTest, FirmwareClickOpensTheDialogOnceTheModeIsKnown) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    FakeJobs(main);
    GiveStandInPatch(main);
    view_.AnswerFileDialog(std::nullopt);
    main.buttonFwDown_Click();
    main.buttonUpdata_Click();
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    EXPECT_TRUE(view_.FileRequests().empty());
    EXPECT_FALSE(main.JobRunning());
    Settle(main);
    EXPECT_EQ(view_.FileRequests().size(), 1u);
    // Cancelled: the button comes back, since the device runs its boot loader.
    EXPECT_TRUE(Enabled(JobButton::FwDown));
    ASSERT_TRUE(main.WaitForJobEnd(5000));
    EXPECT_EQ(StartedJobs(), std::vector<JobButton>{JobButton::Updata});
}

// After a point import from the boot loader the navigator runs its normal firmware: the check
// that follows the job takes the firmware button away, and leaves the device closed.
TEST_F(AppTest, JobEndFollowsAResetIntoNormalFirmware) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_TRUE(Enabled(JobButton::FwDown));
    GiveStandInPatch(main);
    main.pointCsvPath = dir_.Path() + "-points.csv";
    main.buttonUpdata_Click();
    ASSERT_TRUE(main.WaitForJobEnd(30000));
    ASSERT_TRUE(view_.Pump([&] { return view_.JobsEnded() == 1; }));
    Settle(main);
    std::remove(main.pointCsvPath.c_str());
    ASSERT_TRUE(view_.Results().back().Done());
    EXPECT_TRUE(Peer(main).FwType());
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    EXPECT_TRUE(Enabled(JobButton::Updata));
    EXPECT_FALSE(Peer(main).deviceCon());
}

// A held link that fails asks for a device check by itself: a vanished navigator loses its
// buttons without any device-change notice.
TEST_F(AppTest, HeldLinkThatFailsChecksTheDevice) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Check(main);
    Check(main);
    ASSERT_TRUE(Peer(main).deviceCon());
    Unplug();
    EXPECT_TRUE(view_.Pump([&] { return !Enabled(JobButton::Updata); }, 1500));
    EXPECT_FALSE(Enabled(JobButton::KroDown));
    EXPECT_FALSE(Enabled(JobButton::FwDown));
    EXPECT_FALSE(Peer(main).deviceCon());
}

// A connection whose link died is replaced when connecting, not handed out again.
TEST_F(AppTest, ConnectReplacesADeadLink) {
    StartSim(DeviceMode::Boot);
    Main main(view_, dir_.Settings());
    Settle(main);
    ASSERT_TRUE(main.ConnectRefDev());
    const auto dead = Peer(main).refDevData();
    // Another navigator under the same name; the held link still leads to the old one.
    StartSim(DeviceMode::Boot);
    ASSERT_TRUE(ReaderThreadsBecome(0));
    ASSERT_TRUE(main.ConnectRefDev());
    EXPECT_NE(Peer(main).refDevData(), dead);
    EXPECT_FALSE(dead->readStream->IsOpen());
    EXPECT_TRUE(main.CheckUsbVersion());
}

// The longest time the UI thread is busy in one go during each click, with every posted call
// timed. Against a navigator that answers 200 ms late, a handler that waited for any reply would
// take that long.
TEST_F(AppTest, ClicksKeepTheUiThreadBusyOnlyBriefly) {
    struct Case {
        JobButton button;
        DeviceMode mode;
        uint32_t delayMs;
    };
    const Case cases[] = {{JobButton::FwDown, DeviceMode::Boot, 0},
                          {JobButton::FwDown, DeviceMode::Boot, 200},
                          {JobButton::Updata, DeviceMode::Boot, 200}};
    for (const Case& c : cases) {
        const std::string name = RecordingView::ButtonName(c.button);
        SCOPED_TRACE(name + " delay " + std::to_string(c.delayMs));
        sim::FaultConfig faults;
        faults.delayMs = c.delayMs;
        StartSim(c.mode, faults);
        RecordingView view;
        Main main(view, dir_.Settings());
        ASSERT_TRUE(view.Pump([&] { return !main.QueryRunning(); }));
        GiveStandInPatch(main);
        main.pointCsvPath = dir_.Path() + "-points.csv";
        view.AnswerFileDialog("/nonexistent.ckfm");  // the firmware job ends at the file
        view.Busy().Reset();
        view.Busy().Time("click", [&] {
            if (c.button == JobButton::FwDown) main.buttonFwDown_Click();
            if (c.button == JobButton::Updata) main.buttonUpdata_Click();
        });
        ASSERT_TRUE(view.Pump([&] { return view.JobsEnded() == 1 && !main.QueryRunning(); },
                              30000));
        std::printf("[ busy    ] %s against a navigator answering %u ms late: %.1f ms (%s)\n",
                    name.c_str(), c.delayMs, view.Busy().LongestMs(),
                    view.Busy().LongestWhat().c_str());
        if (c.delayMs > 0) {
            EXPECT_LT(view.Busy().LongestMs(), c.delayMs / 2.0);
        }
    }
    std::remove((dir_.Path() + "-points.csv").c_str());
}
